#pragma once
// The joystick query: the position of one joystick's X, Y and Z axes and its buttons.
// Used from the UI thread only.

#include <QString>
#include <cstdint>

namespace diagnostika {

// The last reading of a joystick. Axes run from 0 to 65535 with the centre at 32768.
struct JoyInfo {
    std::uint32_t wXpos = 0;
    std::uint32_t wYpos = 0;
    std::uint32_t wZpos = 0;
    std::uint32_t wButtons = 0; // bit n set while button n is pressed

    friend bool operator==(const JoyInfo&, const JoyInfo&) = default;
};

class Joystick {
public:
    virtual ~Joystick() = default;

    // Fills `info` with the current position of joystick `id` (0 is the first) and returns true.
    // When there is no such joystick, or it cannot be read, returns false and leaves `info` as it
    // was. Never throws. A joystick attached while the program runs is found by a later query.
    virtual bool getPos(unsigned id, JoyInfo& info) = 0;

    // Why the last query failed, for a person to read; empty after a success.
    virtual QString lastError() const = 0;

    // Lets go of the device the queries hold open, for other programs; the next query opens it
    // again. Harmless when nothing is held.
    virtual void release() {}
};

} // namespace diagnostika
