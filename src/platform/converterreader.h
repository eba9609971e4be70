#pragma once
// The TLC549 read sequence: an 8-bit serial converter clocked bit by bit through the port's data
// register (chip select on bit 0, active low; I/O clock on bit 1), its output taken from status
// bit 7, which the port presents inverted. The parallel-port window reads it on its timer; the
// continuous vibration reader reads it in a loop on a thread of its own.

#include "portio.h"

#include <QStringView>
#include <array>
#include <cstdint>

namespace diagnostika {

// The data register's address for the text of the port list: "LPT1" is 888, anything else (the
// empty text of an unpicked list included) is 956.
std::uint16_t portAddressFor(QStringView portText);

// The reader's variables. They belong to the window object and keep their values between reads.
struct ConverterReader {
    std::int16_t adresaportu = 0;
    std::int16_t oneskorenie = 0;
    std::int16_t pocetcitani = 0;
    std::int16_t stavovybit = 0;
    std::int16_t hodnotabitu = 0;
    double napatievstupu = 0; // volts, 0 to 5: the mean of the two results, 255 read as 5 V
    // The two results (codes 0 to 255) the volts were taken from, kept for the recording.
    std::array<std::uint8_t, 2> kody{};

    // One read: exactly 55 port accesses, ending with chip select high (data register 5).
    // An access that fails throws PortIoError out of the read at once; `napatievstupu` then keeps
    // the previous read's volts rather than a half-accumulated sum, so nothing downstream ever sees
    // a value that was not measured.
    void citanieprevodnika(PortIo& io, QStringView portText);

    static constexpr int accessesPerRead = 55;
};

} // namespace diagnostika
