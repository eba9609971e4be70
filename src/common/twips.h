#pragma once
// Sizes and positions are laid out in twips, 1/1440 inch: 15 twips to a logical pixel at 96 dpi.
// Qt scales logical pixels on high-density screens, so a twip layout stays true there as well.

#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QSize>
#include <cmath>

namespace diagnostika {

inline constexpr int twipsPerPixel = 15;

constexpr int twipsToPixels(int twips)
{
    return twips / twipsPerPixel;
}

inline QRect twipRect(int left, int top, int width, int height)
{
    return {twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height)};
}

inline QSize twipSize(int width, int height)
{
    return {twipsToPixels(width), twipsToPixels(height)};
}

// A drawing point in twips, as a fractional logical pixel: drawing keeps its full precision.
inline QPointF twipPoint(double x, double y)
{
    return {x / twipsPerPixel, y / twipsPerPixel};
}

} // namespace diagnostika
