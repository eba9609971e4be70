#include "speedinput.h"

namespace diagnostika {

void SpeedInput::publishSettings(const SpeedInputSettings& settings)
{
    if (settings == settings_)
        return;
    settings_ = settings;
    Q_EMIT settingsChanged(settings_);
}

} // namespace diagnostika
