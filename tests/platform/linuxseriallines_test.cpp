// The Linux serial backend on a pseudo-terminal: a tty whose driver has neither the change
// counters nor the wait, so it runs in the polling fallback. Real UARTs and USB adapters are
// covered by the rig tests.
#include "platform/devicepath.h"
#include "platform/linux/linuxseriallines.h"
#include "platform/linux/serialportlock.h"
#include "support/fakeclock.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

using namespace diagnostika;

namespace {

class Pty {
public:
    Pty()
    {
        char name[256] = {};
        if (::openpty(&master_, &slave_, name, nullptr, nullptr) == 0)
            path_ = QString::fromLocal8Bit(name);
    }
    ~Pty()
    {
        closeMaster();
        if (slave_ >= 0)
            ::close(slave_);
    }
    void closeMaster()
    {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }
    QString path() const { return path_; }
    int slave() const { return slave_; }

private:
    int master_ = -1;
    int slave_ = -1;
    QString path_;
};

class LinuxSerialOnPty : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(pty.path().isEmpty()) << "no pseudo-terminal";
        ASSERT_TRUE(lockDir.isValid());
        options.comDevices[2] = pty.path();
        options.comDevices[3] = QStringLiteral("/dev/null");
        options.comDevices[1] = lockDir.path() + QStringLiteral("/no-such-tty");
        options.lockDirectories = {lockDir.path()};
        options.recheckMs = 20;
    }

    QString lockPath() const
    {
        QString name = pty.path().mid(5);
        name.replace(QLatin1Char('/'), QLatin1Char('_'));
        return lockDir.path() + QStringLiteral("/LCK..") + name;
    }

    void writeLock(const QByteArray& content)
    {
        QFile f(lockPath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
    }

    Pty pty;
    QTemporaryDir lockDir;
    test::FakeClock clock{1000};
    LinuxSerialOptions options;
};

