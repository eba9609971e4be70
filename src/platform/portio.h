#pragma once
// Port I/O: read and write one byte at a PC I/O address, as the parallel-port window drives its
// converter through the data register (base) and the status register (base + 1).
// Used from the UI thread only. A device is opened on first use, never at start.

#include <QString>
#include <cstdint>
#include <stdexcept>

namespace diagnostika {

// The parallel ports' base addresses (their data registers). LPT2 is 0x3BC, not the more common
// 0x278: the converter board this program serves sits there.
inline constexpr std::uint16_t lpt1Address = 888; // 0x378
inline constexpr std::uint16_t lpt2Address = 956; // 0x3BC

// A failed access. The message names the device and the system's reason, for a person to act on.
class PortIoError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class PortIo {
public:
    virtual ~PortIo() = default;

    // Throws PortIoError when the port behind `address` cannot be opened, claimed or accessed.
    virtual std::uint8_t read(std::uint16_t address) = 0;
    virtual void write(std::uint16_t address, std::uint8_t value) = 0;

    // Gives up every device opened so far (the parallel-port window calls this when it closes).
    virtual void release() = 0;
};

} // namespace diagnostika
