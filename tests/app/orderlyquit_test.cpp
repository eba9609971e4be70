// A quit signal to the running program: its windows close, its port is released, its lock removed.
#include "app/orderlyquit.h"
#include "com/form2.h"
#include "platform/backends.h"
#include "platform/linux/serialportlock.h"
#include "shell/mdiform1.h"

#include <QComboBox>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace diagnostika;

namespace {

TEST(OrderlyQuit, ATermSignalClosesTheWindowsAndReleasesThePortAndItsLock)
{
    int master = -1, slave = -1;
    char name[256] = {};
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    const QString device = QString::fromLocal8Bit(name);

    BackendOptions options;
    options.comDevices[1] = device;
    Backends backends = makeBackends(options);
    auto main = std::make_unique<MDIForm1>(backends);
    main->show();
    main->mnuSerialItem_Click();
    auto* port = main->form2().client()->findChild<QComboBox*>(QStringLiteral("port"));
    ASSERT_NE(port, nullptr);
    const int com1 = port->findText(QStringLiteral("COM1"));
    port->setCurrentIndex(com1);
    Q_EMIT port->activated(com1);
    ASSERT_TRUE(main->form2().MSComm1()->isOpen());
    const QString lock = SerialPortLock().lockPathFor(device);
    ASSERT_TRUE(QFile::exists(lock)) << lock.toStdString();
    int exclusive = 0;
    ASSERT_EQ(::ioctl(slave, TIOCGEXCL, &exclusive), 0);
    ASSERT_EQ(exclusive, 1);

    QuitSignals quitSignals;
    QTimer::singleShot(0, [] { ::kill(::getpid(), SIGTERM); });
    EXPECT_EQ(execUntilQuit(*main, quitSignals), 128 + SIGTERM);
    EXPECT_FALSE(main->isVisible());
    EXPECT_FALSE(main->form2().MSComm1() && main->form2().MSComm1()->isOpen());
    EXPECT_FALSE(QFile::exists(lock));
    ASSERT_EQ(::ioctl(slave, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);

    main.reset();
    ::close(master);
    ::close(slave);
}

// The orderly quit needs the event loop; when the user-interface thread is stuck (here in opening a
// FIFO nobody reads, as it would be on a hung mount), a second signal ends the program from the
// signal handler, with the lock files removed. This runs in a child process of its own: the real
// program can no longer be made to wait so, and the ending must be its exit status.
TEST(OrderlyQuitDeathTest, ASecondSignalEndsAStuckProgramAtOnceAndRemovesItsLock)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("fifo"));
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    const QString device = QStringLiteral("/dev/ttyDiagnostikaTest");
    const QString lockPath = SerialPortLock({dir.path()}).lockPathFor(device);
    ASSERT_FALSE(lockPath.isEmpty());

    EXPECT_EXIT(
        {
            SerialPortLock lock({dir.path()});
            if (lock.acquire(device) != SerialPortLock::Result::Taken || !QFile::exists(lockPath))
                std::_Exit(3);
            QuitSignals quitSignals;
            ::alarm(20); // a program that stays stuck ends otherwise, and fails the test
            // Sent from another thread, which takes none of them: the stuck thread gets both,
            // SIGINT first (handled first also when both wait), SIGTERM second.
            std::thread sender([] {
                sigset_t quit;
                sigemptyset(&quit);
                sigaddset(&quit, SIGINT);
                sigaddset(&quit, SIGTERM);
                pthread_sigmask(SIG_BLOCK, &quit, nullptr);
                ::kill(::getpid(), SIGINT);
                ::kill(::getpid(), SIGTERM);
            });
            sender.detach();
            ::open(fifo.toLocal8Bit().constData(), O_WRONLY); // waits for a reader for ever
            std::_Exit(4);
        },
        ::testing::ExitedWithCode(128 + SIGTERM), "");
    EXPECT_FALSE(QFile::exists(lockPath));
}

} // namespace
