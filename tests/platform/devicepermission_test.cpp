// The permission advice: what the user is told for each kind of device node, read from a real node.
#include "platform/linux/devicepermission.h"

#include <QFile>
#include <QTemporaryDir>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace diagnostika::linux_sys {
namespace {

TEST(DevicePermission, TheReasonNamesTheGroupAndWhatToDo)
{
    auto facts = [](std::string group, unsigned mode, bool groupMay, bool now, bool later) {
        DeviceAccess a;
        a.known = true;
        a.owner = "root";
        a.group = std::move(group);
        a.mode = mode;
        a.groupMay = groupMay;
        a.memberNow = now;
        a.memberLater = later;
        return a;
    };
    const struct {
        DeviceAccess access;
        std::string reason;
    } cases[] = {
        {facts("dialout", 0660, true, false, false),
         "prístup odmietnutý; zariadenie smie otvoriť skupina dialout: pridajte používateľa do "
         "skupiny dialout: sudo usermod -aG dialout $USER, potom sa odhláste a prihláste"},
        {facts("lp", 0660, true, false, true),
         "prístup odmietnutý; zariadenie smie otvoriť skupina lp, do ktorej už patríte, ale toto "
         "prihlásenie ju ešte nemá: odhláste sa a prihláste"},
        {facts("input", 0660, true, true, false),
         "prístup odmietnutý aj členovi skupiny input, ktorá ho smie otvoriť: prístup bráni niečo "
         "iné (ACL, bezpečnostná politika)"},
        // No group to join: the user cannot mend it alone.
        {facts("root", 0600, false, false, false),
         "prístup odmietnutý; zariadenie smie otvoriť len používateľ root (skupina root, práva "
         "0600): požiadajte správcu, aby ho pravidlom udev sprístupnil niektorej skupine"},
        {DeviceAccess{}, "prístup odmietnutý"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(permissionReason(c.access), c.reason) << c.access.group;
}

TEST(DevicePermission, FactsComeFromTheNodeAndThisProcess)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("node")).toStdString();
    ASSERT_TRUE(QFile(QString::fromStdString(path)).open(QIODevice::WriteOnly));
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    const group* own = ::getgrgid(::getegid());
    ASSERT_NE(own, nullptr);

    const DeviceAccess read = examineDevice(path, DeviceUse::Read);
    EXPECT_TRUE(read.known);
    EXPECT_EQ(read.group, own->gr_name);
    EXPECT_EQ(read.mode, 0640u);
    EXPECT_TRUE(read.memberNow);
    EXPECT_FALSE(read.memberLater);
    // Root's own group is never offered, whatever its bits.
    EXPECT_EQ(read.groupMay, ::getegid() != 0);
    EXPECT_FALSE(examineDevice(path, DeviceUse::ReadWrite).groupMay);
    EXPECT_FALSE(examineDevice(path + ".missing", DeviceUse::Read).known);
}

TEST(DevicePermission, JoysticksAreToldFromOtherInputDevicesByTheirCapabilities)
{
    const struct {
        const char* what;
        const char* abs;
        const char* key;
        bool joystick;
    } cases[] = {
        {"gamepad (BTN_A..)", "3003f", "7cdb000000000000 0 0 0 0", true},
        {"joystick (BTN_TRIGGER..)", "30027", "ffff00000000 0 0 0 0", true},
        {"touchpad: axes, but touch and mouse buttons", "660800011000003", "6420 30000 0 0 0 0",
         false},
        {"motion sensor: axes, no buttons", "7", "0", false},
        {"keyboard: keys, no axes", "0", "fffffffffffffffe ffffffffffffffff", false},
        {"empty masks", "", "", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(looksLikeJoystick(c.abs, c.key), c.joystick) << c.what;
}

} // namespace
} // namespace diagnostika::linux_sys
