#include "serialformulas.h"

#include "common/numbertext.h"
#include "platform/seriallines.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace diagnostika::com {

double displacementMetres(std::int64_t pulses, double millimetresPerPulse)
{
    return static_cast<double>(pulses) * millimetresPerPulse / 1000;
}

float knobLeft(std::int64_t pulses, double degreesPerPulse)
{
    const double left = static_cast<double>(pulses) * degreesPerPulse * knobTwipsPerDegree;
    // A float cannot hold every double; an absurd mark size parks the knob far off the track
    // instead of producing an undefined conversion.
    constexpr double largest = std::numeric_limits<float>::max();
    return static_cast<float>(std::clamp(left, -largest, largest));
}

bool knobCompletesTurn(std::int64_t pulses, double degreesPerPulse)
{
    return static_cast<double>(pulses) * degreesPerPulse == 360.0;
}

std::optional<std::int64_t> pulseDuration(std::optional<std::int64_t> startMs, std::int64_t endMs)
{
    if (!startMs)
        return std::nullopt;
    const std::int64_t d = endMs - *startMs;
    if (d >= longestDurationMs)
        return std::nullopt;
    return d;
}

std::optional<SpeedInterval> intervalOfText(QStringView text)
{
    if (text == u"1s")
        return SpeedInterval{60.0, 1000};
    if (text == u"10s")
        return SpeedInterval{6.0, 10000};
    if (text == u"1min")
        return SpeedInterval{1.0, 60000};
    return std::nullopt;
}

std::optional<double> pulsesPerRevolution(QStringView text, const QLocale& locale)
{
    const std::optional<double> p = readNumber(text, locale);
    if (!p || *p <= 0)
        return std::nullopt;
    return p;
}

double speed(std::int64_t pulses, const SpeedInterval& interval, double pulsesPerRev)
{
    return std::abs(interval.factor * static_cast<double>(pulses) / pulsesPerRev);
}

bool isNoSpeedText(QStringView text, const QLocale& locale)
{
    return text.isEmpty() || text == locale.decimalPoint();
}

double velocity(double speedPerMinute)
{
    return std::abs(speedPerMinute * 6.28 / 60);
}

double velocityPerPeriod(double speedPerMinute, int periodMs)
{
    return (speedPerMinute / 60 * 6.28) / (periodMs / 1000.0);
}

std::int64_t addToSpeedSum(std::int64_t sum, double speedPerMinute)
{
    // roundHalfEven saturates at the ends of the int64 range.
    return roundHalfEven(static_cast<double>(sum) + speedPerMinute);
}

std::int64_t averageSpeed(std::int64_t sum, std::int64_t count)
{
    if (count <= 0)
        return 0;
    return roundHalfEven(static_cast<double>(sum) / static_cast<double>(count));
}

double graphY(std::int64_t pulses, double pulsesPerRev)
{
    return graphZeroY - graphTwipsPerRevolution * static_cast<double>(pulses) / pulsesPerRev;
}

double displacementRate(std::int64_t pulsesNow, std::int64_t pulsesBefore)
{
    return static_cast<double>(pulsesNow - pulsesBefore) / 25;
}

} // namespace diagnostika::com
