#include "converterreader.h"

namespace diagnostika {

std::uint16_t portAddressFor(QStringView portText)
{
    return portText == QLatin1String("LPT1") ? lpt1Address : lpt2Address;
}

void ConverterReader::citanieprevodnika(PortIo& io, QStringView portText)
{
    adresaportu = static_cast<std::int16_t>(portAddressFor(portText));
    oneskorenie = 1;
    pocetcitani = 2;

    const auto data = static_cast<std::uint16_t>(adresaportu);
    const auto status = static_cast<std::uint16_t>(data + 1);

    // The running sum of the bits by place value, 0 to 255 per pass.
    double sucet = 0;
    std::array<std::uint8_t, 2> codes{};
    for (int citanie = 1; citanie <= pocetcitani; ++citanie) {
        const double before = sucet;
        io.write(data, 0);
        io.write(data, 1); // chip select high: the converter lets go of its output
        for (int cakanie = 1; cakanie <= oneskorenie; ++cakanie) {
            // The one idle iteration between deselecting and selecting the chip: the port accesses
            // themselves set the pace, nothing else does.
        }
        io.write(data, 0); // chip select low: the previous conversion's MSB appears
        for (int bit = 0; bit <= 7; ++bit) {
            stavovybit = static_cast<std::int16_t>(io.read(status) & 0x80);
            // The port inverts status bit 7: a set bit is a 0 from the converter.
            hodnotabitu = stavovybit == 128 ? 0 : 1;
            sucet += hodnotabitu * static_cast<double>(1 << (7 - bit));
            io.write(data, 2); // clock high
            io.write(data, 0); // clock low: the next bit; after the eighth a new conversion
        }
        if (citanie <= static_cast<int>(codes.size()))
            codes[static_cast<std::size_t>(citanie - 1)] =
                static_cast<std::uint8_t>(sucet - before);
    }
    napatievstupu = (5 * sucet) / (pocetcitani * 255);
    kody = codes;
    io.write(data, 5);
}

} // namespace diagnostika
