#include "common/numbertext.h"
#include "lpt/quantities.h"

#include <gtest/gtest.h>

namespace diagnostika {
namespace {

const QLocale slovak(QLocale::Slovak, QLocale::Slovakia);

TEST(Quantities, EntriesAreMatchedExactly)
{
    EXPECT_EQ(quantityEntries(),
              (QStringList{QStringLiteral("TeplotaD"), QStringLiteral("TeplotaR"),
                           QStringLiteral("Napätie"), QStringLiteral("Prúd"),
                           QStringLiteral("Pootočenie")}));
    for (int i = 0; i < quantityEntries().size(); ++i)
        EXPECT_EQ(quantityForEntry(quantityEntries()[i]), static_cast<Quantity>(i));
    for (const char* other : {"", "teplotad", "Napatie", "Prud", "TeplotaD "})
        EXPECT_EQ(quantityForEntry(QString::fromUtf8(other)), std::nullopt) << other;
}

// The value and its text, by the converter's mean code c (volts = 5c/255) and the box's pattern.
TEST(Quantities, ValuesAndTheirTextsWithTheDecimalComma)
{
    struct Case {
        Quantity quantity;
        double volts;
        const char* text;
    };
    const Case cases[] = {
        {Quantity::TeplotaD, 0, "20,"},
        {Quantity::TeplotaD, 2.5, "32,8"},
        {Quantity::TeplotaD, 5, "45,6"},
        {Quantity::TeplotaR, 0, ""},
        {Quantity::TeplotaR, 2.5, "128"},
        {Quantity::TeplotaR, 5, "256"},
        {Quantity::TeplotaR, 5.0 / 510, "1"}, // 0.502 rounds up
        {Quantity::Napatie, 0, ","},
        {Quantity::Napatie, 2.5, "12,8"},
        {Quantity::Napatie, 5, "25,6"},
        {Quantity::Prud, 0, ","},
        {Quantity::Prud, 2.5, "12,8"},
        {Quantity::Prud, 5, "25,6"},
        // Code 1 of 255: 0.1004 (one decimal) and 1.004 for the two temperature scales.
        {Quantity::Napatie, 5.0 / 255, ",1"},
        {Quantity::TeplotaR, 5.0 / 255, "1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << quantityEntries()[int(c.quantity)].toStdString()
                                        << " at " << c.volts << " V");
        const double value = quantityValue(c.quantity, c.volts, 0, 0);
        EXPECT_EQ(patternNumber(value, quantityPattern(c.quantity), slovak),
                  QString::fromUtf8(c.text));
    }
}

TEST(Quantities, AngleByRangeAndDirection)
{
    struct Case {
        AngleRange range;
        bool negate;
        double volts;
        const char* text;
    };
    const Case cases[] = {
        {AngleRange::o45, false, 0, ","},       {AngleRange::o45, false, 2.5, "22,5"},
        {AngleRange::o45, false, 5, "45,"},     {AngleRange::o45, true, 1, "36,"},
        {AngleRange::o180, false, 2.5, "90,"},  {AngleRange::o180, true, 5, ","},
        {AngleRange::o290, false, 2.5, "145,"}, {AngleRange::o290, false, 5, "290,"},
        {AngleRange::o360, false, 5, "360,"},   {AngleRange::o360, true, 0, "360,"},
        {AngleRange::o360, false, 0, ","},      {AngleRange::o360, true, 2.5, "180,"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << degreesPerVolt(c.range) << " deg/V, NEG " << c.negate
                                        << ", " << c.volts << " V");
        const double angleVolts = angleVoltage(c.volts, c.negate);
        const double value =
            quantityValue(Quantity::Pootocenie, c.volts, angleVolts, degreesPerVolt(c.range));
        EXPECT_EQ(patternNumber(value, quantityPattern(Quantity::Pootocenie), slovak),
                  QString::fromUtf8(c.text));
    }
}

TEST(Quantities, TracePoints)
{
    EXPECT_EQ(tracePoint(1, 0), QPointF(10, 1400));
    EXPECT_EQ(tracePoint(2, 2.5), QPointF(20, 700));
    EXPECT_EQ(tracePoint(590, 5), QPointF(5900, 0));
    EXPECT_DOUBLE_EQ(tracePoint(7, 5.0 / 255).y(), 1400 - 280 * 5.0 / 255);
}

} // namespace
} // namespace diagnostika
