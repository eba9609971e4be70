#pragma once
// Picking a vibration source, as the vibration and order windows both offer it: the source is
// asked what it offers, its rates are listed with the one to use current (the rate another window
// already reads it at, the only one a second window can join; else the usual 48 kHz; else the
// highest), and where the input knows its own scaling (a converter, the simulator) that goes into
// the full-scale and sensitivity boxes.

#include "platform/vibrationinput.h"

#include <optional>

class QComboBox;
class QLineEdit;

namespace diagnostika {

// Fills `rates` (text "48000 Hz", data the rate) and the two boxes. Returns what the source offers,
// or nothing with the Slovak reason in `problem` when it cannot be used (`rates` is then empty).
std::optional<VibrationCapabilities>
offerVibrationSource(VibrationInputProvider& inputs, const VibrationSource& source,
                     QComboBox* rates, QLineEdit* fullScaleVolts, QLineEdit* millivoltsPerG,
                     QString* problem);

} // namespace diagnostika
