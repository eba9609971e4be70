#include "lpt/converterreader.h"
#include "support/fakeportio.h"

#include <gtest/gtest.h>
#include <vector>

namespace diagnostika {
namespace {

using test::FakePortIo;

TEST(ConverterReader, PicksTheDataAndStatusAddressFromThePortText)
{
    struct Case {
        const char* text;
        std::uint16_t data;
    };
    for (const Case& c : {Case{"LPT1", 888}, Case{"LPT2", 956}, Case{"", 956}, Case{"lpt1", 956},
                          Case{"LPT1 ", 956}, Case{"COM1", 956}}) {
        SCOPED_TRACE(c.text);
        FakePortIo io;
        ConverterReader reader;
        reader.citanieprevodnika(io, QString::fromLatin1(c.text));
        EXPECT_EQ(reader.adresaportu, c.data);
        ASSERT_EQ(io.log.size(), 55u);
        for (const FakePortIo::Access& a : io.log)
            EXPECT_EQ(a.address, a.isRead ? c.data + 1 : c.data);
    }
}

TEST(ConverterReader, MakesTheFullAccessSequenceInOrder)
{
    FakePortIo io;
    ConverterReader reader;
    reader.citanieprevodnika(io, u"LPT1");

    std::vector<FakePortIo::Access> expected;
    auto write = [&](std::uint8_t v) { expected.push_back({false, 888, v}); };
    for (int pass = 0; pass < 2; ++pass) {
        write(0);
        write(1);
        write(0);
        for (int bit = 0; bit < 8; ++bit) {
            expected.push_back({true, 889, 0xFF});
            write(2);
            write(0);
        }
    }
    write(5);
    EXPECT_EQ(io.log, expected);
    EXPECT_EQ(reader.oneskorenie, 1);
    EXPECT_EQ(reader.pocetcitani, 2);
}

TEST(ConverterReader, TurnsTheShiftedBitsIntoTheMeanInVolts)
{
    struct Case {
        const char* name;
        std::vector<std::uint8_t> status; // the 16 status reads; missing ones read 0xFF
        double volts;
    };
    std::vector<std::uint8_t> allClear(16, 0x00);
    std::vector<std::uint8_t> onlyBit7Clear(16, 0x7F); // other status bits must not count
    std::vector<std::uint8_t> allSet(16, 0xFF);
    std::vector<std::uint8_t> onlyOthersSet(16, 0x80 | 0x78);
    std::vector<std::uint8_t> firstOnly(16, 0x80);
    firstOnly[0] = 0x00;
    std::vector<std::uint8_t> lastOfSecond(16, 0x80);
    lastOfSecond[15] = 0x00;

    const Case cases[] = {
        {"every bit read as 1 gives exactly 5 V", allClear, 5.0},
        {"bit 7 alone decides", onlyBit7Clear, 5.0},
        {"every bit read as 0 gives 0 V", allSet, 0.0},
        {"status 0xF8 is 0 V", onlyOthersSet, 0.0},
        {"the first read weighs 128", firstOnly, 5.0 * 128 / 510},
        {"the last read weighs 1", lastOfSecond, 5.0 / 510},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePortIo io;
        io.script.assign(c.status.begin(), c.status.end());
        ConverterReader reader;
        reader.citanieprevodnika(io, u"LPT2");
        EXPECT_DOUBLE_EQ(reader.napatievstupu, c.volts);
    }
}

TEST(ConverterReader, AveragesTheTwoResults)
{
    struct Case {
        std::uint8_t first, second;
        double volts;
    };
    for (const Case& c : {Case{255, 0, 2.5}, Case{0, 255, 2.5}, Case{1, 0, 5.0 / 510},
                          Case{255, 255, 5.0}, Case{128, 127, 2.5}, Case{200, 100, 750.0 / 255}}) {
        SCOPED_TRACE(testing::Message() << int(c.first) << " and " << int(c.second));
        FakePortIo io;
        io.scriptResults(c.first, c.second);
        ConverterReader reader;
        reader.citanieprevodnika(io, u"LPT1");
        EXPECT_DOUBLE_EQ(reader.napatievstupu, c.volts);
        EXPECT_EQ(reader.stavovybit, (c.second & 1) ? 0 : 128);
        EXPECT_EQ(reader.hodnotabitu, c.second & 1);
    }
}

TEST(ConverterReader, AFailedAccessEndsTheReadAndKeepsTheLastVolts)
{
    FakePortIo io;
    io.scriptResults(255, 0);
    ConverterReader reader;
    reader.citanieprevodnika(io, u"LPT1");
    ASSERT_DOUBLE_EQ(reader.napatievstupu, 2.5);

    for (std::size_t failAt : {0u, 1u, 20u, 54u}) {
        SCOPED_TRACE(failAt);
        io.log.clear();
        io.failFrom = failAt;
        io.scriptResults(255, 255);
        EXPECT_THROW(reader.citanieprevodnika(io, u"LPT1"), PortIoError);
        EXPECT_EQ(io.log.size(), failAt) << "no access after the failed one";
        // Only the closing write comes after the result is complete.
        EXPECT_DOUBLE_EQ(reader.napatievstupu, failAt < 54 ? 2.5 : 5.0);
        io.script.clear();
    }
}

} // namespace
} // namespace diagnostika
