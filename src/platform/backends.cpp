#include "backends.h"

#include "alsa/alsavibrationinput.h"
#include "linux/linuxseriallines.h"
#include "linux/ppdevportio.h"
#include "sdl/sdljoystick.h"
#include "sim/simjoystick.h"
#include "sim/simseriallines.h"
#include "sim/simtlc549.h"
#include "sim/simvibration.h"

namespace diagnostika {

Backends makeBackends(const BackendOptions& options)
{
    Backends b;
    b.simulated = options.simulate;
    b.clock = std::make_unique<MonotonicClock>();
    if (options.simulate) {
        b.joystick = std::make_unique<SimulatedJoystick>(*b.clock);
        b.serial = std::make_unique<SimulatedSerialLinesProvider>(*b.clock);
        b.portIo = std::make_unique<SimulatedPortIo>(
            std::initializer_list<std::uint16_t>{lpt1Address, lpt2Address},
            SimulatedPortIo::driftingInputs(*b.clock));
        b.vibration = std::make_unique<SimulatedVibrationInputProvider>(*b.clock);
    } else {
        b.joystick = std::make_unique<SdlJoystick>();
        LinuxSerialOptions serial;
        serial.comDevices = options.comDevices;
        b.serial = std::make_unique<LinuxSerialLinesProvider>(*b.clock, std::move(serial));
        b.portIo = std::make_unique<PpdevPortIo>(options.lptDevices);
        b.vibration = std::make_unique<AlsaVibrationInputProvider>();
    }
    return b;
}

} // namespace diagnostika
