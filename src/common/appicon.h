#pragma once

#include <QIcon>

namespace diagnostika {

// The program's icon, a rotor on its shaft, drawn at 16 x 16 and 32 x 32 in a few flat colours.
QIcon appIcon();

} // namespace diagnostika
