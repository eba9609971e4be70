#include "simjoystick.h"

#include <SDL.h>
#include <algorithm>
#include <cmath>
#include <numbers>

namespace diagnostika {

SimulatedJoystick::SimulatedJoystick(const TickClock& clock) : clock_(clock) {}

void SimulatedJoystick::attach()
{
    attached_ = true;
    if (!start())
        return;
    const int index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 3, 2, 0);
    if (index < 0)
        return;
    instanceId_ = SDL_JoystickGetDeviceInstanceID(index);
    handle_ = SDL_JoystickOpen(index);
}

SimulatedJoystick::~SimulatedJoystick()
{
    if (handle_) {
        const int index = deviceIndexFor(0);
        SDL_JoystickClose(handle_);
        if (index >= 0)
            SDL_JoystickDetachVirtual(index);
    }
}

void SimulatedJoystick::axesAt(std::int64_t ms, int axes[3])
{
    // Slow, incommensurate swings, so the three traces never move in step.
    constexpr double periods[3] = {7.0, 11.0, 17.0}; // seconds
    constexpr double depth[3] = {0.9, 0.6, 0.4};
    const double t = static_cast<double>(ms) / 1000.0;
    for (int i = 0; i < 3; ++i) {
        const double v = depth[i] * std::sin(2.0 * std::numbers::pi * t / periods[i] + i);
        axes[i] = std::clamp(static_cast<int>(std::lround(v * 32767.0)), -32768, 32767);
    }
}

int SimulatedJoystick::deviceIndexFor(unsigned id)
{
    if (id != 0 || instanceId_ < 0)
        return -1;
    for (int i = 0, n = SDL_NumJoysticks(); i < n; ++i) {
        if (SDL_JoystickGetDeviceInstanceID(i) == instanceId_)
            return i;
    }
    return -1;
}

bool SimulatedJoystick::getPos(unsigned id, JoyInfo& info)
{
    // Plugged in at the first query, as the real joystick is looked for then.
    if (!attached_)
        attach();
    if (handle_) {
        int axes[3];
        axesAt(clock_.milliseconds(), axes);
        for (int i = 0; i < 3; ++i)
            SDL_JoystickSetVirtualAxis(handle_, i, static_cast<Sint16>(axes[i]));
    }
    return SdlJoystick::getPos(id, info);
}

} // namespace diagnostika
