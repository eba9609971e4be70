#include "outbox.h"

#include <QDir>
#include <QSaveFile>
#include <QtEndian>
#include <algorithm>

namespace diagnostika::publish {
namespace {

constexpr std::int64_t segmentBytes = 1024 * 1024;
constexpr int headerBytes = 4 + 8 + 2 + 2;
const QString markName = QStringLiteral("odoslane");

QString segmentName(std::int64_t first)
{
    return QStringLiteral("%1.seg").arg(first, 20, 10, QLatin1Char('0'));
}

QByteArray record(std::uint64_t sequence, const Message& m)
{
    QByteArray r(headerBytes, Qt::Uninitialized);
    const auto length = static_cast<quint32>(headerBytes - 4 + m.topic.size() + m.payload.size());
    QByteArray body = m.topic + m.payload;
    qToLittleEndian<quint32>(length, r.data());
    qToLittleEndian<quint64>(sequence, r.data() + 4);
    qToLittleEndian<quint16>(qChecksum(body), r.data() + 12);
    qToLittleEndian<quint16>(static_cast<quint16>(m.topic.size()), r.data() + 14);
    return r + body;
}

} // namespace

Outbox::~Outbox()
{
    close();
}

bool Outbox::open(const QString& folder, std::int64_t limitBytes, QString* error)
{
    close();
    entries_.clear();
    segments_.clear();
    first_ = bytes_ = dropped_ = 0;
    limit_ = limitBytes;
    folder_.clear();
    const QDir dir(folder);
    if (!QDir().mkpath(folder)) {
        if (error)
            *error = QStringLiteral("priečinok %1 sa nedá vytvoriť")
                         .arg(QDir::toNativeSeparators(folder));
        return false;
    }
    std::int64_t mark = 0;
    {
        QFile f(dir.filePath(markName));
        if (f.open(QIODevice::ReadOnly)) {
            const QList<QByteArray> parts = f.readAll().simplified().split(' ');
            mark = parts.value(0).toLongLong();
            nextSequence_ = std::max<std::uint64_t>(1, parts.value(1).toULongLong());
        }
    }
    // What the last run left: every whole record at or past the mark, in order.
    QStringList old = dir.entryList({QStringLiteral("*.seg")}, QDir::Files, QDir::Name);
    std::int64_t nextFree = mark;
    for (const QString& name : old) {
        const std::int64_t start = name.chopped(4).toLongLong();
        QFile f(dir.filePath(name));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QByteArray data = f.readAll();
        std::int64_t index = start;
        for (qsizetype at = 0; at + headerBytes <= data.size(); ++index) {
            const auto length = qFromLittleEndian<quint32>(data.constData() + at);
            const auto topicLength = qFromLittleEndian<quint16>(data.constData() + at + 14);
            if (length < headerBytes - 4 || at + 4 + qsizetype(length) > data.size() ||
                topicLength > length - (headerBytes - 4))
                break;
            const QByteArray body = data.mid(at + headerBytes, length - (headerBytes - 4));
            if (qChecksum(body) != qFromLittleEndian<quint16>(data.constData() + at + 12))
                break;
            const auto sequence = qFromLittleEndian<quint64>(data.constData() + at + 4);
            nextSequence_ = std::max<std::uint64_t>(nextSequence_, sequence + 1);
            if (index >= mark) {
                Entry e{sequence, {body.left(topicLength), body.mid(topicLength)}, false};
                bytes_ += size(e.message);
                entries_.push_back(std::move(e));
            }
            at += 4 + length;
        }
        nextFree = std::max(nextFree, index);
    }
    // Rewritten into one fresh segment past every old index, then the mark moved past the old
    // ones, then the old files removed: a crash at any step leaves each message at least once.
    folder_ = folder;
    first_ = nextFree;
    QString reason;
    bool written = startSegment(&reason, true);
    for (const Entry& e : entries_) {
        if (written)
            written = current_->write(record(e.sequence, e.message)) >= 0;
    }
    written = written && current_->flush();
    // Only once the fresh copy is whole: the mark past the old files would otherwise lose them.
    markWritten_ = written ? -1 : first_;
    writeMark();
    if (written) {
        for (const QString& name : old) {
            if (name != segmentName(first_))
                QFile::remove(dir.filePath(name));
        }
    }
    while (bytes_ > limit_ && !entries_.empty()) {
        popFront();
        ++dropped_;
    }
    if (!written) {
        if (error)
            *error = current_ ? current_->errorString() : reason;
        return false;
    }
    return true;
}

void Outbox::close()
{
    if (folder_.isEmpty())
        return;
    writeMark();
    current_.reset();
}

bool Outbox::startSegment(QString* error, bool fresh)
{
    // The fresh segment at opening takes every message held; a later one starts past them.
    const std::int64_t start = fresh ? first_ : end();
    current_ = std::make_unique<QFile>(QDir(folder_).filePath(segmentName(start)));
    // A fresh segment may share its name with a file of no whole record (torn at its first): that
    // is emptied, never appended to.
    if (!current_->open(QIODevice::WriteOnly | (fresh ? QIODevice::Truncate : QIODevice::Append))) {
        if (error)
            *error = current_->errorString();
        current_.reset();
        return false;
    }
    currentSize_ = current_->size();
    segments_.push_back(start);
    return true;
}

bool Outbox::append(std::uint64_t sequence, const std::vector<Message>& messages, QString* error)
{
    bool written = true;
    if (!folder_.isEmpty()) {
        if (!current_ || currentSize_ > segmentBytes)
            written = startSegment(error);
        if (written) {
            QByteArray records;
            for (const Message& m : messages)
                records += record(sequence, m);
            written = current_->write(records) == records.size() && current_->flush();
            currentSize_ += records.size();
            if (!written && error)
                *error = current_->errorString();
        }
    }
    for (const Message& m : messages) {
        bytes_ += size(m);
        entries_.push_back({sequence, m, false});
    }
    nextSequence_ = std::max<std::uint64_t>(nextSequence_, sequence + 1);
    while (bytes_ > limit_ && entries_.size() > messages.size()) {
        popFront();
        ++dropped_;
    }
    return written;
}

void Outbox::acknowledge(std::int64_t index)
{
    if (index < first_ || index >= end())
        return;
    entries_[index - first_].acknowledged = true;
    while (!entries_.empty() && entries_.front().acknowledged)
        popFront();
}

void Outbox::popFront()
{
    bytes_ -= size(entries_.front().message);
    entries_.pop_front();
    ++first_;
    removeFinishedSegments();
}

void Outbox::removeFinishedSegments()
{
    // A segment goes once every record in it is done and a later one has begun; the mark is
    // written first, so a crash never finds the mark behind a missing file's records.
    if (segments_.size() < 2 || segments_[1] > first_ || folder_.isEmpty())
        return;
    writeMark();
    while (segments_.size() >= 2 && segments_[1] <= first_) {
        QFile::remove(QDir(folder_).filePath(segmentName(segments_.front())));
        segments_.pop_front();
    }
}

void Outbox::writeMark()
{
    if (folder_.isEmpty() || markWritten_ == first_)
        return;
    QSaveFile f(QDir(folder_).filePath(markName));
    if (f.open(QIODevice::WriteOnly)) {
        f.write(QByteArray::number(first_) + ' ' +
                QByteArray::number(static_cast<qulonglong>(nextSequence_)) + '\n');
        if (f.commit())
            markWritten_ = first_;
    }
}

} // namespace diagnostika::publish
