// A quit signal to the running program: its windows close, its port is released, its lock removed.
#include "app/orderlyquit.h"
#include "com/form2.h"
#include "platform/backends.h"
#include "platform/linux/serialportlock.h"
#include "shell/mdiform1.h"

#include <QComboBox>
#include <QFile>
#include <QTimer>
#include <csignal>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/ioctl.h>
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

} // namespace
