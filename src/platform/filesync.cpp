#include "filesync.h"

#include <cerrno>
#include <cstring>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace diagnostika {

bool syncToDevice(int fd, QString* reason)
{
#ifdef _WIN32
    const int result = _commit(fd);
#else
    int result = 0;
    do {
        result = fsync(fd);
    } while (result != 0 && errno == EINTR);
    // A file system that cannot sync (a pipe, some special files) holds nothing a sync would lose.
    if (result != 0 && (errno == EINVAL || errno == EROFS))
        return true;
#endif
    if (result == 0)
        return true;
    if (reason)
        *reason = QString::fromLocal8Bit(std::strerror(errno));
    return false;
}

} // namespace diagnostika
