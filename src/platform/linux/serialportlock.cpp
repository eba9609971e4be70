#include "serialportlock.h"

#include "platform/devicepath.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <limits>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace diagnostika {

namespace {

QString systemReason(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

// A file that is younger than this and holds no PID yet may be a lock another program is still
// writing: it counts as held, not stale.
constexpr std::time_t freshLockSeconds = 2;

enum class Owner {
    Alive,
    Gone,
    Unknown,
    NotAFile, // a FIFO, device, directory or link where a lock belongs: nobody's lock to take
};

// Which file a lock was: a stale one is removed only if it is still the same file, not a fresh lock
// another program put in its place meanwhile.
struct FileId {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileId&) const = default;
};

// The lock directory may be writable by everyone, so what lies at the lock's name is anybody's:
// only a regular file is read, and opening it can neither block (a FIFO waits for a writer), follow
// a link, nor make a terminal ours.
Owner ownerOf(const QString& path, long* pid, int* readError, FileId* id = nullptr)
{
    *pid = 0;
    *readError = 0;
    const QByteArray native = devicePathBytes(path);
    struct stat st {};
    if (::lstat(native.constData(), &st) != 0) {
        *readError = errno;
        return Owner::Unknown;
    }
    if (!S_ISREG(st.st_mode))
        return Owner::NotAFile;
    const int fd =
        ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        *readError = errno;
        return errno == ELOOP ? Owner::NotAFile : Owner::Unknown;
    }
    // Replaced between the look and the opening: what was opened counts.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return Owner::NotAFile;
    }
    char buf[128] = {};
    const ssize_t n = ::read(fd, buf, sizeof buf - 1);
    const int readErrno = errno;
    ::close(fd);
    if (id)
        *id = FileId{st.st_dev, st.st_ino};
    if (n < 0) {
        *readError = readErrno;
        return Owner::Unknown;
    }
    // Both the ten-column ASCII form and a plain number on the first line are in use.
    char* end = nullptr;
    const long value = std::strtol(buf, &end, 10);
    if (end == buf) {
        // No number yet: a lock another program may still be writing, unless it has been so for
        // a while.
        if (std::time(nullptr) - st.st_mtime < freshLockSeconds)
            return Owner::Unknown;
        return Owner::Gone;
    }
    // A number no process can have is no owner (cut to a pid_t, it could name a live one).
    if (value <= 0 || value > std::numeric_limits<pid_t>::max())
        return Owner::Gone;
    *pid = value;
    if (::kill(static_cast<pid_t>(value), 0) == 0 || errno == EPERM)
        return Owner::Alive;
    return Owner::Gone;
}

// The lock files held, where a signal handler can read them: fixed storage, filled before an entry
// is marked held, so the handler never sees a half-written path nor needs the heap. A lock that
// finds no free entry (more ports than entries, or a path too long) is still taken, and released
// in order; only an abrupt end leaves it behind.
struct HeldLock {
    std::atomic<bool> claimed{false}; // the entry belongs to a lock object
    std::atomic<bool> held{false};    // `path` is complete and the file is ours
    char path[PATH_MAX] = {};
};
HeldLock heldLocks[16];
static_assert(std::atomic<bool>::is_always_lock_free, "a signal handler reads these");

int rememberHeldLock(const QByteArray& path)
{
    if (path.size() >= static_cast<qsizetype>(sizeof HeldLock::path))
        return -1;
    for (int i = 0; i < static_cast<int>(std::size(heldLocks)); ++i) {
        bool expected = false;
        if (!heldLocks[i].claimed.compare_exchange_strong(expected, true))
            continue;
        std::memcpy(heldLocks[i].path, path.constData(), static_cast<std::size_t>(path.size()));
        heldLocks[i].path[path.size()] = '\0';
        heldLocks[i].held.store(true, std::memory_order_release);
        return i;
    }
    return -1;
}

void forgetHeldLock(int slot)
{
    if (slot < 0)
        return;
    heldLocks[slot].held.store(false, std::memory_order_release);
    heldLocks[slot].claimed.store(false, std::memory_order_release);
}

// Whether the lock file at `path` names this process, read with async-signal-safe calls only.
bool lockFileIsOurs(const char* path) noexcept
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return false;
    char buf[32];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    ::close(fd);
    ssize_t i = 0;
    while (i < n && (buf[i] == ' ' || buf[i] == '\t'))
        ++i;
    long pid = 0;
    bool digits = false;
    for (; i < n && buf[i] >= '0' && buf[i] <= '9' && pid < std::numeric_limits<pid_t>::max();
         ++i) {
        pid = pid * 10 + (buf[i] - '0');
        digits = true;
    }
    return digits && pid == static_cast<long>(::getpid());
}

} // namespace

void removeHeldSerialLocksNow() noexcept
{
    for (HeldLock& lock : heldLocks) {
        if (lock.held.load(std::memory_order_acquire) && lockFileIsOurs(lock.path))
            ::unlink(lock.path);
    }
}

QStringList SerialPortLock::defaultDirectories()
{
    QStringList dirs = {QStringLiteral("/var/lock"),
                        QStringLiteral("/etc/locks"),
                        QStringLiteral("/var/spool/locks"),
                        QStringLiteral("/var/spool/uucp"),
                        QStringLiteral("/tmp"),
                        QStringLiteral("/var/tmp"),
                        QStringLiteral("/var/lock/lockdev"),
                        QStringLiteral("/run/lock")};
    const QString temp = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
    if (!temp.isEmpty() && !dirs.contains(temp))
        dirs << temp;
    return dirs;
}

