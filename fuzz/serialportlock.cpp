// The owner of a serial port lock is read from a file that any local user can write. The input is
// planted as the lock file of /dev/null in a private lock directory (its first byte says whether
// the file is fresh or an hour old) before the lock is taken. Whatever it holds, the lock is
// either taken, with our own number written, or held by a running process or an owner unknown.

#include "platform/linux/serialportlock.h"

#include "check.h"

#include <QFile>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

using diagnostika::SerialPortLock;

namespace {

const char* lockDirectory()
{
    static char dir[] = "/tmp/diagnostika-fuzz-lock.XXXXXX";
    static const bool made = [] {
        FUZZ_CHECK(::mkdtemp(dir) != nullptr);
        std::atexit([] { ::rmdir(dir); });
        return true;
    }();
    (void)made;
    return dir;
}

void plant(const QByteArray& path, const std::uint8_t* data, std::size_t size, bool old)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(::write(fd, data, size) == static_cast<ssize_t>(size));
    if (old) {
        timespec times[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
        FUZZ_CHECK(::futimens(fd, times) == 0);
    }
    ::close(fd);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const QString device = QStringLiteral("/dev/null");
    SerialPortLock lock({QString::fromLocal8Bit(lockDirectory())});
    const QString path = lock.lockPathFor(device);
    FUZZ_CHECK(!path.isEmpty());
    const QByteArray native = QFile::encodeName(path);
    plant(native, data + 1, size - 1, (data[0] & 1) != 0);

    long holder = -1;
    switch (lock.acquire(device, &holder)) {
    case SerialPortLock::Result::Taken: {
        FUZZ_CHECK(lock.path() == path);
        QFile mine(path);
        FUZZ_CHECK(mine.open(QIODevice::ReadOnly));
        FUZZ_CHECK(mine.readLine().trimmed().toLong() == static_cast<long>(::getpid()));
        lock.release();
        FUZZ_CHECK(!QFile::exists(path));
        break;
    }
    case SerialPortLock::Result::Held:
        FUZZ_CHECK(holder == 0 || (holder > 0 && holder <= std::numeric_limits<pid_t>::max() &&
                                   (::kill(static_cast<pid_t>(holder), 0) == 0 || errno == EPERM)));
        FUZZ_CHECK(lock.path().isEmpty());
        break;
    default:
        FUZZ_CHECK(false); // the directory is ours and writable
    }
    ::unlink(native.constData());
    return 0;
}
