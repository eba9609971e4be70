#include "filewriter.h"

#include "platform/filesync.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace diagnostika::record {

namespace {
constexpr auto syncPeriod = std::chrono::seconds(1);
}

FileWriter::FileWriter(FailureHandler onFailure, std::chrono::milliseconds writePeriod)
    : onFailure_(std::move(onFailure)), writePeriod_(writePeriod), thread_([this] { run(); })
{
}

FileWriter::~FileWriter()
{
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        for (auto& [number, file] : files_)
            file.closing = true;
    }
    wake_.notify_all();
    thread_.join();
}

int FileWriter::create(const QString& path, QString* reason)
{
    auto file = std::make_unique<QFile>(path);
    // NewOnly: an existing file, or one that appears meanwhile, is never overwritten.
    if (!file->open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
        if (reason)
            *reason = file->errorString();
        return -1;
    }
    const std::lock_guard lock(mutex_);
    const int number = nextFile_++;
    files_[number].file = std::move(file);
    return number;
}

int FileWriter::createFramed(const QString& path, int frameBytes, HeaderMaker header,
                             QString* reason)
{
    const int number = create(path, reason);
    if (number < 0)
        return number;
    QByteArray start = header(0);
    const std::lock_guard lock(mutex_);
    File& file = files_[number];
    file.frameBytes = frameBytes;
    file.headerBytes = start.size();
    file.header = std::move(header);
    file.pending = std::move(start);
    return number;
}

void FileWriter::append(int file, const QByteArray& lines)
{
    const std::lock_guard lock(mutex_);
    const auto found = files_.find(file);
    if (found != files_.end() && !found->second.failed && !found->second.closing)
        found->second.pending.append(lines);
}

void FileWriter::replace(int file, const QString& path, const QByteArray& contents)
{
    {
        const std::lock_guard lock(mutex_);
        // A newer version of the same file makes the older one pointless.
        std::erase_if(replacements_, [&path](const Replacement& r) { return r.path == path; });
        replacements_.push_back({file, path, contents});
    }
    wake_.notify_all();
}

void FileWriter::close(int file)
{
    {
        const std::lock_guard lock(mutex_);
        const auto found = files_.find(file);
        if (found == files_.end())
            return;
        found->second.closing = true;
    }
    wake_.notify_all();
}

void FileWriter::sync()
{
    std::unique_lock lock(mutex_);
    const std::uint64_t wanted = ++syncWanted_;
    wake_.notify_all();
    synced_.wait(lock, [&] { return syncDone_ >= wanted; });
}

std::int64_t FileWriter::backlog() const
{
    const std::lock_guard lock(mutex_);
    std::int64_t bytes = 0;
    for (const auto& [number, file] : files_)
        bytes += file.pending.size();
    return bytes;
}

bool FileWriter::writeLines(File& file, const QByteArray& lines, QString* reason)
{
    // A short write is tried again for the rest: only a write that takes nothing carries the
    // system's reason (a full disk takes what fits first).
    qint64 done = 0;
    while (done < lines.size()) {
        const qint64 written = file.file->write(lines.constData() + done, lines.size() - done);
        if (written <= 0)
            break;
        done += written;
    }
    if (done == lines.size()) {
        file.committed += done;
        file.unsynced = true;
        return true;
    }
    *reason = file.file->errorString();
    // Whatever part of the lines reached the file, the file ends at the last complete one (frame).
    if (file.frameBytes > 0) {
        const std::int64_t data = file.committed + done - file.headerBytes;
        file.committed = data < 0 ? 0 : file.headerBytes + data - data % file.frameBytes;
    } else {
        const qsizetype lastEnd = done > 0 ? lines.lastIndexOf('\n', done - 1) : -1;
        file.committed += lastEnd + 1;
    }
    file.file->resize(file.committed);
    // The header follows the cut as far as the disk lets it; the failure is told either way.
    QString ignored;
    writeHeader(file, &ignored);
    return false;
}

