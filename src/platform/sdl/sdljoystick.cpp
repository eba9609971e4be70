#include "sdljoystick.h"

#include <SDL.h>

#ifdef __linux__
#include "platform/linux/devicepermission.h"
#endif

namespace diagnostika {

bool SdlJoystick::start()
{
    if (tried_)
        return started_;
    tried_ = true;
    // Joysticks are read while another application has the focus, and with no SDL window at all.
    SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
    // SDL would otherwise turn SIGINT and SIGTERM into quit events that nobody reads, and the
    // program could no longer be stopped that way.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0) {
        error_ = QStringLiteral("SDL: %1").arg(QString::fromUtf8(SDL_GetError()));
        return false;
    }
    started_ = true;
    // Readings are polled; queued joystick events would only pile up unread.
    SDL_JoystickEventState(SDL_IGNORE);
    return true;
}

SdlJoystick::~SdlJoystick()
{
    if (!started_)
        return;
    closeDevice();
    SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
}

void SdlJoystick::closeDevice()
{
    if (device_)
        SDL_JoystickClose(device_);
    device_ = nullptr;
}

int SdlJoystick::deviceIndexFor(unsigned id)
{
    return static_cast<int>(id);
}

QString SdlJoystick::missingReason(unsigned id)
{
    QString text = QStringLiteral("Joystick %1 nie je pripojený.").arg(id + 1);
#ifdef __linux__
    // SDL passes over event devices it may not open without a word; their owner group tells the
    // user what to do.
    const auto now = std::chrono::steady_clock::now();
    if (lookedForClosed_ == std::chrono::steady_clock::time_point{} ||
        now - lookedForClosed_ >= std::chrono::seconds(2)) {
        lookedForClosed_ = now;
        closedReason_.clear();
        const std::string device = linux_sys::unreadableJoystick();
        if (!device.empty())
            closedReason_ =
                QString::fromStdString(" Joystick " + device + " nemožno čítať: " +
                                       linux_sys::permissionReason(linux_sys::examineDevice(
                                           device, linux_sys::DeviceUse::Read)));
    }
    text += closedReason_;
#endif
    return text;
}

bool SdlJoystick::getPos(unsigned id, JoyInfo& info)
{
    if (!start())
        return false;

    // Lets the drivers notice devices that were added or removed, and reads the open one.
    SDL_JoystickUpdate();

    if (device_ && (!SDL_JoystickGetAttached(device_) || deviceId_ != id))
        closeDevice();
    if (!device_) {
        const int index = deviceIndexFor(id);
        if (index < 0 || index >= SDL_NumJoysticks()) {
            error_ = missingReason(id);
            return false;
        }
        device_ = SDL_JoystickOpen(index);
        if (!device_) {
            error_ = QStringLiteral("SDL: %1").arg(QString::fromUtf8(SDL_GetError()));
            return false;
        }
        deviceId_ = id;
        SDL_JoystickUpdate();
    }

    const int axes = SDL_JoystickNumAxes(device_);
    auto axis = [this, axes](int n) -> std::uint32_t {
        return n < axes ? axisReading(SDL_JoystickGetAxis(device_, n)) : 0;
    };
    info.wXpos = axis(0);
    info.wYpos = axis(1);
    info.wZpos = axis(2);
    std::uint32_t buttons = 0;
    const int count = std::min(SDL_JoystickNumButtons(device_), 32);
    for (int b = 0; b < count; ++b) {
        if (SDL_JoystickGetButton(device_, b))
            buttons |= 1u << b;
    }
    info.wButtons = buttons;
    error_.clear();
    return true;
}

} // namespace diagnostika
