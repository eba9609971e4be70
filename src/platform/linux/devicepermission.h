#pragma once
// What to tell a user whose account may not open a device: the group that may (read from the
// device node itself, since distributions differ: dialout, lp, input, uucp, ...) and how to join
// it.

#include <cerrno>
#include <string>

namespace diagnostika::linux_sys {

enum class DeviceUse { Read, ReadWrite };

// What the node and the account say about one device.
struct DeviceAccess {
    bool known = false;       // the node could be examined at all
    std::string owner;        // the owning user's name
    std::string group;        // the owning group's name (its number when it has no name)
    unsigned mode = 0;        // the permission bits, e.g. 0660
    bool groupMay = false;    // the group's bits allow the use (and the group is not root's)
    bool memberNow = false;   // this process already has the group
    bool memberLater = false; // the account database lists the user in it, but this login has not
                              // picked it up yet
};

// Examines `path` for a user of this process.
DeviceAccess examineDevice(const std::string& path, DeviceUse use);

// The reason for EACCES/EPERM, in Slovak, without the device's name (callers put it in front):
// the group and the command that lets the user in, or whom to ask where no group may.
std::string permissionReason(const DeviceAccess& access);

inline bool isPermissionError(int error)
{
    return error == EACCES || error == EPERM;
}

// Whether an input device with these sysfs capability masks (capabilities/abs and capabilities/key:
// hexadecimal words, most significant first) is a joystick or gamepad: X and Y axes and a joystick
// or gamepad button, as SDL tells them apart.
bool looksLikeJoystick(const std::string& absMask, const std::string& keyMask);

// The first event device under `devInput` that the kernel describes (under `sysInput`) as a
// joystick or gamepad and that this process may not read; empty when there is none. SDL skips such
// devices without a word, so this is how a user learns that the joystick is there but closed.
std::string unreadableJoystick(const std::string& sysInput = "/sys/class/input",
                               const std::string& devInput = "/dev/input");

} // namespace diagnostika::linux_sys
