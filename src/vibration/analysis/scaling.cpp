#include "vibration/analysis/scaling.h"

#include <algorithm>
#include <cmath>

namespace diagnostika::vibration {

bool Scaling::valid() const
{
    return std::isfinite(fullScaleVolts) && fullScaleVolts > 0 && std::isfinite(sensitivity) &&
           sensitivity > 0;
}

double Scaling::perFullScale(AccelerationUnit unit) const
{
    if (!valid())
        return 0;
    const double millivolts = fullScaleVolts * 1000.0;
    const double ms2 = sensitivityUnit == SensitivityUnit::MillivoltPerG
                           ? millivolts / sensitivity * standardGravity
                           : millivolts / sensitivity;
    return fromMetresPerSecond2(ms2, unit);
}

void toAcceleration(std::span<const float> raw, const Scaling& scaling, AccelerationUnit unit,
                    std::span<float> out)
{
    const double factor = scaling.perFullScale(unit);
    const std::size_t n = std::min(raw.size(), out.size());
    for (std::size_t i = 0; i < n; ++i)
        out[i] = static_cast<float>(raw[i] * factor);
}

double fromMetresPerSecond2(double value, AccelerationUnit unit)
{
    return unit == AccelerationUnit::G ? value / standardGravity : value;
}

double toMetresPerSecond2(double value, AccelerationUnit unit)
{
    return unit == AccelerationUnit::G ? value * standardGravity : value;
}

} // namespace diagnostika::vibration
