#pragma once
// The one place that picks the platform backends, once, at start.
//
// Precedence: `--simulate` puts every service on the simulator, whatever hardware is present.
// Otherwise each service uses the machine's own backend; device overrides only change which device
// that backend opens. Devices are opened on first use, so a missing one never stops the start.

#include "joystick.h"
#include "portclaims.h"
#include "portio.h"
#include "seriallines.h"
#include "tickclock.h"
#include "vibrationinput.h"

#include <QString>
#include <map>
#include <memory>

namespace diagnostika {

struct BackendOptions {
    bool simulate = false;
    // COM or LPT number -> device path, e.g. 1 -> /dev/ttyUSB0, carried as devicepath.h describes
    std::map<int, QString> comDevices;
    std::map<int, QString> lptDevices;
};

struct Backends {
    std::unique_ptr<TickClock> clock;
    std::unique_ptr<Joystick> joystick;
    std::unique_ptr<SerialLinesProvider> serial; // uses `clock`, declared before it
    // Who holds LPT1 and LPT2: the parallel-port window (through `portIo`) or a vibration input.
    std::shared_ptr<PortClaims> portClaims;
    std::unique_ptr<PortIo> portIo; // the parallel-port window's
    // The input an accelerometer is wired to: the sound inputs (the simulated machine's, or ALSA's
    // devices) and, after them, the TLC549 converters on the parallel ports read continuously.
    std::unique_ptr<VibrationInputProvider> vibration; // uses `clock`
    bool simulated = false;
};

Backends makeBackends(const BackendOptions& options);

} // namespace diagnostika