TEST_F(LinuxSerialOnPty, OpensWithClocalExclusiveAndALockThenReleasesAll)
{
    LinuxSerialLines lines(clock, options);
    SerialError error;
    ASSERT_TRUE(lines.open(2, &error)) << error.reason.toStdString();
    EXPECT_TRUE(lines.isOpen());
    EXPECT_EQ(lines.commPort(), 2);
    EXPECT_EQ(lines.device(), pty.path());

    termios tio{};
    ASSERT_EQ(::tcgetattr(pty.slave(), &tio), 0);
    EXPECT_TRUE(tio.c_cflag & CLOCAL) << "a falling CD would hang the port up";
    int exclusive = 0;
    ASSERT_EQ(::ioctl(pty.slave(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);

    EXPECT_EQ(lines.lockFilePath(), lockPath());
    QFile lock(lockPath());
    ASSERT_TRUE(lock.open(QIODevice::ReadOnly));
    EXPECT_EQ(lock.readLine().trimmed().toLong(), static_cast<long>(::getpid()));
    lock.close();

    lines.close();
    EXPECT_FALSE(lines.isOpen());
    EXPECT_FALSE(QFile::exists(lockPath()));
    ASSERT_EQ(::ioctl(pty.slave(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
}

TEST_F(LinuxSerialOnPty, APathThatIsNotUtf8OpensThatVeryDevice)
{
    const QByteArray link = QFile::encodeName(lockDir.path()) + "/tty\xff\xc0\xaf";
    ASSERT_EQ(::symlink(QFile::encodeName(pty.path()).constData(), link.constData()), 0);
    options.comDevices[1] = devicePathFromBytes(link);
    LinuxSerialLines lines(clock, options);
    SerialError error;
    ASSERT_TRUE(lines.open(1, &error)) << error.reason.toStdString();
    int exclusive = 0;
    ASSERT_EQ(::ioctl(pty.slave(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1) << "another file was opened";
}

TEST_F(LinuxSerialOnPty, ADriverWithoutWaitOrCountersIsPolled)
{
    LinuxSerialLines lines(clock, options);
    ASSERT_TRUE(lines.open(2, nullptr));
    // The wait is tried first and given up on its first refusal; then the levels are polled.
    EXPECT_TRUE(QTest::qWaitFor([&] { return lines.wakeCount() >= 5; }, 5000));
    EXPECT_FALSE(lines.usesDriverWait());
    EXPECT_EQ(lines.captureMode(), CaptureMode::Polled);
    // A pty has no lines to read: it is looked at only to notice its loss, once per re-check, not
    // every millisecond.
    const std::uint64_t from = lines.wakeCount();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(QTest::qWaitFor([&] { return lines.wakeCount() >= from + 5; }, 5000));
    EXPECT_GE(std::chrono::steady_clock::now() - start,
              std::chrono::milliseconds(4 * options.recheckMs));

    const auto begin = std::chrono::steady_clock::now();
    lines.close();
    const auto took = std::chrono::steady_clock::now() - begin;
    EXPECT_LT(took, std::chrono::milliseconds(100));
}

TEST_F(LinuxSerialOnPty, ASecondOpenerMeetsTheLockAsInUse)
{
    LinuxSerialLines first(clock, options);
    ASSERT_TRUE(first.open(2, nullptr));
    LinuxSerialLines second(clock, options);
    SerialError error;
    EXPECT_FALSE(second.open(2, &error));
    EXPECT_EQ(error.kind, SerialError::Kind::InUse);
    EXPECT_EQ(error.commPort, 2);
    EXPECT_EQ(error.device, pty.path());
    // The holder, for a user to find a stale lock: the process and the lock file.
    EXPECT_TRUE(error.reason.contains(QString::number(::getpid()))) << error.reason.toStdString();
    EXPECT_TRUE(error.reason.contains(lockPath())) << error.reason.toStdString();
    EXPECT_TRUE(error.reason.startsWith(QStringLiteral("port drží proces")));
    EXPECT_FALSE(second.isOpen());
    // The failed opener must not have taken the first one's lock away.
    EXPECT_TRUE(QFile::exists(lockPath()));
    first.close();
    EXPECT_TRUE(second.open(2, nullptr));
}

TEST_F(LinuxSerialOnPty, ALockOfAnotherRunningProgramIsHeld)
{
    // A child that lives until we let it go stands for the other program.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        char c;
        ::close(fds[1]);
        while (::read(fds[0], &c, 1) < 0) {
        }
        ::_exit(0);
    }
    ::close(fds[0]);
    writeLock(QByteArray::number(child).rightJustified(10, ' ') + '\n');

    LinuxSerialLines lines(clock, options);
    SerialError error;
    EXPECT_FALSE(lines.open(2, &error));
    EXPECT_EQ(error.kind, SerialError::Kind::InUse);
    EXPECT_TRUE(QFile::exists(lockPath()));

    ::close(fds[1]);
    ::waitpid(child, nullptr, 0);
    // Now its PID is gone: the lock is stale and taken over.
    EXPECT_TRUE(lines.open(2, &error)) << error.reason.toStdString();
}

TEST_F(LinuxSerialOnPty, StaleLocksAreTakenOver)
{
    struct Case {
        const char* what;
        QByteArray content;
    };
    const Case cases[] = {
        {"ten-column PID of no process", "  99999999\n"},
        {"plain PID of no process", "99999999\nsomeprogram\nhost\n"},
        // Cut to 32 bits this would be PID 1, which always runs.
        {"a number no process can have", "4294967297\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeLock(c.content);
        LinuxSerialLines lines(clock, options);
        SerialError error;
        EXPECT_TRUE(lines.open(2, &error)) << error.reason.toStdString();
        QFile lock(lockPath());
        ASSERT_TRUE(lock.open(QIODevice::ReadOnly));
        EXPECT_EQ(lock.readLine().trimmed().toLong(), static_cast<long>(::getpid()));
    }
}

TEST(SerialPortLock, ALiveLockWhereWeCannotWriteIsStillHonoured)
{
    // A lock directory that only root may write, as on many systems, with init's lock in it. The
    // check runs as an ordinary user, in a child process.
    QTemporaryDir top;
    ASSERT_TRUE(top.isValid());
    const QString dir = top.path() + QStringLiteral("/lock");
    ASSERT_TRUE(QDir().mkdir(dir));
    {
        QFile lock(dir + QStringLiteral("/LCK..ttyS7"));
        ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
        lock.write("         1\n");
    }
    const QByteArray topNative = QFile::encodeName(top.path());
    const QByteArray dirNative = QFile::encodeName(dir);
    ASSERT_EQ(::chmod(topNative.constData(), 0755), 0);
    ASSERT_EQ(::chmod(dirNative.constData(), 0555), 0);

    SerialPortLock lock({dir});
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(100);
        long holder = 0;
        const SerialPortLock::Result result = lock.acquire(QStringLiteral("/dev/ttyS7"), &holder);
        ::_exit(result == SerialPortLock::Result::Held && holder == 1
                    ? 0
                    : 10 + static_cast<int>(result));
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "10 + the result the child got (100: could not drop root)";
    ::chmod(dirNative.constData(), 0755);
}

TEST_F(LinuxSerialOnPty, AFreshEmptyLockMayBeBeingWrittenAndCountsAsHeld)
{
    writeLock("");
    LinuxSerialLines lines(clock, options);
    SerialError error;
    EXPECT_FALSE(lines.open(2, &error));
    EXPECT_EQ(error.kind, SerialError::Kind::InUse);
}

TEST_F(LinuxSerialOnPty, AnythingButARegularFileAtTheLocksNameIsHeldAndNeverBlocks)
{
    // The lock directory may be writable by everyone: a FIFO there would block a reader until
    // somebody writes to it.
    const QByteArray lock = QFile::encodeName(lockPath());
    const QByteArray target = QFile::encodeName(lockDir.path() + QStringLiteral("/target"));
    QFile(QFile::decodeName(target)).open(QIODevice::WriteOnly);
    struct Case {
        const char* what;
        std::function<int()> plant;
    };
    const Case cases[] = {
        {"a FIFO", [&] { return ::mkfifo(lock.constData(), 0666); }},
        {"a link", [&] { return ::symlink(target.constData(), lock.constData()); }},
        {"a folder", [&] { return ::mkdir(lock.constData(), 0755); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(c.plant(), 0);
        LinuxSerialLines lines(clock, options);
        SerialError error;
        EXPECT_FALSE(lines.open(2, &error));
        EXPECT_EQ(error.kind, SerialError::Kind::InUse);
        EXPECT_EQ(error.reason, QStringLiteral("zámok %1 nie je obyčajný súbor").arg(lockPath()));
        ASSERT_EQ(::remove(lock.constData()), 0) << "the planted file was left alone";
    }
}

TEST_F(LinuxSerialOnPty, TheLockIsNamedAfterTheDeviceHoweverItIsSpelled)
{
    // A link to the pty at the end of a path longer than a file name may be.
    QTemporaryDir links;
    ASSERT_TRUE(links.isValid());
    QString deep = links.path();
    while (deep.size() < 260)
        deep += QStringLiteral("/") + QString(40, QLatin1Char('d'));
    ASSERT_TRUE(QDir().mkpath(deep));
    const QString longLink = deep + QStringLiteral("/serial-link");
    ASSERT_EQ(::symlink(QFile::encodeName(pty.path()).constData(),
                        QFile::encodeName(longLink).constData()),
              0);
    ASSERT_GT(longLink.size(), 273);
    for (const QString& spelling : {QStringLiteral("/dev/../dev/") + pty.path().mid(5), longLink}) {
        SCOPED_TRACE(spelling.toStdString());
        options.comDevices[2] = spelling;
        LinuxSerialLines lines(clock, options);
        SerialError error;
        ASSERT_TRUE(lines.open(2, &error)) << error.reason.toStdString();
        EXPECT_EQ(lines.lockFilePath(), lockPath());
        options.comDevices[2] = pty.path();
        LinuxSerialLines byItsName(clock, options);
        EXPECT_FALSE(byItsName.open(2, &error)) << "our lock and the other's never met";
        EXPECT_EQ(error.kind, SerialError::Kind::InUse);
    }

    // A long path to nothing is missing, not in use.
    options.comDevices[2] = deep + QStringLiteral("/no-such-tty-") + QString(20, QLatin1Char('x'));
    LinuxSerialLines lines(clock, options);
    SerialError error;
    EXPECT_FALSE(lines.open(2, &error));
    EXPECT_EQ(error.kind, SerialError::Kind::Other);
    EXPECT_EQ(error.reason, QString::fromLocal8Bit(std::strerror(ENOENT)));
}

TEST_F(LinuxSerialOnPty, FailuresOtherThanInUseKeepTheSystemsReason)
{
    struct Case {
        int commPort;
        int err;
    };
    for (const Case c : {Case{1, ENOENT}, Case{3, ENOTTY}}) {
        SCOPED_TRACE(c.commPort);
        LinuxSerialLines lines(clock, options);
        SerialError error;
        EXPECT_FALSE(lines.open(c.commPort, &error));
        EXPECT_EQ(error.kind, SerialError::Kind::Other);
        EXPECT_EQ(error.commPort, c.commPort);
        EXPECT_EQ(error.device, options.comDevices[c.commPort]);
        EXPECT_EQ(error.reason, QString::fromLocal8Bit(std::strerror(c.err)));
        EXPECT_FALSE(lines.isOpen());
        EXPECT_TRUE(QDir(lockDir.path()).entryList(QDir::Files | QDir::Hidden).isEmpty())
            << "a failed open left a lock behind";
    }
}

TEST_F(LinuxSerialOnPty, AHungUpDeviceIsLostOnceAndClosed)
{
    LinuxSerialLines lines(clock, options);
    QSignalSpy lost(&lines, &SerialLines::portLost);
    ASSERT_TRUE(lines.open(2, nullptr));
    pty.closeMaster(); // the other side goes away: the tty is hung up, as an unplugged adapter's
    ASSERT_TRUE(QTest::qWaitFor([&] { return lost.count() > 0; }, 5000));
    ASSERT_EQ(lost.count(), 1);
    const auto error = lost.at(0).at(0).value<SerialError>();
    EXPECT_EQ(error.kind, SerialError::Kind::Gone);
    EXPECT_EQ(error.commPort, 2);
    EXPECT_EQ(error.device, pty.path());
    EXPECT_FALSE(error.reason.isEmpty());
    EXPECT_FALSE(lines.isOpen());
    EXPECT_FALSE(QFile::exists(lockPath()));
    lines.close();
    QCoreApplication::processEvents();
    EXPECT_EQ(lost.count(), 1);
}

TEST_F(LinuxSerialOnPty, APortOpenedAgainWhileClosingIsLeftOpen)
{
    Pty other;
    ASSERT_FALSE(other.path().isEmpty());
    options.comDevices[4] = other.path();
    LinuxSerialLines lines(clock, options);
    ASSERT_TRUE(lines.open(2, nullptr));
    // Once the watcher runs, the other side goes; the watcher queues the loss and ends. Nothing
    // has been handed over yet: no event has been processed.
    for (int i = 0; i < 5000 && lines.wakeCount() == 0; ++i)
        QThread::msleep(1);
    pty.closeMaster();
    for (int i = 0; i < 5000 && lines.watcherTid() != 0; ++i)
        QThread::msleep(1);
    ASSERT_EQ(lines.watcherTid(), 0);

    // Closing hands the loss over, and its handler opens another port at once.
    int lost = 0;
    QObject::connect(&lines, &SerialLines::portLost, [&] {
        ++lost;
        EXPECT_TRUE(lines.open(4, nullptr));
    });
    lines.close();
    EXPECT_EQ(lost, 1);
    ASSERT_TRUE(lines.isOpen()) << "the closing released the port opened meanwhile";
    EXPECT_EQ(lines.commPort(), 4);
    EXPECT_EQ(lines.device(), other.path());
    lines.close();
    EXPECT_FALSE(lines.isOpen());
}

TEST(LinuxSerialDevices, ComPortsMapToTheUartsUnlessOverridden)
{
    test::FakeClock clock;
    LinuxSerialOptions options;
    options.comDevices[2] = QStringLiteral("/dev/ttyUSB0");
    LinuxSerialLinesProvider provider(clock, options);
    EXPECT_EQ(provider.devicePath(1), QStringLiteral("/dev/ttyS0"));
    EXPECT_EQ(provider.devicePath(2), QStringLiteral("/dev/ttyUSB0"));
    EXPECT_EQ(provider.devicePath(3), QStringLiteral("/dev/ttyS2"));
}

TEST(SerialPortLockNames, FollowTheDeviceNameWithSlashesReplaced)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    SerialPortLock lock({dir.path() + QStringLiteral("/missing"), dir.path()});
    EXPECT_EQ(lock.lockPathFor(QStringLiteral("/dev/ttyUSB0")), dir.path() + "/LCK..ttyUSB0");
    EXPECT_EQ(lock.lockPathFor(QStringLiteral("/dev/pts/3")), dir.path() + "/LCK..pts_3");
    SerialPortLock none({dir.path() + QStringLiteral("/missing")});
    EXPECT_TRUE(none.lockPathFor(QStringLiteral("/dev/ttyS0")).isEmpty());
    EXPECT_EQ(none.acquire(QStringLiteral("/dev/ttyS0")), SerialPortLock::Result::NoPlace);
}

} // namespace
