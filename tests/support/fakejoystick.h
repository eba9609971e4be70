#pragma once

#include "platform/joystick.h"

#include <optional>

namespace diagnostika::test {

// A joystick the test moves by hand; with no position set it is unplugged and queries fail.
class FakeJoystick final : public Joystick {
public:
    std::optional<JoyInfo> position;
    int queries = 0;
    int releases = 0;
    QString error = QStringLiteral("unplugged"); // the reason given while unplugged

    bool getPos(unsigned id, JoyInfo& info) override
    {
        ++queries;
        if (id != 0 || !position)
            return false;
        info = *position;
        return true;
    }
    QString lastError() const override { return position ? QString() : error; }
    void release() override { ++releases; }
};

} // namespace diagnostika::test
