#include "platform/regularfile.h"

#include "platform/devicepath.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace diagnostika {
namespace {

QString kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return QString::fromLocal8Bit(std::strerror(EISDIR));
    if (S_ISLNK(mode))
        return QStringLiteral("a symbolic link, not a regular file");
    if (S_ISFIFO(mode))
        return QStringLiteral("a FIFO, not a regular file");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket, not a regular file");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device, not a regular file");
    return QStringLiteral("not a regular file");
}

} // namespace

int openRegularFileToWrite(const QString& path, QString* reason)
{
    const QByteArray native = devicePathBytes(path);
    // Looked at first, so that a path known to be something else is told as what it is; the
    // opening below cannot wait nor follow a link either way, and checks what it opened.
    struct stat st {};
    if (::lstat(native.constData(), &st) == 0 && !S_ISREG(st.st_mode)) {
        *reason = kindOf(st.st_mode);
        return -1;
    }
    const int fd =
        ::open(native.constData(),
               O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK, 0666);
    if (fd < 0) {
        const int error = errno;
        // Replaced by a link or a FIFO without a reader since the look: say what it is now.
        if ((error == ELOOP || error == ENXIO) && ::lstat(native.constData(), &st) == 0)
            *reason = kindOf(st.st_mode);
        else
            *reason = QString::fromLocal8Bit(std::strerror(error));
        return -1;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *reason = kindOf(st.st_mode);
        ::close(fd);
        return -1;
    }
    // Truncated only now that it is known to be a regular file; writing to one never waits for a
    // reader, so the flag that kept the opening from waiting goes.
    if (::ftruncate(fd, 0) != 0 || ::fcntl(fd, F_SETFL, 0) != 0) {
        *reason = QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace diagnostika
