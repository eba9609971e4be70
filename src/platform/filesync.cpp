#include "filesync.h"

#include <cerrno>
#include <cstring>
#ifdef _WIN32
#include <QSaveFile>
#include <io.h>
#else
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace diagnostika {
namespace {

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

#ifndef _WIN32
// 0 when the data is on the device, else the system's error.
int syncOrError(int fd)
{
    int result = 0;
    do {
        result = fsync(fd);
    } while (result != 0 && errno == EINTR);
    // A file system that cannot sync (a pipe, some special files) holds nothing a sync would lose.
    if (result != 0 && errno != EINVAL && errno != EROFS)
        return errno;
    return 0;
}

// Writes all of `contents`; 0, or the error of the write that took nothing (a full disk takes what
// fits first and refuses the rest on the next write).
int writeAll(int fd, const QByteArray& contents)
{
    const char* data = contents.constData();
    qsizetype left = contents.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return errno;
        if (written == 0)
            return ENOSPC;
        data += written;
        left -= written;
    }
    return 0;
}
#endif

} // namespace

bool syncToDevice(int fd, QString* reason)
{
#ifdef _WIN32
    if (_commit(fd) == 0)
        return true;
    const int error = errno;
#else
    const int error = syncOrError(fd);
    if (error == 0)
        return true;
#endif
    if (reason)
        *reason = systemReason(error);
    return false;
}

bool replaceFile(const QString& path, const QByteArray& contents, QString* reason)
{
#ifdef _WIN32
    // A failed flush must not be committed: QSaveFile would rename what it has.
    QSaveFile save(path);
    if (save.open(QIODevice::WriteOnly) && save.write(contents) == contents.size() &&
        save.flush() && save.commit())
        return true;
    if (reason)
        *reason = save.errorString();
    save.cancelWriting();
    return false;
#else
    const QFileInfo info(path);
    const QByteArray folder = QFile::encodeName(info.absolutePath());
    const QByteArray target = QFile::encodeName(info.absoluteFilePath());
    // Hidden, so that one left by a killed program does not pass for a recording's file.
    const QByteArray stem = folder + "/." + QFile::encodeName(info.fileName()) + '.';
    QByteArray temporary;
    int fd = -1;
    int error = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = stem + QByteArray::number(QRandomGenerator::global()->generate(), 36) + ".tmp";
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    0666);
        error = fd < 0 ? errno : 0;
        if (error != EEXIST)
            break;
    }
    if (fd < 0) {
        if (reason)
            *reason = systemReason(error);
        return false;
    }
    error = writeAll(fd, contents);
    if (error == 0)
        error = syncOrError(fd);
    // Some file systems tell a failed write only when the file closes.
    if (::close(fd) != 0 && error == 0 && errno != EINTR)
        error = errno;
    if (error == 0 && ::rename(temporary.constData(), target.constData()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temporary.constData());
        if (reason)
            *reason = systemReason(error);
        return false;
    }
    // The new name reaches the device with its folder.
    const int folderFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    error = folderFd < 0 ? errno : syncOrError(folderFd);
    if (folderFd >= 0)
        ::close(folderFd);
    if (error != 0) {
        if (reason)
            *reason = systemReason(error);
        return false;
    }
    return true;
#endif
}

} // namespace diagnostika