bool FileWriter::writeHeader(File& file, QString* reason)
{
    const std::int64_t data = file.committed - file.headerBytes;
    if (!file.header || data < 0 || data == file.headerCovers)
        return true;
    const QByteArray header = file.header(data);
    if (!file.file->seek(0) || file.file->write(header) != header.size() ||
        !file.file->seek(file.committed)) {
        *reason = file.file->errorString();
        return false;
    }
    file.headerCovers = data;
    return true;
}

bool FileWriter::syncFile(File& file, QString* reason)
{
    if (!syncToDevice(file.file->handle(), reason))
        return false;
    // The data is on the device before a header that counts it: a power cut between leaves a
    // header that states less than is there, never more.
    if (file.header && file.committed - file.headerBytes != file.headerCovers)
        return writeHeader(file, reason) && syncToDevice(file.file->handle(), reason);
    return true;
}

void FileWriter::run()
{
    auto lastSync = std::chrono::steady_clock::now();
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait_for(lock, writePeriod_, [this] {
            return stopping_ || syncWanted_ > syncDone_ || !replacements_.empty();
        });
        const std::uint64_t syncing = syncWanted_;
        const bool stopping = stopping_;
        const auto now = std::chrono::steady_clock::now();
        const bool syncNow = syncing > syncDone_ || stopping || now - lastSync >= syncPeriod;

        // Take the work; the disk is written with the lock released, so handing over never waits.
        // Only this thread erases files, so the pointers stay good meanwhile.
        struct Batch {
            int number;
            File* file;
            QByteArray lines;
            bool closing;
        };
        std::vector<Batch> batches;
        for (auto& [number, file] : files_) {
            QByteArray lines = std::exchange(file.pending, {});
            if (!file.failed)
                batches.push_back({number, &file, std::move(lines), file.closing});
            else if (file.closing)
                batches.push_back({number, &file, {}, true});
        }
        std::vector<Replacement> replacements = std::exchange(replacements_, {});
        lock.unlock();

        std::vector<Failure> failures;
        // `failed` is written only here, under the lock, and read by append() under it.
        const auto fail = [&](int number, File& file, const QString& path, const QString& reason) {
            lock.lock();
            file.failed = true;
            lock.unlock();
            failures.push_back({number, path, reason});
        };
        for (Batch& batch : batches) {
            File& file = *batch.file;
            QString reason;
            if (!file.failed && !batch.lines.isEmpty() && !writeLines(file, batch.lines, &reason))
                fail(batch.number, file, file.file->fileName(), reason);
            if (file.failed || !(syncNow || batch.closing))
                continue;
            if (file.unsynced && !syncFile(file, &reason)) {
                fail(batch.number, file, file.file->fileName(), reason);
                continue;
            }
            file.unsynced = false;
            // A file removed behind our back takes every later row with it; say so now.
            if (!QFileInfo::exists(file.file->fileName()))
                fail(batch.number, file, file.file->fileName(),
                     QStringLiteral("súbor bol medzitým odstránený"));
        }
        for (const Replacement& replacement : replacements) {
            // Not QSaveFile: it renames its temporary over the file even when the last write
            // failed, so a full disk would leave the metadata empty.
            QString reason;
            if (replaceFile(replacement.path, replacement.contents, &reason))
                continue;
            const auto owner = std::find_if(batches.begin(), batches.end(), [&](const Batch& b) {
                return b.number == replacement.file;
            });
            if (owner != batches.end() && !owner->file->failed)
                fail(replacement.file, *owner->file, replacement.path, reason);
        }
        if (syncNow)
            lastSync = now;

        for (const Batch& batch : batches) {
            if (batch.closing)
                batch.file->file->close();
        }
        lock.lock();
        for (const Batch& batch : batches) {
            if (batch.closing)
                files_.erase(batch.number);
        }
        const bool done = stopping && files_.empty() && replacements_.empty();
        lock.unlock();
        if (!failures.empty() && onFailure_)
            onFailure_(failures);
        lock.lock();
        syncDone_ = std::max(syncDone_, syncing);
        synced_.notify_all();
        if (done)
            return;
    }
}

} // namespace diagnostika::record
