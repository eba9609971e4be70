#include "common/numbertext.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace diagnostika;

namespace {

const QLocale slovak(QLocale::Slovak, QLocale::Slovakia);
const QLocale english(QLocale::English, QLocale::UnitedStates);

struct PatternCase {
    double value;
    const char* pattern;
    const char* slovakText;
    const char* englishText;
};

// Every example the windows' readouts are known to give, plus the rounding corners.
const PatternCase patternCases[] = {
    // speed, velocity, acceleration
    {150, "##.##", "150,", "150."},
    {15.7, "##.##", "15,7", "15.7"},
    {0.125, "##.##", ",13", ".13"},
    {0, "##.##", ",", "."},
    {-3.14, "##.##", "-3,14", "-3.14"},
    {0.125, "#.##", ",13", ".13"},
    {-0.004, "#.##", ",", "."}, // rounds to zero: no "-" before nothing
    {-0.005, "#.##", "-,01", "-.01"},
    {1.005, "#.##", "1,01", "1.01"}, // 1.005 is 1.00499999... in binary; 15 digits read 1.005
    {2.675, "##.##", "2,68", "2.68"},
    {99.995, "##.##", "100,", "100."},
    {1e20, "##.##", "100000000000000000000,", "100000000000000000000."},
    // temperatures, voltage, current, angle
    {32.84, "##.#", "32,8", "32.8"},
    {20, "##.#", "20,", "20."},
    {0.5, "##.#", ",5", ".5"},
    {0, "##.#", ",", "."},
    {360, "#.#", "360,", "360."},
    {22.5, "#.#", "22,5", "22.5"},
    {145, "#.#", "145,", "145."},
    {20 + 5.12 * 2.5, "##.#", "32,8", "32.8"},
    {5.12 * 5, "##.#", "25,6", "25.6"},
    {5.12 * 2.5, "##.#", "12,8", "12.8"},
    {5.12 * 5 + 20, "##.#", "45,6", "45.6"},
    {std::abs(5.12 * 0 + 20), "##.#", "20,", "20."},
    {0.05, "#.#", ",1", ".1"},
    // "##": whole numbers, nothing for 0
    {0, "##", "", ""},
    {128, "##", "128", "128"},
    {256, "##", "256", "256"},
    {51.2 * 5.0 / 510.0, "##", "1", "1"}, // 0.502 rounds up
    {0.5, "##", "1", "1"},
    {-0.5, "##", "-1", "-1"},
    {0.49, "##", "", ""},
    {2.5, "##", "3", "3"},
};

TEST(NumberTextTest, DigitPatternsInBothLocales)
{
    for (const PatternCase& c : patternCases) {
        const QString pattern = QString::fromLatin1(c.pattern);
        EXPECT_EQ(patternNumber(c.value, pattern, slovak), QString::fromUtf8(c.slovakText))
            << c.value << " " << c.pattern;
        EXPECT_EQ(patternNumber(c.value, pattern, english), QString::fromUtf8(c.englishText))
            << c.value << " " << c.pattern;
    }
}

struct GeneralCase {
    double value;
    const char* slovakText;
    const char* englishText;
};

const GeneralCase generalCases[] = {
    {0.12, "0,12", "0.12"},
    {-0.08, "-0,08", "-0.08"},
    {0, "0", "0"},
    {-0.0, "0", "0"},
    {0.05, "0,05", "0.05"},
    {-4, "-4", "-4"},
    {4, "4", "4"},
    {50, "50", "50"},
    {0.1 + 0.2, "0,3", "0.3"}, // 15 significant digits hide the binary residue
    {1.0 / 3.0, "0,333333333333333", "0.333333333333333"},
    {123456789012345.0, "123456789012345", "123456789012345"},
    {1e15, "1E+15", "1E+15"},
    {1.5e20, "1,5E+20", "1.5E+20"},
    {0.0001, "0,0001", "0.0001"},
    {0.00001, "0,00001", "0.00001"}, // one pulse at a mark of 0,01 mm
    {-2.5e-7, "-0,00000025", "-0.00000025"},
    {1.0 / 3e10, "0,0000000000333333333333333", "0.0000000000333333333333333"},
    {std::numeric_limits<double>::max(), "1,79769313486232E+308", "1.79769313486232E+308"},
};

TEST(NumberTextTest, GeneralFormatInBothLocales)
{
    for (const GeneralCase& c : generalCases) {
        EXPECT_EQ(generalNumber(c.value, slovak), QString::fromUtf8(c.slovakText)) << c.value;
        EXPECT_EQ(generalNumber(c.value, english), QString::fromUtf8(c.englishText)) << c.value;
    }
    // The smallest magnitudes are written out in full too.
    EXPECT_EQ(generalNumber(1e-300, slovak), QStringLiteral("0,") + QString(299, u'0') + u'1');
    EXPECT_EQ(generalNumber(std::nan(""), slovak), QStringLiteral("NaN"));
    EXPECT_EQ(generalNumber(-INFINITY, slovak), QStringLiteral("-Inf"));
}

TEST(NumberTextTest, FixedDecimalsInBothLocales)
{
    const struct {
        double value;
        int decimals;
        const char* slovakText;
        const char* englishText;
    } cases[] = {
        {1500, 1, "1500,0", "1500.0"}, // never grouped
        {1234567.891, 2, "1234567,89", "1234567.89"},
        {0.25, 3, "0,250", "0.250"}, // the decimals are part of what it says
        {-2.5, 0, "-3", "-3"},       // halves away from zero, as the patterns
        {-0.04, 1, "0,0", "0.0"},    // zero has no sign
        {-0.06, 1, "-0,1", "-0.1"},
        {std::nan(""), 2, "NaN", "NaN"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fixedNumber(c.value, c.decimals, slovak), QString::fromUtf8(c.slovakText))
            << c.value;
        EXPECT_EQ(fixedNumber(c.value, c.decimals, english), QString::fromUtf8(c.englishText))
            << c.value;
    }
}

TEST(NumberTextTest, IntegerTextsAndRoundHalfEven)
{
    EXPECT_EQ(integerText(135), QStringLiteral("135"));
    EXPECT_EQ(integerText(-7), QStringLiteral("-7"));
    EXPECT_EQ(integerText(0), QStringLiteral("0"));

    const std::pair<double, std::int64_t> rounding[] = {
        {15.5, 16},
        {16.5, 16},
        {0.5, 0},
        {1.5, 2},
        {-0.5, 0},
        {-1.5, -2},
        {-2.5, -2},
        {2.4999, 2},
        {2.5001, 3},
        {-2.6, -3},
        {1e300, std::numeric_limits<std::int64_t>::max()},
        {-1e300, std::numeric_limits<std::int64_t>::min()},
        {std::nan(""), 0},
        {4503599627370497.0, 4503599627370497}, // beyond 2^52 every double is whole already
    };
    for (const auto& [value, expected] : rounding)
        EXPECT_EQ(roundHalfEven(value), expected) << value;
}

TEST(NumberTextTest, EntryReadsTheLocaleAndRejectsAnythingElse)
{
    EXPECT_EQ(readNumber(u"10", slovak), 10.0);
    EXPECT_EQ(readNumber(u"2,5", slovak), 2.5);
    EXPECT_EQ(readNumber(u"  -0,25 ", slovak), -0.25);
    EXPECT_EQ(readNumber(u"1,5e3", slovak), 1500.0);
    EXPECT_EQ(readNumber(u"2.5", english), 2.5);
    EXPECT_EQ(readNumber(u"1e-300", english), 1e-300);

    const char16_t* garbage[] = {u"",          u"   ",   u"abc",  u"2.5",    u"1e999",
                                 u"-1e999",    u"1,2,3", u"10mm", u"NaN",    u"inf",
                                 u"1 000 000", u"--1",   u",",    u"\u0000", u"١٢"};
    for (const char16_t* text : garbage)
        EXPECT_FALSE(readNumber(text, slovak).has_value())
            << QString::fromUtf16(text).toStdString();
    EXPECT_FALSE(readNumber(u"2,5", english).has_value());
    EXPECT_FALSE(readNumber(QString(100000, QLatin1Char('9')), slovak).has_value());
    EXPECT_EQ(readNumber(QString(300, QLatin1Char('9')), slovak), 1e300);
}

} // namespace
