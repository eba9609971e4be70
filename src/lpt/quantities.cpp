#include "quantities.h"

#include <cmath>

namespace diagnostika {

const QStringList& quantityEntries()
{
    static const QStringList entries = {QStringLiteral("TeplotaD"), QStringLiteral("TeplotaR"),
                                        QStringLiteral("Napätie"), QStringLiteral("Prúd"),
                                        QStringLiteral("Pootočenie")};
    return entries;
}

std::optional<Quantity> quantityForEntry(QStringView entry)
{
    const QStringList& entries = quantityEntries();
    for (int i = 0; i < entries.size(); ++i) {
        if (entry == entries[i])
            return static_cast<Quantity>(i);
    }
    return std::nullopt;
}

double quantityValue(Quantity quantity, double volts, double angleVolts, int degreesPerVolt)
{
    switch (quantity) {
    case Quantity::TeplotaD:
        return std::abs(5.12 * volts + 20);
    case Quantity::TeplotaR:
        return 51.2 * volts;
    case Quantity::Napatie:
    case Quantity::Prud:
        return std::abs(5.12 * volts);
    case Quantity::Pootocenie:
        return std::abs(degreesPerVolt * angleVolts);
    }
    return 0;
}

QString quantityUnit(Quantity quantity)
{
    switch (quantity) {
    case Quantity::TeplotaD:
    case Quantity::TeplotaR:
        return QStringLiteral("°C");
    case Quantity::Napatie:
        return QStringLiteral("V");
    case Quantity::Prud:
        return QStringLiteral("A");
    case Quantity::Pootocenie:
        break;
    }
    return QStringLiteral("°");
}

QStringView quantityPattern(Quantity quantity)
{
    switch (quantity) {
    case Quantity::TeplotaR:
        return u"##";
    case Quantity::Pootocenie:
        return u"#.#";
    default:
        return u"##.#";
    }
}

int degreesPerVolt(AngleRange range)
{
    switch (range) {
    case AngleRange::o45:
        return 9;
    case AngleRange::o180:
        return 36;
    case AngleRange::o290:
        return 58;
    case AngleRange::o360:
        return 72;
    }
    return 72;
}

double angleVoltage(double volts, bool negate)
{
    return negate ? 5 - volts : volts;
}

QPointF tracePoint(int krok, double volts)
{
    return {static_cast<double>(traceStepTwips) * krok, traceZeroVoltY - traceTwipsPerVolt * volts};
}

} // namespace diagnostika
