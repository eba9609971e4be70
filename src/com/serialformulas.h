#pragma once
// The arithmetic of the serial window, kept apart from its widgets: which line an event belongs to,
// displacement and angle per pulse, pulse durations, speed, velocity and acceleration, the average
// speed, the graph's scale and the displacement acceleration. The window reads its controls, calls
// these and writes the results.

#include <QLocale>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>

namespace diagnostika::com {

// Colours of a line indicator.
inline constexpr std::uint32_t indicatorActive = 0x00000FFF;
inline constexpr std::uint32_t indicatorInactive = 0x00000000;

// Displacement in metres after `pulses` marks of `millimetresPerPulse` each.
double displacementMetres(std::int64_t pulses, double millimetresPerPulse);

// The slider knob: 7 twips per degree. Its left edge for `pulses` marks of `degreesPerPulse`,
// held within what a single-precision position can carry.
inline constexpr double knobTwipsPerDegree = 7.0;
float knobLeft(std::int64_t pulses, double degreesPerPulse);
// True when the knob's count stands for exactly one full turn, so the knob's count starts again.
bool knobCompletesTurn(std::int64_t pulses, double degreesPerPulse);

// A pulse's duration in milliseconds, or nothing. There is no duration without a start stamp, and a
// pulse of 99999 ms or longer is taken for a missed start rather than shown.
inline constexpr std::int64_t longestDurationMs = 99999;
std::optional<std::int64_t> pulseDuration(std::optional<std::int64_t> startMs, std::int64_t endMs);

// A speed-measuring interval chosen in the `interval` list.
struct SpeedInterval {
    double factor; // revolutions per minute for one pulse per revolution counted once
    int periodMs;  // the counting period, also the period of the evaluating timer
};
std::optional<SpeedInterval> intervalOfText(QStringView text); // "1s", "10s", "1min"

// Pulses per revolution from the `snimace` list; nothing while no (positive) value is chosen.
std::optional<double> pulsesPerRevolution(QStringView text, const QLocale& locale);

// The speed in min^-1 for `pulses` counted in one interval.
double speed(std::int64_t pulses, const SpeedInterval& interval, double pulsesPerRev);

// The speed text that means "no speed": empty, or the decimal separator alone, which is how a zero
// speed is written under "##.##" in any locale.
bool isNoSpeedText(QStringView text, const QLocale& locale);

// Circumferential velocity in m/s at a radius of 1 m (6.28 for 2 pi).
double velocity(double speedPerMinute);
// The velocity divided by the counting period in seconds; two consecutive values differ by the
// acceleration.
double velocityPerPeriod(double speedPerMinute, int periodMs);

// The running sum of evaluated speeds, each added and rounded half to even. The sum saturates
// instead of overflowing at any speed.
std::int64_t addToSpeedSum(std::int64_t sum, double speedPerMinute);
// The average of `count` speeds whose sum is `sum`, rounded half to even; 0 when there are none.
std::int64_t averageSpeed(std::int64_t sum, std::int64_t count);

// The speed graph: 100 twips per step, 42 steps to a page, 30 twips per revolution counted in one
// period above a zero line at 1400.
inline constexpr int graphStepTwips = 100;
inline constexpr int graphStepsPerPage = 42;
inline constexpr int graphZeroY = 1400;
inline constexpr int graphTwipsPerRevolution = 30;
double graphY(std::int64_t pulses, double pulsesPerRev);

// The displacement acceleration: displacement pulses in one 5-s period, divided by 25.
double displacementRate(std::int64_t pulsesNow, std::int64_t pulsesBefore);

} // namespace diagnostika::com
