#include "platform/sdl/sdljoystick.h"
#include "platform/sim/simjoystick.h"
#include "support/fakeclock.h"

#include <SDL.h>
#include <csignal>
#include <gtest/gtest.h>

using namespace diagnostika;

namespace {

// A joystick attached through SDL's virtual driver, as a test's hand on the stick.
class VirtualStick {
public:
    explicit VirtualStick(int axes = 3, int buttons = 4)
    {
        SDL_InitSubSystem(SDL_INIT_JOYSTICK);
        const int index =
            SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, axes, buttons, 0);
        instance_ = SDL_JoystickGetDeviceInstanceID(index);
        handle_ = SDL_JoystickOpen(index);
    }
    ~VirtualStick()
    {
        if (handle_)
            unplug();
        SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
    }
    void setAxis(int axis, Sint16 value) { SDL_JoystickSetVirtualAxis(handle_, axis, value); }
    void setButton(int button, bool down) { SDL_JoystickSetVirtualButton(handle_, button, down); }
    void unplug()
    {
        SDL_JoystickClose(handle_);
        handle_ = nullptr;
        for (int i = 0; i < SDL_NumJoysticks(); ++i) {
            if (SDL_JoystickGetDeviceInstanceID(i) == instance_)
                SDL_JoystickDetachVirtual(i);
        }
    }
    bool valid() const { return handle_ != nullptr; }

private:
    SDL_JoystickID instance_ = -1;
    SDL_Joystick* handle_ = nullptr;
};

TEST(SdlJoystickTest, NoJoystickFailsAndLeavesTheRecord)
{
    SdlJoystick joystick;
    ASSERT_TRUE(joystick.start()) << joystick.lastError().toStdString();
    JoyInfo info{1, 2, 3, 4};
    EXPECT_FALSE(joystick.getPos(0, info));
    EXPECT_EQ(info, (JoyInfo{1, 2, 3, 4}));
    EXPECT_FALSE(joystick.lastError().isEmpty());
}

TEST(SdlJoystickTest, StartsAtTheFirstQueryAndLeavesTheStopSignalsAlone)
{
    SdlJoystick joystick;
    EXPECT_EQ(SDL_WasInit(SDL_INIT_JOYSTICK), 0u)
        << "a program that never reads it never starts it";
    JoyInfo info;
    joystick.getPos(0, info);
    ASSERT_NE(SDL_WasInit(SDL_INIT_JOYSTICK), 0u) << joystick.lastError().toStdString();
    // SDL's own handlers would turn Ctrl+C and SIGTERM into quit events that nobody reads.
    for (const int signal : {SIGINT, SIGTERM}) {
        struct sigaction action {};
        ::sigaction(signal, nullptr, &action);
        EXPECT_EQ(action.sa_handler, SIG_DFL) << signal;
    }
}

TEST(SdlJoystickTest, AxesMapToTheFullUnsignedRange)
{
    SdlJoystick joystick;
    VirtualStick stick;
    ASSERT_TRUE(stick.valid());
    const std::pair<Sint16, std::uint32_t> cases[] = {{-32768, 0}, {0, 32768}, {32767, 65535}};
    for (const auto& [sdl, expected] : cases) {
        stick.setAxis(0, sdl);
        stick.setAxis(1, sdl);
        stick.setAxis(2, sdl);
        JoyInfo info;
        ASSERT_TRUE(joystick.getPos(0, info));
        EXPECT_EQ(info.wXpos, expected);
        EXPECT_EQ(info.wYpos, expected);
        EXPECT_EQ(info.wZpos, expected);
    }
    stick.setButton(0, true);
    stick.setButton(2, true);
    JoyInfo info;
    ASSERT_TRUE(joystick.getPos(0, info));
    EXPECT_EQ(info.wButtons, 0b101u);
    EXPECT_FALSE(joystick.getPos(1, info)); // only one joystick
    // Let go of (a closed window), the joystick opens again at the next query.
    joystick.release();
    info = {};
    ASSERT_TRUE(joystick.getPos(0, info));
    EXPECT_EQ(info.wButtons, 0b101u);
}

TEST(SdlJoystickTest, StickWithTwoAxesReadsZeroOnZ)
{
    SdlJoystick joystick;
    VirtualStick stick(2, 0);
    stick.setAxis(0, 100);
    JoyInfo info{9, 9, 9, 9};
    ASSERT_TRUE(joystick.getPos(0, info));
    EXPECT_EQ(info.wXpos, 32868u);
    EXPECT_EQ(info.wZpos, 0u);
}

TEST(SdlJoystickTest, JoystickAttachedLaterIsFoundAndUnplugLeavesTheLastReading)
{
    SdlJoystick joystick;
    JoyInfo info;
    EXPECT_FALSE(joystick.getPos(0, info));
    {
        VirtualStick stick;
        stick.setAxis(0, 1000);
        ASSERT_TRUE(joystick.getPos(0, info));
        EXPECT_EQ(info.wXpos, 33768u);
        stick.unplug();
        EXPECT_FALSE(joystick.getPos(0, info));
        EXPECT_EQ(info.wXpos, 33768u);
    }
    VirtualStick again;
    again.setAxis(0, -1000);
    ASSERT_TRUE(joystick.getPos(0, info));
    EXPECT_EQ(info.wXpos, 31768u);
}

TEST(SimulatedJoystickTest, AxesMoveSmoothlyThroughTheRealBackend)
{
    test::FakeClock clock(0);
    SimulatedJoystick joystick(clock);
    JoyInfo previous;
    ASSERT_TRUE(joystick.getPos(0, previous));
    std::uint32_t lowest = previous.wXpos;
    std::uint32_t highest = previous.wXpos;
    for (int step = 1; step <= 200; ++step) {
        clock.advance(50);
        JoyInfo now;
        ASSERT_TRUE(joystick.getPos(0, now));
        int reading[3];
        SimulatedJoystick::axesAt(clock.milliseconds(), reading);
        EXPECT_EQ(now.wXpos, axisReading(reading[0]));
        EXPECT_EQ(now.wZpos, axisReading(reading[2]));
        // Smooth: 50 ms never moves an axis by more than a few percent of its range.
        EXPECT_LT(std::abs(static_cast<int>(now.wXpos) - static_cast<int>(previous.wXpos)), 3000);
        lowest = std::min(lowest, now.wXpos);
        highest = std::max(highest, now.wXpos);
        previous = now;
    }
    EXPECT_GT(highest - lowest, 30000u); // and it does swing over most of the range
}

} // namespace
