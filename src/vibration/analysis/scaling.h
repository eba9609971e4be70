#pragma once
// From an input's raw samples to acceleration. A raw sample is a fraction of the input's full scale
// (-1..1, 1 being `fullScaleVolts`); the accelerometer's sensitivity turns volts into acceleration.
//
// Takes: full scale in volts (peak), sensitivity in mV/g or mV/(m/s^2). Gives: m/s^2 or g, with
// g the standard gravity 9.80665 m/s^2.

#include <span>

namespace diagnostika::vibration {

inline constexpr double standardGravity = 9.80665; // m/s^2 in one g

enum class SensitivityUnit { MillivoltPerG, MillivoltPerMetrePerSecond2 };
enum class AccelerationUnit { MetrePerSecond2, G };

struct Scaling {
    double fullScaleVolts = 1.0;
    double sensitivity = 100.0; // in `sensitivityUnit`
    SensitivityUnit sensitivityUnit = SensitivityUnit::MillivoltPerG;

    // Both figures positive and finite: the only settings that give an acceleration.
    bool valid() const;
    // The acceleration a raw sample of 1.0 stands for, in `unit`; 0 when not valid().
    double perFullScale(AccelerationUnit unit = AccelerationUnit::MetrePerSecond2) const;
};

// Converts `raw` into `out` (same size) in `unit`. `out` may be `raw` itself.
void toAcceleration(std::span<const float> raw, const Scaling& scaling, AccelerationUnit unit,
                    std::span<float> out);

// A value in m/s^2 in `unit`, and back.
double fromMetresPerSecond2(double value, AccelerationUnit unit);
double toMetresPerSecond2(double value, AccelerationUnit unit);

} // namespace diagnostika::vibration
