#include "ppdevportio.h"

#include "devicepermission.h"
#include "platform/devicepath.h"

#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <linux/ppdev.h>
#include <mutex>
#include <sys/ioctl.h>
#include <system_error>
#include <thread>

namespace diagnostika {
namespace {

unsigned long requestCode(PpRequest request)
{
    switch (request) {
    case PpRequest::Claim:
        return PPCLAIM;
    case PpRequest::Release:
        return PPRELEASE;
    case PpRequest::ReadData:
        return PPRDATA;
    case PpRequest::WriteData:
        return PPWDATA;
    case PpRequest::ReadStatus:
        return PPRSTATUS;
    case PpRequest::ReadControl:
        return PPRCONTROL;
    case PpRequest::WriteControl:
        return PPWCONTROL;
    case PpRequest::Other:
        break;
    }
    return 0;
}

std::string hexAddress(std::uint16_t address)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", address);
    return text;
}

} // namespace

PpRequest ppRequestOf(unsigned long request)
{
    for (PpRequest r :
         {PpRequest::Claim, PpRequest::Release, PpRequest::ReadData, PpRequest::WriteData,
          PpRequest::ReadStatus, PpRequest::ReadControl, PpRequest::WriteControl}) {
        if (requestCode(r) == request)
            return r;
    }
    return PpRequest::Other;
}

// One PPCLAIM, shared by the caller and the thread that makes it.
struct PpdevPortIo::ClaimAttempt {
    std::mutex mutex;
    std::condition_variable returned;
    bool finished = false;  // the claim has returned
    bool abandoned = false; // the caller has stopped waiting: the descriptor is the thread's
    int error = 0;          // errno of a failed claim
};

PpdevPortIo::PpdevPortIo(std::map<int, QString> lptDevices, linux_sys::Syscalls& calls,
                         std::string parportInfo, std::chrono::milliseconds claimWait)
    : lptDevices_(std::move(lptDevices)), calls_(calls), parportInfo_(std::move(parportInfo)),
      claimWait_(claimWait)
{
}

PpdevPortIo::~PpdevPortIo()
{
    release();
}

std::uint16_t PpdevPortIo::baseFor(std::uint16_t address)
{
    for (const auto& [base, device] : open_) {
        if (address >= base && address - base <= 2)
            return base;
    }
    // The two LPT addresses first, then whatever bases the kernel lists.
    for (std::uint16_t base : {lpt1Address, lpt2Address}) {
        if (address >= base && address - base <= 2)
            return base;
    }
    std::vector<std::string> names;
    calls_.listFolder(parportInfo_, names);
    for (const std::string& name : names) {
        std::string text;
        if (name.rfind("parport", 0) != 0 ||
            !calls_.readText(parportInfo_ + '/' + name + "/base-addr", text))
            continue;
        unsigned long base = 0;
        if (std::sscanf(text.c_str(), "%lu", &base) == 1 && address >= base && address - base <= 2)
            return static_cast<std::uint16_t>(base);
    }
    return address;
}

std::string PpdevPortIo::pathFor(std::uint16_t base)
{
    const int lpt = base == lpt1Address ? 1 : base == lpt2Address ? 2 : 0;
    if (const auto it = lptDevices_.find(lpt); it != lptDevices_.end())
        return devicePathBytes(it->second).toStdString();

    std::vector<std::string> names;
    calls_.listFolder(parportInfo_, names);
    for (const std::string& name : names) {
        std::string text;
        if (name.rfind("parport", 0) != 0 ||
            !calls_.readText(parportInfo_ + '/' + name + "/base-addr", text))
            continue;
        unsigned long found = 0;
        if (std::sscanf(text.c_str(), "%lu", &found) == 1 && found == base)
            return "/dev/" + name;
    }
    throw PortIoError("žiadny /dev/parportN nemá základnú adresu " + std::to_string(base) + " (" +
                      hexAddress(base) + ")");
}

std::string PpdevPortIo::deviceFor(std::uint16_t address)
{
    const std::uint16_t base = baseFor(address);
    if (const auto it = open_.find(base); it != open_.end())
        return it->second.path;
    return pathFor(base);
}

PpdevPortIo::Device& PpdevPortIo::deviceAt(std::uint16_t address, int* offset)
{
    const std::uint16_t base = baseFor(address);
    *offset = address - base;
    if (const auto it = open_.find(base); it != open_.end())
        return it->second;

    Device device;
    device.path = pathFor(base);
    refuseIfHeld(device.path);
    if (const auto it = waitingClaims_.find(device.path); it != waitingClaims_.end()) {
        bool finished = false;
        {
            std::lock_guard<std::mutex> guard(it->second->mutex);
            finished = it->second->finished;
        }
        if (!finished)
            throw PortIoError(claimBusy(device.path));
        waitingClaims_.erase(it); // its thread has given the port back
    }
    device.fd = calls_.open(device.path.c_str(), O_RDWR | O_CLOEXEC);
    if (device.fd < 0 && linux_sys::isPermissionError(errno))
        throw PortIoError(device.path + ": " +
                          linux_sys::permissionReason(linux_sys::examineDevice(
                              device.path, linux_sys::DeviceUse::ReadWrite)));
    if (device.fd < 0)
        throw PortIoError(device.path + ": " + linux_sys::errorText(errno));
    if (const int error = claim(device.path, device.fd)) {
        calls_.close(device.fd);
        throw PortIoError(device.path + ": PPCLAIM: " + linux_sys::errorText(error));
    }
    return open_.emplace(base, std::move(device)).first->second;
}

