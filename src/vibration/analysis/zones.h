#pragma once
// Evaluation zones of vibration severity for industrial machines, by the RMS vibration velocity
// measured on the bearing housings (mm/s, over 10-1,000 Hz, or 2-1,000 Hz for machines below
// 600 min^-1):
//   A  newly commissioned machines;
//   B  acceptable for unrestricted long-term operation;
//   C  not acceptable for long-term operation, only until a chance to repair;
//   D  severe enough to damage the machine.
// Group 1: large machines, above 300 kW up to 50 MW (electrical machines: shaft height 315 mm and
// above); group 2: medium machines, 15 kW to 300 kW (shaft height 160 mm to below 315 mm).
// A foundation is rigid when the lowest natural frequency of machine and support in the direction
// measured is at least 25 % above the main excitation frequency (usually the rotational one);
// flexible otherwise.

namespace diagnostika::vibration {

enum class MachineGroup { Group1, Group2 };
enum class Foundation { Rigid, Flexible };
enum class Zone { A, B, C, D };

// Boundaries in mm/s RMS: A/B, B/C, C/D.
struct ZoneBoundaries {
    double ab;
    double bc;
    double cd;
};

ZoneBoundaries zoneBoundaries(MachineGroup group, Foundation foundation);

// The zone of a velocity RMS in mm/s. A value equal to a boundary is in the upper (worse) zone:
// reaching a limit counts as reaching it. Not a number counts as D (nothing can be vouched for).
Zone zoneOf(double velocityRmsMmS, MachineGroup group, Foundation foundation);

// The zone's letter, "A".."D".
const char* zoneName(Zone zone);

} // namespace diagnostika::vibration
