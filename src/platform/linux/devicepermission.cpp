#include "devicepermission.h"

#include "syscalls.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace diagnostika::linux_sys {
namespace {

std::string groupName(gid_t gid)
{
    if (const group* g = ::getgrgid(gid))
        return g->gr_name;
    return std::to_string(gid);
}

std::string userName(uid_t uid)
{
    if (const passwd* p = ::getpwuid(uid))
        return p->pw_name;
    return std::to_string(uid);
}

bool processHasGroup(gid_t gid)
{
    if (::getegid() == gid)
        return true;
    const int count = ::getgroups(0, nullptr);
    if (count <= 0)
        return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    const int got = ::getgroups(count, groups.data());
    return got > 0 && std::find(groups.begin(), groups.begin() + got, gid) != groups.begin() + got;
}

// Whether the account database puts the real user in `gid` (a change made since the user logged in
// shows here before the login's own groups have it).
bool accountHasGroup(gid_t gid)
{
    const passwd* p = ::getpwuid(::getuid());
    if (!p)
        return false;
    const std::string name = p->pw_name;
    const gid_t primary = p->pw_gid;
    int count = 64;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    if (::getgrouplist(name.c_str(), primary, groups.data(), &count) < 0) {
        groups.resize(static_cast<std::size_t>(count));
        if (::getgrouplist(name.c_str(), primary, groups.data(), &count) < 0)
            return false;
    }
    return std::find(groups.begin(), groups.begin() + count, gid) != groups.begin() + count;
}

std::string octal(unsigned mode)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04o", mode);
    return text;
}

// Whether bit `bit` is set in a sysfs capability mask: hexadecimal words of the kernel's long,
// most significant first.
bool hasBit(const std::string& mask, unsigned bit)
{
    std::vector<std::string> words;
    std::istringstream in(mask);
    for (std::string word; in >> word;)
        words.push_back(word);
    constexpr unsigned wordBits = sizeof(long) * 8;
    const std::size_t index = bit / wordBits;
    if (index >= words.size())
        return false;
    const unsigned long long value =
        std::strtoull(words[words.size() - 1 - index].c_str(), nullptr, 16);
    return (value >> (bit % wordBits)) & 1u;
}

} // namespace

DeviceAccess examineDevice(const std::string& path, DeviceUse use)
{
    DeviceAccess a;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return a;
    a.known = true;
    a.owner = userName(st.st_uid);
    a.group = groupName(st.st_gid);
    a.mode = st.st_mode & 07777;
    const unsigned needed = use == DeviceUse::ReadWrite ? 060u : 040u;
    // Root's group is no group to join.
    a.groupMay = st.st_gid != 0 && (a.mode & needed) == needed;
    a.memberNow = processHasGroup(st.st_gid);
    a.memberLater = !a.memberNow && accountHasGroup(st.st_gid);
    return a;
}

std::string permissionReason(const DeviceAccess& a)
{
    std::string text = "prístup odmietnutý";
    if (!a.known)
        return text;
    if (!a.groupMay)
        return text + "; zariadenie smie otvoriť len používateľ " + a.owner + " (skupina " +
               a.group + ", práva " + octal(a.mode) +
               "): požiadajte správcu, aby ho pravidlom udev sprístupnil niektorej skupine";
    if (a.memberNow)
        return text + " aj členovi skupiny " + a.group +
               ", ktorá ho smie otvoriť: prístup bráni niečo iné (ACL, bezpečnostná politika)";
    if (a.memberLater)
        return text + "; zariadenie smie otvoriť skupina " + a.group +
               ", do ktorej už patríte, ale toto prihlásenie ju ešte nemá: odhláste sa a prihláste";
    return text + "; zariadenie smie otvoriť skupina " + a.group +
           ": pridajte používateľa do skupiny " + a.group + ": sudo usermod -aG " + a.group +
           " $USER, potom sa odhláste a prihláste";
}

bool looksLikeJoystick(const std::string& absMask, const std::string& keyMask)
{
    constexpr unsigned absX = 0x00, absY = 0x01, firstJoystickButton = 0x120,
                       lastGamepadButton = 0x13f;
    if (!hasBit(absMask, absX) || !hasBit(absMask, absY))
        return false;
    for (unsigned b = firstJoystickButton; b <= lastGamepadButton; ++b) {
        if (hasBit(keyMask, b))
            return true;
    }
    return false;
}

std::string unreadableJoystick(const std::string& sysInput, const std::string& devInput)
{
    Syscalls& calls = systemCalls();
    std::vector<std::string> names;
    calls.listFolder(sysInput, names);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        if (name.rfind("event", 0) != 0)
            continue;
        const std::string caps = sysInput + '/' + name + "/device/capabilities/";
        std::string abs, key;
        if (!calls.readText(caps + "abs", abs) || !calls.readText(caps + "key", key) ||
            !looksLikeJoystick(abs, key))
            continue;
        const std::string device = devInput + '/' + name;
        if (::faccessat(AT_FDCWD, device.c_str(), R_OK, AT_EACCESS) != 0 &&
            isPermissionError(errno))
            return device;
    }
    return {};
}

} // namespace diagnostika::linux_sys
