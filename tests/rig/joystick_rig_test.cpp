// Runs inside the rig's guest, as root: a joystick made with uinput, read through evdev by the SDL
// backend while the game window samples it.
#include "game/form3.h"
#include "platform/sdl/sdljoystick.h"
#include "support/widgets.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMdiArea>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace diagnostika;
using diagnostika::test::control;

namespace {

class UinputJoystick {
public:
    UinputJoystick()
    {
        fd_ = ::open("/dev/uinput", O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0)
            return;
        ioctl(fd_, UI_SET_EVBIT, EV_KEY);
        ioctl(fd_, UI_SET_EVBIT, EV_ABS);
        ioctl(fd_, UI_SET_EVBIT, EV_SYN);
        for (int key = BTN_TRIGGER; key <= BTN_BASE2; ++key)
            ioctl(fd_, UI_SET_KEYBIT, key);
        for (int axis : {ABS_X, ABS_Y, ABS_Z}) {
            ioctl(fd_, UI_SET_ABSBIT, axis);
            uinput_abs_setup abs{};
            abs.code = static_cast<__u16>(axis);
            abs.absinfo.minimum = -32768;
            abs.absinfo.maximum = 32767;
            ioctl(fd_, UI_ABS_SETUP, &abs);
        }
        uinput_setup setup{};
        setup.id.bustype = BUS_USB;
        setup.id.vendor = 0x1234;
        setup.id.product = 0x5678;
        std::strncpy(setup.name, "Rig test joystick", UINPUT_MAX_NAME_SIZE - 1);
        if (ioctl(fd_, UI_DEV_SETUP, &setup) != 0 || ioctl(fd_, UI_DEV_CREATE) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~UinputJoystick() { unplug(); }

    bool valid() const { return fd_ >= 0; }
    void move(int x, int y, int z)
    {
        emit(EV_ABS, ABS_X, x);
        emit(EV_ABS, ABS_Y, y);
        emit(EV_ABS, ABS_Z, z);
        emit(EV_SYN, SYN_REPORT, 0);
    }
    void unplug()
    {
        if (fd_ < 0)
            return;
        ioctl(fd_, UI_DEV_DESTROY);
        ::close(fd_);
        fd_ = -1;
    }

private:
    void emit(int type, int code, int value)
    {
        input_event ev{};
        ev.type = static_cast<__u16>(type);
        ev.code = static_cast<__u16>(code);
        ev.value = value;
        [[maybe_unused]] auto n = ::write(fd_, &ev, sizeof ev);
    }
    int fd_ = -1;
};

// Ticks the window until `done` holds, for at most `ms` of real time: the kernel and SDL take their
// own time to announce a device.
template <typename Done> bool tickUntil(Form3& form, Done done, int ms = 3000)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        form.Timer1_Timer();
        if (done())
            return true;
        QCoreApplication::processEvents();
        usleep(20000);
    }
    return false;
}

TEST(JoystickRigTest, PluggedInWhileTheWindowRunsAndUnpluggedAgain)
{
    SdlJoystick joystick;
    ASSERT_TRUE(joystick.start()) << joystick.lastError().toStdString();
    QMdiArea area;
    Form3 form(joystick);
    form.show(&area);
    auto text = [&](const char* name) { return control<QLabel>(form.client(), name)->text(); };

    form.Timer1_Timer();
    EXPECT_EQ(text("joy1"), QStringLiteral("0"));

    UinputJoystick stick;
    ASSERT_TRUE(stick.valid()) << std::strerror(errno);
    stick.move(-32768, 0, 32767);
    ASSERT_TRUE(tickUntil(form, [&] { return text("joy3").toInt() > 60000; }))
        << "the joystick plugged in was not found: " << joystick.lastError().toStdString();
    EXPECT_NEAR(text("joy1").toInt(), 0, 2);
    EXPECT_NEAR(text("joy2").toInt(), 32768, 2);
    EXPECT_NEAR(text("joy3").toInt(), 65535, 2);

    stick.move(16384, -16384, 0);
    ASSERT_TRUE(tickUntil(form, [&] { return std::abs(text("joy1").toInt() - 49152) <= 2; }));
    EXPECT_NEAR(text("joy2").toInt(), 16384, 2);
    const JoyInfo last = form.joypos;

    stick.unplug();
    ASSERT_TRUE(tickUntil(form, [&] { return !joystick.lastError().isEmpty(); }))
        << "the unplugged joystick still reads";
    EXPECT_EQ(form.joypos, last); // the last values stay
    EXPECT_EQ(text("joy1"), QString::number(last.wXpos));

    UinputJoystick again;
    ASSERT_TRUE(again.valid());
    again.move(0, 0, 0);
    EXPECT_TRUE(tickUntil(form, [&] { return std::abs(text("joy3").toInt() - 32768) <= 2; }))
        << "a joystick plugged in again was not found";
}

// The event device the kernel made for the uinput joystick, once it is there; empty if it never is.
QString eventDeviceOfTheRigJoystick()
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 3000) {
        const QStringList events =
            QDir(QStringLiteral("/sys/class/input")).entryList({QStringLiteral("event*")});
        for (const QString& event : events) {
            QFile name(QStringLiteral("/sys/class/input/%1/device/name").arg(event));
            if (name.open(QIODevice::ReadOnly) && name.readAll().trimmed() == "Rig test joystick" &&
                QFile::exists(QStringLiteral("/dev/input/") + event))
                return QStringLiteral("/dev/input/") + event;
        }
        usleep(20000);
    }
    return {};
}

// SDL skips an event device it may not open without a word; the backend's reason names it, with the
// group that may read it and the command to join that group. The query runs as an unprivileged user
// (the test below, started again through setpriv).
TEST(JoystickRigTest, AJoystickTheUserMayNotReadIsNamedWithItsGroup)
{
    if (std::getenv("RIG_JOYSTICK_DEVICE"))
        GTEST_SKIP() << "the unprivileged half runs only the query";
    UinputJoystick stick;
    ASSERT_TRUE(stick.valid()) << std::strerror(errno);
    const QString device = eventDeviceOfTheRigJoystick();
    ASSERT_FALSE(device.isEmpty()) << "the uinput joystick has no event device";
    const group* input = ::getgrnam("input");
    ASSERT_NE(input, nullptr);
    const QByteArray path = device.toLocal8Bit();
    ASSERT_EQ(::chown(path.constData(), 0, input->gr_gid), 0);
    ASSERT_EQ(::chmod(path.constData(), 0660), 0);

    const std::string command = "RIG_JOYSTICK_DEVICE=" + device.toStdString() +
                                " setpriv --reuid=65534 --regid=65534 --clear-groups " +
                                QCoreApplication::applicationFilePath().toStdString() +
                                " --gtest_brief=1 --gtest_filter='JoystickRigUnprivileged.*'";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the unprivileged query failed";
}

TEST(JoystickRigUnprivileged, TheReasonNamesTheDeviceAndItsGroup)
{
    const char* device = std::getenv("RIG_JOYSTICK_DEVICE");
    if (!device)
        GTEST_SKIP() << "started by the test above as an unprivileged user";
    SdlJoystick joystick;
    JoyInfo info;
    EXPECT_FALSE(joystick.getPos(0, info));
    EXPECT_EQ(joystick.lastError().toStdString(),
              "Joystick 1 nie je pripojený. Joystick " + std::string(device) +
                  " nemožno čítať: prístup odmietnutý; zariadenie smie otvoriť skupina input: "
                  "pridajte používateľa do skupiny input: sudo usermod -aG input $USER, potom sa "
                  "odhláste a prihláste");
}

} // namespace
