#include "backends.h"

#include "linux/linuxseriallines.h"
#include "sdl/sdljoystick.h"
#include "sim/simjoystick.h"
#include "sim/simseriallines.h"

namespace diagnostika {

Backends makeBackends(const BackendOptions& options)
{
    Backends b;
    b.simulated = options.simulate;
    b.clock = std::make_unique<MonotonicClock>();
    if (options.simulate) {
        b.joystick = std::make_unique<SimulatedJoystick>(*b.clock);
        b.serial = std::make_unique<SimulatedSerialLinesProvider>(*b.clock);
    } else {
        b.joystick = std::make_unique<SdlJoystick>();
        LinuxSerialOptions serial;
        serial.comDevices = options.comDevices;
        b.serial = std::make_unique<LinuxSerialLinesProvider>(*b.clock, std::move(serial));
    }
    return b;
}

} // namespace diagnostika
