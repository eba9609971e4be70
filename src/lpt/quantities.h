#pragma once
// What the parallel-port window makes of the converter's volts: the quantity picked in its input
// list, the factor of the angle range, and the point of the voltage trace.

#include <QPointF>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <optional>

namespace diagnostika {

enum class Quantity { TeplotaD, TeplotaR, Napatie, Prud, Pootocenie };

// The input list's entries, in the list's order.
const QStringList& quantityEntries();
// The quantity of an entry, compared exactly; nothing for any other text (an unpicked list).
std::optional<Quantity> quantityForEntry(QStringView entry);

// The value a quantity shows for the converter's volts. `angleVolts` and `degreesPerVolt` are used
// by the angle only.
double quantityValue(Quantity quantity, double volts, double angleVolts, int degreesPerVolt);
// The unit of its value: "°C", "V", "A" or "°".
QString quantityUnit(Quantity quantity);
// The digit pattern of its value box: "##.#", "##" or "#.#".
QStringView quantityPattern(Quantity quantity);

// The angle ranges of the option buttons: degrees per volt, so that 5 V is the full range.
enum class AngleRange { o45, o180, o290, o360 };
int degreesPerVolt(AngleRange range);

// The voltage the angle is taken from: as measured, or counted from the top when NEG is checked.
double angleVoltage(double volts, bool negate);

// The trace: 10 twips per step across, 280 twips per volt up from 0 V at 1400, so 5 V is the top
// edge; 590 steps to a page.
inline constexpr int traceStepTwips = 10;
inline constexpr int traceZeroVoltY = 1400;
inline constexpr int traceTwipsPerVolt = 280;
inline constexpr int traceSteps = 590;
QPointF tracePoint(int krok, double volts);

} // namespace diagnostika
