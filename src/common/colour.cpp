#include "colour.h"

#include <QApplication>

namespace diagnostika {
namespace {

struct SystemColourRole {
    unsigned index;
    QPalette::ColorRole role;
};

// Windows system colour numbers that have a Qt palette counterpart.
constexpr SystemColourRole roles[] = {
    {4, QPalette::Window},     // menu bar: Qt paints its menus in the window colours
    {5, QPalette::Base},       // window background
    {7, QPalette::WindowText}, // menu text
    {8, QPalette::Text},       // window text
    {13, QPalette::Highlight}, // highlight
    {14, QPalette::HighlightedText},
    {15, QPalette::Button},     // button face
    {16, QPalette::Dark},       // button shadow
    {18, QPalette::ButtonText}, // button text
    {20, QPalette::Light},      // button highlight
    {23, QPalette::ToolTipText},
    {24, QPalette::ToolTipBase},
};

// The classic Windows scheme, for the numbers Qt has no role for (and as a fallback).
constexpr ColourValue classic[] = {
    0xC8D0D4, 0x6A240A, 0x6A240A, 0x808080, 0xC8D0D4, 0xFFFFFF, 0x000000, 0x000000,
    0x000000, 0xFFFFFF, 0xC8D0D4, 0xC8D0D4, 0x808080, 0x6A240A, 0xFFFFFF, 0xC8D0D4,
    0x808080, 0x808080, 0x000000, 0xC8D0D4, 0xFFFFFF, 0x404040, 0xC8D0D4, 0x000000,
    0xE1FFFF, 0xB5B5B5, 0x800000, 0xF0CAA6, 0xC0C0C0,
};

QColor fromRgbValue(ColourValue value)
{
    return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                  static_cast<int>((value >> 16) & 0xFF));
}

} // namespace

QColor toQColor(ColourValue value, const QPalette& palette)
{
    if ((value & 0x80000000u) == 0)
        return fromRgbValue(value & 0xFFFFFFu);
    const unsigned index = value & 0xFFu;
    for (const auto& r : roles) {
        if (r.index == index)
            return palette.color(QPalette::Active, r.role);
    }
    if (index < std::size(classic))
        return fromRgbValue(classic[index]);
    return QColor(Qt::black);
}

QColor toQColor(ColourValue value)
{
    return toQColor(value, QApplication::palette());
}

} // namespace diagnostika
