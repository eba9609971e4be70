#pragma once
// A joystick whose three axes swing smoothly, each at its own pace. It is an SDL virtual joystick,
// read by the real SDL backend, so the simulated program runs the same code as with hardware.

#include "platform/sdl/sdljoystick.h"
#include "platform/tickclock.h"

namespace diagnostika {

class SimulatedJoystick final : public SdlJoystick {
public:
    explicit SimulatedJoystick(const TickClock& clock);
    ~SimulatedJoystick() override;

    bool getPos(unsigned id, JoyInfo& info) override;

    // The SDL axis values (-32768..32767) of the simulated stick at time `ms`.
    static void axesAt(std::int64_t ms, int axes[3]);

protected:
    int deviceIndexFor(unsigned id) override;

private:
    void attach();

    const TickClock& clock_;
    bool attached_ = false;
    int instanceId_ = -1;
    _SDL_Joystick* handle_ = nullptr; // our own handle, to move the axes
};

} // namespace diagnostika
