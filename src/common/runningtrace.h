#pragma once
// A running trace across a picture box: every step draws one straight segment from the trace's
// previous point to its next one, and at the end of the area the picture is cleared and every
// trace starts again at the top-left corner.
//
// The step count and the previous points are the window's own state fields, which outlive its
// picture box, so a reopened window carries on from the last point drawn. A RunningTrace only
// reads and writes those fields; it is made where the window draws and must not outlive them.

#include "colour.h"
#include "picturebox.h"

#include <QPointF>

namespace diagnostika {

// `X`: the type the window keeps the previous point's x in (a whole number where it is one).
template <typename X> class RunningTrace {
public:
    RunningTrace(X& x, double& y, ColourValue colour) : x_(x), y_(y), colour_(colour) {}

    // Draws the segment from the previous point to (x, y) and makes (x, y) the previous point. The
    // drawing call takes single-precision coordinates, as the windows have always passed them.
    void drawTo(PictureBox& picture, X x, double y) const
    {
        picture.line(QPointF(static_cast<float>(x_), static_cast<float>(y_)),
                     QPointF(static_cast<float>(x), static_cast<float>(y)), colour_);
        x_ = x;
        y_ = y;
    }

    // Back to the top-left corner, where a new trace starts.
    void restart() const
    {
        x_ = 0;
        y_ = 0;
    }

private:
    X& x_;
    double& y_;
    ColourValue colour_;
};

// Ends the page once `step` has reached `lastStep`: clears the picture, sets `step` to 0 and starts
// each of `traces` again at the top-left corner. The last step's segments are thus drawn and
// erased in the same step. Returns whether the page ended.
template <typename Step, typename Traces>
bool endPageAt(PictureBox& picture, Step& step, int lastStep, const Traces& traces)
{
    if (step != lastStep)
        return false;
    step = 0;
    picture.clear();
    for (const auto& trace : traces)
        trace.restart();
    return true;
}

} // namespace diagnostika
