#include "unattended.h"

#include "recorder.h"

#include <QDateTime>
#include <QDir>
#include <QStorageInfo>
#include <QTimer>
#include <algorithm>
#include <cstdio>

namespace diagnostika::record {
namespace {

QString megabytes(std::int64_t bytes)
{
    return QString::number(static_cast<double>(bytes) / (1024.0 * 1024.0), 'f', 0);
}

} // namespace

std::int64_t msToNextBoundary(const QDateTime& now, UnattendedRecording::Split split)
{
    QDateTime boundary;
    switch (split) {
    case UnattendedRecording::Split::None:
        return -1;
    case UnattendedRecording::Split::Hour:
        boundary = QDateTime(now.date(), QTime(now.time().hour(), 0)).addSecs(3600);
        break;
    case UnattendedRecording::Split::Day:
        boundary = QDateTime(now.date().addDays(1), QTime(0, 0));
        break;
    }
    return now.msecsTo(boundary);
}

UnattendedRecording::UnattendedRecording(Recorder& recorder, const TickClock& clock, Split split,
                                         QObject* parent)
    : QObject(parent), recorder_(recorder), clock_(clock), split_(split)
{
    timer_ = new QTimer(this);
    timer_->setInterval(checkEveryMs);
    connect(timer_, &QTimer::timeout, this, &UnattendedRecording::check);
}

UnattendedRecording::~UnattendedRecording() = default;

QString UnattendedRecording::logPath() const
{
    return folder_.isEmpty() ? QString()
                             : QDir(folder_).filePath(QStringLiteral("diagnostika.log"));
}

bool UnattendedRecording::start(const QString& folder, QString* error)
{
    if (!recorder_.start(folder, error))
        return false;
    folder_ = recorder_.folder();
    log_.setFileName(logPath());
    if (!log_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        std::fprintf(stderr, "diagnostika: the log %s cannot be written: %s\n",
                     qPrintable(logPath()), qPrintable(log_.errorString()));
    sets_ = 1;
    tell(QStringLiteral("Záznam sa začal do priečinka %1.").arg(QDir::toNativeSeparators(folder_)));
    scheduleSplit();
    check();
    timer_->start();
    return true;
}

void UnattendedRecording::scheduleSplit()
{
    if (split_ == Split::None)
        return;
    // Never less than a second, so a start just before the boundary does not make a set of
    // nothing.
    nextSplitMs_ =
        clock_.milliseconds() +
        std::max<std::int64_t>(1000, msToNextBoundary(QDateTime::currentDateTime(), split_));
}

std::int64_t UnattendedRecording::freeBytes() const
{
    if (freeBytes_)
        return freeBytes_(folder_);
    const QStorageInfo storage(folder_);
    return storage.isValid() ? storage.bytesAvailable() : -1;
}

void UnattendedRecording::check()
{
    if (folder_.isEmpty())
        return;
    const std::int64_t free = freeBytes();
    if (waitingForSpace_) {
        // Taken up again only with room for a while, not at the first byte freed.
        if (free < 0 || free < 2 * reserveBytes_)
            return;
        QString error;
        if (!recorder_.start(folder_, &error)) {
            tell(error);
            return;
        }
        waitingForSpace_ = false;
        ++sets_;
        tell(QStringLiteral("Na disku je opäť %1 MB voľného miesta: záznam pokračuje novou sadou "
                            "súborov.")
                 .arg(megabytes(free)));
        scheduleSplit();
        return;
    }
    if (!recorder_.isRecording())
        return;
    if (free >= 0 && free < reserveBytes_) {
        recorder_.stop();
        waitingForSpace_ = true;
        tell(QStringLiteral("Na disku s priečinkom %1 zostáva %2 MB voľného miesta, menej ako %3 "
                            "MB: záznam sa zastavil, súbory sú celé. Pokračuje, keď bude voľných "
                            "aspoň %4 MB.")
                 .arg(QDir::toNativeSeparators(folder_), megabytes(free), megabytes(reserveBytes_),
                      megabytes(2 * reserveBytes_)));
        return;
    }
    if (split_ != Split::None && clock_.milliseconds() >= nextSplitMs_) {
        // Restarting closes every file whole and opens the next set; no edge falls between, as
        // they reach the recorder only from this thread's event loop.
        QString error;
        if (!recorder_.start(folder_, &error)) {
            tell(error);
            return;
        }
        ++sets_;
        tell(QStringLiteral("Nová sada súborov záznamu (%1.).").arg(sets_));
        scheduleSplit();
    }
}

void UnattendedRecording::tell(const QString& text)
{
    QString line = text;
    line.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    std::fprintf(stderr, "diagnostika: %s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
    if (!log_.isOpen())
        return;
    const QByteArray row = (QDateTime::currentDateTime().toString(Qt::ISODate) + QLatin1Char(' ') +
                            line + QLatin1Char('\n'))
                               .toUtf8();
    log_.write(row);
    log_.flush();
}

} // namespace diagnostika::record