SerialPortLock::SerialPortLock(QStringList directories) : directories_(std::move(directories)) {}

SerialPortLock::~SerialPortLock()
{
    release();
}

QString SerialPortLock::lockNameFor(const QString& device)
{
    // However the device is spelled (a by-id link, /dev/../dev/pts/0), its lock is named after the
    // device itself, so that this program's lock and every other program's meet. A device that is
    // not there now keeps the name its path gives, so that a lock left for it is still seen.
    const QByteArray native = devicePathBytes(device);
    QString name;
    if (char* real = ::realpath(native.constData(), nullptr)) {
        name = devicePathFromBytes(real);
        std::free(real);
    } else {
        name = QDir::cleanPath(device);
    }
    // The name below /dev with its slashes replaced, as Qt's serial port module names it
    // (LCK..ttyUSB0, LCK..pts_3); a device elsewhere by its file name alone.
    if (name.startsWith(QLatin1String("/dev/")))
        name.remove(0, 5);
    else
        name = QFileInfo(name).fileName();
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return QLatin1String("LCK..") + name;
}

QString SerialPortLock::lockPathFor(const QString& device) const
{
    const QString fileName = lockNameFor(device);
    for (const QString& dir : directories_) {
        const QFileInfo info(dir);
        if (!info.isDir() || !info.isReadable())
            continue;
        const QString candidate = dir + QLatin1Char('/') + fileName;
        if (QFileInfo(candidate).exists() || QFileInfo(candidate).isSymLink() || info.isWritable())
            return candidate;
    }
    return {};
}

SerialPortLock::Result SerialPortLock::acquire(const QString& device, long* holder, QString* reason)
{
    release();
    const QString path = lockPathFor(device);
    if (path.isEmpty())
        return Result::NoPlace;
    const QByteArray nativePath = devicePathBytes(path);
    const QByteArray tempTemplate =
        devicePathBytes(QFileInfo(path).absolutePath()) + "/.LTMP.XXXXXX";

    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    char content[512];
    const int len = std::snprintf(content, sizeof content, "%10ld\ndiagnostika\n%s\n",
                                  static_cast<long>(::getpid()), host);

    auto held = [&](long pid, const QString& why) {
        if (holder)
            *holder = pid;
        if (reason)
            *reason = why;
        return Result::Held;
    };
    auto failed = [&](int error) {
        if (reason)
            *reason = systemReason(error);
        return Result::Failed;
    };

    // An existing lock is read first: a running owner is honoured even where we could not write
    // a lock of our own, and one we cannot read belongs to somebody else. A stale lock is removed
    // and the attempt repeated; three rounds are enough unless another program keeps racing us for
    // it, which then counts as held.
    for (int attempt = 0; attempt < 3; ++attempt) {
        long pid = 0;
        int readError = 0;
        FileId seen;
        switch (ownerOf(path, &pid, &readError, &seen)) {
        case Owner::Alive:
            return held(
                pid,
                QStringLiteral("port drží proces %1 (zámok %2)").arg(QString::number(pid), path));
        case Owner::NotAFile:
            return held(0, QStringLiteral("zámok %1 nie je obyčajný súbor").arg(path));
        case Owner::Unknown:
            if (readError == 0) // a fresh lock without a number yet
                return held(0, QStringLiteral("port je zamknutý (zámok %1)").arg(path));
            if (readError == EACCES || readError == EPERM)
                return held(0, QStringLiteral("zámok %1 sa nedá prečítať: %2")
                                   .arg(path, systemReason(readError)));
            // Anything else, such as a lock name longer than a file name may be, is no holder.
            if (readError != ENOENT)
                return failed(readError);
            break; // no lock: make ours
        case Owner::Gone: {
            struct stat now {};
            if (::lstat(nativePath.constData(), &now) != 0 ||
                !(FileId{now.st_dev, now.st_ino} == seen))
                continue; // gone or replaced meanwhile: look again
            if (::unlink(nativePath.constData()) != 0 && errno != ENOENT)
                return failed(errno);
            break;
        }
        }

        // Written in full under a temporary name and linked into place, so nobody ever reads a
        // half-written lock.
        QByteArray temp = tempTemplate;
        const int fd = ::mkstemp(temp.data());
        if (fd < 0)
            return failed(errno);
        const bool written =
            ::fchmod(fd, 0644) == 0 && ::write(fd, content, static_cast<std::size_t>(len)) == len;
        const int writeError = errno;
        ::close(fd);
        if (!written) {
            ::unlink(temp.constData());
            return failed(writeError);
        }
        const int linked = ::link(temp.constData(), nativePath.constData());
        const int linkError = errno;
        ::unlink(temp.constData());
        if (linked == 0) {
            path_ = path;
            slot_ = rememberHeldLock(nativePath);
            return Result::Taken;
        }
        if (linkError != EEXIST)
            return failed(linkError);
        // Another program made its lock in between: the next round reads it.
    }
    return held(0, QStringLiteral("port je zamknutý (zámok %1)").arg(path));
}

void SerialPortLock::release()
{
    if (path_.isEmpty())
        return;
    forgetHeldLock(slot_);
    slot_ = -1;
    // Only our own lock is removed: one taken over by another program after we lost it stays.
    long pid = 0;
    int readError = 0;
    const Owner owner = ownerOf(path_, &pid, &readError);
    if (owner == Owner::Alive && pid == static_cast<long>(::getpid()))
        ::unlink(devicePathBytes(path_).constData());
    path_.clear();
}

} // namespace diagnostika
