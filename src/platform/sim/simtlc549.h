#pragma once
// A TLC549 8-bit serial converter wired to a parallel port, driven only by what a program writes to
// the port's data register and reads from its status register:
//   data bit 0 -> chip select (active low), data bit 1 -> I/O clock,
//   converter data out -> status bit 7, which the port presents inverted.
// Selecting the chip puts the most significant bit of the previous conversion on data out; each
// falling clock edge puts the next one there; the eighth falling edge samples the input and starts
// the next conversion. While the chip is not selected its output floats, and the port's pull-up
// makes it read as a 1.

#include "platform/portio.h"
#include "platform/tickclock.h"

#include <cstdint>
#include <functional>
#include <map>

namespace diagnostika {

class Tlc549 {
public:
    // The analog input in volts; 0 to 5 V span codes 0 to 255 (reference 5 V).
    using Input = std::function<double()>;

    explicit Tlc549(Input input);

    void writeData(std::uint8_t value);
    std::uint8_t readData() const { return data_; }
    // The status register as the port shows it: bit 7 the inverted data out, bits 3 to 6 idle high.
    std::uint8_t readStatus() const;

    // The code a conversion of `volts` gives.
    static std::uint8_t codeFor(double volts);

private:
    bool dataOut() const;

    Input input_;
    std::uint8_t data_ = 0xFF; // a port comes up with all data bits high: the chip is deselected
    std::uint8_t result_ = 0;  // the last conversion, shifted out at the next selection
    int bit_ = 0;              // bits shifted since the chip was selected
};

// Port I/O with a simulated converter at each of the given data-register addresses (base: data,
// base + 1: status, base + 2: control, which reads back what was written).
class SimulatedPortIo final : public PortIo {
public:
    // The input of the converter at a base address.
    using Inputs = std::function<double(std::uint16_t base)>;

    SimulatedPortIo(std::initializer_list<std::uint16_t> bases, Inputs inputs);

    std::uint8_t read(std::uint16_t address) override;
    void write(std::uint16_t address, std::uint8_t value) override;
    void release() override {}

    // A temperature-like input that drifts slowly between about 1 and 4 V, different at each port.
    static Inputs driftingInputs(const TickClock& clock);

private:
    struct Port {
        Tlc549 chip;
        std::uint8_t control = 0;
    };
    Port& portAt(std::uint16_t address, std::uint16_t* offset);

    std::map<std::uint16_t, Port> ports_;
};

} // namespace diagnostika