int PpdevPortIo::claim(const std::string& path, int fd)
{
    auto attempt = std::make_shared<ClaimAttempt>();
    try {
        // The thread has only the attempt and the system calls, so it may outlive this object.
        std::thread([attempt, &calls = calls_, fd] {
            const int rc = calls.ioctl(fd, PPCLAIM, nullptr);
            const int error = rc < 0 ? errno : 0;
            {
                std::lock_guard<std::mutex> guard(attempt->mutex);
                if (!attempt->abandoned) {
                    attempt->finished = true;
                    attempt->error = error;
                    attempt->returned.notify_all();
                    return;
                }
            }
            // Nobody waits for the port any more: a late grant is given back at once, and then
            // the port may be claimed anew.
            if (rc == 0)
                calls.ioctl(fd, PPRELEASE, nullptr);
            {
                std::lock_guard<std::mutex> guard(attempt->mutex);
                attempt->finished = true;
            }
            calls.close(fd);
        }).detach();
    } catch (const std::system_error& failure) {
        return failure.code().value();
    }

    std::unique_lock<std::mutex> lock(attempt->mutex);
    if (attempt->returned.wait_for(lock, claimWait_, [&] { return attempt->finished; }))
        return attempt->error;
    attempt->abandoned = true;
    waitingClaims_[path] = attempt;
    throw PortIoError(claimBusy(path));
}

std::string PpdevPortIo::claimBusy(const std::string& path) const
{
    return path + ": port používa iný program alebo zariadenie (nepodarilo sa ho získať do " +
           std::to_string(claimWait_.count()) + " ms)";
}

void PpdevPortIo::refuseIfHeld(const std::string& path)
{
    // PPCLAIM blocks, with no time limit, while another holds the port: a printer driver in the
    // middle of a job or another program. The UI thread must not wait on it, so ask the parport
    // layer first who holds the port ("none" when nobody does).
    // A device given by another name (a udev link) is asked about under the port's own name.
    std::error_code ignored;
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(path, ignored);
    const std::string name =
        (resolved.empty() ? std::filesystem::path(path) : resolved).filename().string();
    if (name.rfind("parport", 0) != 0)
        return;
    std::string holder;
    if (!calls_.readText(parportInfo_ + '/' + name + "/devices/active", holder))
        return;
    while (!holder.empty() && std::isspace(static_cast<unsigned char>(holder.back())))
        holder.pop_back();
    if (!holder.empty() && holder != "none")
        throw PortIoError(path + ": port používa iný program alebo zariadenie (" + holder + ")");
}

void PpdevPortIo::access(std::uint16_t base, Device& device, PpRequest request,
                         unsigned char* value, const char* what)
{
    if (calls_.ioctl(device.fd, requestCode(request), value) < 0) {
        const int error = errno;
        const std::string message = device.path + ": " + what + ": " + linux_sys::errorText(error);
        drop(base);
        throw PortIoError(message);
    }
}

std::uint8_t PpdevPortIo::read(std::uint16_t address)
{
    int offset = 0;
    Device& device = deviceAt(address, &offset);
    const auto base = static_cast<std::uint16_t>(address - offset);
    unsigned char value = 0;
    switch (offset) {
    case 0:
        access(base, device, PpRequest::ReadData, &value, "PPRDATA");
        break;
    case 1:
        access(base, device, PpRequest::ReadStatus, &value, "PPRSTATUS");
        break;
    default:
        access(base, device, PpRequest::ReadControl, &value, "PPRCONTROL");
        break;
    }
    return value;
}

void PpdevPortIo::write(std::uint16_t address, std::uint8_t value)
{
    int offset = 0;
    Device& device = deviceAt(address, &offset);
    const auto base = static_cast<std::uint16_t>(address - offset);
    unsigned char byte = value;
    if (offset == 0)
        access(base, device, PpRequest::WriteData, &byte, "PPWDATA");
    else if (offset == 2)
        access(base, device, PpRequest::WriteControl, &byte, "PPWCONTROL");
    // The status register takes no writes, on the hardware as here.
}

void PpdevPortIo::drop(std::uint16_t base)
{
    const auto it = open_.find(base);
    if (it == open_.end())
        return;
    // Nothing to report if letting go fails: the descriptor is gone either way.
    calls_.ioctl(it->second.fd, PPRELEASE, nullptr);
    calls_.close(it->second.fd);
    open_.erase(it);
}

void PpdevPortIo::release()
{
    while (!open_.empty())
        drop(open_.begin()->first);
}

} // namespace diagnostika
