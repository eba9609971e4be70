#pragma once
// Colour values as the windows give them: 0x00BBGGRR, blue in the high byte and red in the low
// byte. A value with the top bit set, 0x80000000 + n, names system colour n, which follows the
// desktop's palette.

#include <QColor>
#include <QPalette>
#include <cstdint>

namespace diagnostika {

using ColourValue = std::uint32_t;

inline constexpr ColourValue systemColour(unsigned index)
{
    return 0x80000000u + index;
}

// The system colours the windows use, by their Windows numbers.
namespace syscolour {
inline constexpr ColourValue windowText = systemColour(8);
inline constexpr ColourValue appWorkspace = systemColour(12);
inline constexpr ColourValue buttonFace = systemColour(15);
inline constexpr ColourValue buttonText = systemColour(18);
inline constexpr ColourValue window = systemColour(5);
inline constexpr ColourValue menuBar = systemColour(4);
} // namespace syscolour

// The colour a value stands for. System colours are taken from `palette` where it has a matching
// role and from the classic Windows scheme otherwise.
QColor toQColor(ColourValue value, const QPalette& palette);
QColor toQColor(ColourValue value); // with the application's palette

// The value of a plain RGB colour (never a system colour).
constexpr ColourValue colourValue(int red, int green, int blue)
{
    return static_cast<ColourValue>((blue & 0xFF) << 16 | (green & 0xFF) << 8 | (red & 0xFF));
}

// The colours the measurement windows share.
inline constexpr ColourValue readoutYellow = colourValue(255, 255, 0); // a readout's background
inline constexpr ColourValue graphOlive = colourValue(128, 128, 0); // a trace picture's background
// The fixed horizontal line across a trace picture.
inline constexpr ColourValue referenceLine = colourValue(192, 192, 0);

} // namespace diagnostika
