#pragma once
// Port I/O through the kernel's ppdev driver: an I/O address is served by the parallel port whose
// base address it falls on (data register at base, status at base + 1, control at base + 2).
// Which /dev/parportN has a base address the kernel tells in /proc/sys/dev/parport/parportN/
// base-addr; for 888 (LPT1) and 956 (LPT2) a device given by the user takes precedence.
//
// A device is opened and claimed at its first access and kept until release(). Every failure
// throws PortIoError naming the device and the system's reason, and lets go of that device, so the
// next access starts afresh (a port that comes back is found again). A port another driver or
// program holds is reported as in use rather than waited for. No root and no direct I/O.
//
// PPCLAIM waits, with no time limit, while another holds the port. The holder is asked about first,
// but one can claim in between, so the claim itself runs on a thread of its own and the caller
// waits for it only `claimWait`. A claim given up on stays with its thread: if the kernel grants it
// later, the thread gives the port back and closes the device at once; until then that port is
// reported busy without a second claim. Such a thread never holds up the program's exit (the
// process ends it, and the kernel drops a wait whose descriptor goes).

#include "platform/portio.h"
#include "syscalls.h"

#include <chrono>
#include <map>
#include <memory>
#include <string>

namespace diagnostika {

// The ppdev requests the backend makes, for stand-ins of the kernel to tell them apart.
enum class PpRequest {
    Claim,
    Release,
    ReadData,
    WriteData,
    ReadStatus,
    ReadControl,
    WriteControl,
    Other
};
PpRequest ppRequestOf(unsigned long request);

class PpdevPortIo final : public PortIo {
public:
    // `lptDevices`: LPT number -> device path, for 1 (address 888) and 2 (address 956).
    // `calls` must outlive every claim this object starts (the system's do).
    explicit PpdevPortIo(std::map<int, QString> lptDevices,
                         linux_sys::Syscalls& calls = linux_sys::systemCalls(),
                         std::string parportInfo = "/proc/sys/dev/parport",
                         std::chrono::milliseconds claimWait = std::chrono::milliseconds(100));
    ~PpdevPortIo() override;

    std::uint8_t read(std::uint16_t address) override;
    void write(std::uint16_t address, std::uint8_t value) override;
    void release() override;

    // The device that serves `address`, found as the next first access would find it; throws
    // PortIoError when there is none.
    std::string deviceFor(std::uint16_t address);

private:
    struct Device {
        std::string path;
        int fd = -1;
    };
    // The open device whose registers include `address`, opening and claiming it if needed.
    Device& deviceAt(std::uint16_t address, int* offset);
    std::uint16_t baseFor(std::uint16_t address);
    std::string pathFor(std::uint16_t base);
    void refuseIfHeld(const std::string& path);
    // Claims the open `fd`; 0 or the errno of a failed claim. Throws PortIoError, leaving `fd` to
    // the claiming thread, when the claim does not return within claimWait_.
    int claim(const std::string& path, int fd);
    std::string claimBusy(const std::string& path) const;
    void access(std::uint16_t base, Device& device, PpRequest request, unsigned char* value,
                const char* what);
    void drop(std::uint16_t base);

    std::map<int, QString> lptDevices_;
    linux_sys::Syscalls& calls_;
    std::string parportInfo_;
    std::map<std::uint16_t, Device> open_; // by base address
    struct ClaimAttempt;
    std::chrono::milliseconds claimWait_;
    // Claims given up on, by device path, until their thread has given the port back.
    std::map<std::string, std::shared_ptr<ClaimAttempt>> waitingClaims_;
};

} // namespace diagnostika
