#include "simtlc549.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace diagnostika {

Tlc549::Tlc549(Input input) : input_(std::move(input)) {}

std::uint8_t Tlc549::codeFor(double volts)
{
    const double code = std::round(volts * 255.0 / 5.0);
    return static_cast<std::uint8_t>(std::clamp(code, 0.0, 255.0));
}

void Tlc549::writeData(std::uint8_t value)
{
    const bool wasSelected = (data_ & 1) == 0;
    const bool clockWasHigh = (data_ & 2) != 0;
    data_ = value;
    const bool selected = (value & 1) == 0;
    const bool clockHigh = (value & 2) != 0;

    if (selected && !wasSelected) {
        bit_ = 0;
        return;
    }
    if (selected && clockWasHigh && !clockHigh && bit_ < 8) {
        ++bit_;
        if (bit_ == 8)
            result_ = codeFor(input_ ? input_() : 0.0);
    }
}

bool Tlc549::dataOut() const
{
    if ((data_ & 1) != 0 || bit_ >= 8)
        return true; // floating, pulled up
    return ((result_ >> (7 - bit_)) & 1) != 0;
}

std::uint8_t Tlc549::readStatus() const
{
    return static_cast<std::uint8_t>((dataOut() ? 0x00 : 0x80) | 0x78);
}

SimulatedPortIo::SimulatedPortIo(std::initializer_list<std::uint16_t> bases, Inputs inputs)
{
    for (std::uint16_t base : bases) {
        Tlc549::Input input;
        if (inputs)
            input = [inputs, base] { return inputs(base); };
        ports_.emplace(base, Port{Tlc549(std::move(input))});
    }
}

SimulatedPortIo::Port& SimulatedPortIo::portAt(std::uint16_t address, std::uint16_t* offset)
{
    for (auto& [base, port] : ports_) {
        if (address >= base && address - base <= 2) {
            *offset = static_cast<std::uint16_t>(address - base);
            return port;
        }
    }
    throw PortIoError("žiadny simulovaný paralelný port na adrese " + std::to_string(address));
}

std::uint8_t SimulatedPortIo::read(std::uint16_t address)
{
    std::uint16_t offset = 0;
    Port& port = portAt(address, &offset);
    switch (offset) {
    case 0:
        return port.chip.readData();
    case 1:
        return port.chip.readStatus();
    default:
        return port.control;
    }
}

void SimulatedPortIo::write(std::uint16_t address, std::uint8_t value)
{
    std::uint16_t offset = 0;
    Port& port = portAt(address, &offset);
    if (offset == 0)
        port.chip.writeData(value);
    else if (offset == 2)
        port.control = value;
    // The status register takes no writes.
}

SimulatedPortIo::Inputs SimulatedPortIo::driftingInputs(const TickClock& clock)
{
    return [&clock](std::uint16_t base) {
        const double t = static_cast<double>(clock.milliseconds()) / 1000.0;
        const double phase = base * 0.01;
        // A slow swing of about four minutes with a faster ripple over it, like a heating machine.
        const double slow = std::sin(2 * std::numbers::pi * t / 240.0 + phase);
        const double ripple = std::sin(2 * std::numbers::pi * t / 17.0 + 3 * phase);
        return 2.5 + 1.3 * slow + 0.2 * ripple;
    };
}

} // namespace diagnostika
