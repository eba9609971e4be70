#pragma once

#include <QIcon>

namespace diagnostika {

// The program's icon, a rotor on its shaft, drawn at 16 x 16 and 32 x 32 in a few flat colours.
QIcon appIcon();

// The same drawing at `size` x `size` pixels, smoothed from 48 pixels up where single pixels no
// longer carry the outline (the desktop's icon sizes; packaging/diagnostika.svg is its vector
// twin).
QPixmap appIconPixmap(int size);

} // namespace diagnostika
