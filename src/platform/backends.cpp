#include "backends.h"

#include "sdl/sdljoystick.h"
#include "sim/simjoystick.h"

namespace diagnostika {

Backends makeBackends(const BackendOptions& options)
{
    Backends b;
    b.simulated = options.simulate;
    b.clock = std::make_unique<MonotonicClock>();
    if (options.simulate)
        b.joystick = std::make_unique<SimulatedJoystick>(*b.clock);
    else
        b.joystick = std::make_unique<SdlJoystick>();
    return b;
}

} // namespace diagnostika
