#pragma once
// The joystick query on SDL2's joystick subsystem, without SDL's video.
//
// SDL's axes 0, 1 and 2 are X, Y and Z, mapped from -32768..32767 to 0..65535; a missing axis reads
// 0. Device index `id` is the joystick asked for. Each query lets SDL look for joysticks that came
// or went, so one plugged in while the program runs is found at the next query, and one unplugged
// makes queries fail until it (or another) is back. SDL starts at the first query, so a program
// that never reads the joystick never starts it; if SDL cannot start, every query fails.

#include "platform/joystick.h"

#include <chrono>

struct _SDL_Joystick;

namespace diagnostika {

class SdlJoystick : public Joystick {
public:
    SdlJoystick() = default;
    ~SdlJoystick() override;
    SdlJoystick(const SdlJoystick&) = delete;
    SdlJoystick& operator=(const SdlJoystick&) = delete;

    bool getPos(unsigned id, JoyInfo& info) override;
    QString lastError() const override { return error_; }
    void release() override { closeDevice(); }

    // Starts SDL's joystick subsystem, once; whether it runs. The first query calls it.
    bool start();

protected:
    // The SDL device index that joystick `id` stands for, or -1 when there is none. By default the
    // id is the device index.
    virtual int deviceIndexFor(unsigned id);

private:
    void closeDevice();
    // Why no joystick is there: none at all, or one the user may not read.
    QString missingReason(unsigned id);

    bool tried_ = false;
    bool started_ = false;
    _SDL_Joystick* device_ = nullptr;
    unsigned deviceId_ = 0;
    QString error_;
    // Looking for an unreadable joystick reads a few files per input device: done at most every
    // couple of seconds, not at every sample.
    std::chrono::steady_clock::time_point lookedForClosed_{};
    QString closedReason_;
};

// The axis value SDL reports, as the 0..65535 reading.
constexpr std::uint32_t axisReading(int sdlValue)
{
    return static_cast<std::uint32_t>(sdlValue + 32768);
}

} // namespace diagnostika
