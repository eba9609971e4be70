#include "picturebox.h"

#include "twips.h"

#include <QPainter>

namespace diagnostika {

LineElement::LineElement(const QString& name, QPointF from, QPointF to, ColourValue colour,
                         QObject* parent)
    : QObject(parent), from_(from), to_(to), colour_(colour)
{
    setObjectName(name);
    if (auto* box = qobject_cast<QWidget*>(parent))
        box->update();
}

PictureBox::PictureBox(QWidget* parent) : QFrame(parent)
{
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setLineWidth(borderTwips / twipsPerPixel);
    setAutoFillBackground(false);
    // Every pixel is painted here, so Qt need not paint the parents behind the box first: an
    // indicator or a knob on a fast pulse train would otherwise repaint its whole frame each time.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureBox::setBackColour(ColourValue colour)
{
    backColour_ = colour;
    repaintLater();
}

void PictureBox::line(QPointF from, QPointF to, ColourValue colour)
{
    segments_.push_back({from, to, colour});
    repaintLater();
}

void PictureBox::clear()
{
    segments_.clear();
    repaintLater();
}

void PictureBox::repaintLater()
{
    // A hidden box is not marked for painting by update(); showing it paints it whole.
    if (repaintAsked_ && isVisible())
        return;
    repaintAsked_ = isVisible() && updatesEnabled();
    update();
}

void PictureBox::paintEvent(QPaintEvent* event)
{
    // Whatever was asked before now is drawn by this paint: Qt paints a widget's whole dirty
    // region at once.
    repaintAsked_ = false;
    {
        QPainter painter(this);
        const QRect inner = contentsRect();
        // Under the border, what the parent would show.
        painter.fillRect(rect(), palette().color(QPalette::Window));
        painter.fillRect(inner, toQColor(backColour_, palette()));
        painter.setClipRect(inner);
        painter.translate(inner.topLeft());

        auto drawLine = [&painter, this](QPointF from, QPointF to, ColourValue colour) {
            QPen pen(toQColor(colour, palette()));
            pen.setCosmetic(true);
            pen.setWidth(1);
            painter.setPen(pen);
            painter.drawLine(twipPoint(from.x(), from.y()), twipPoint(to.x(), to.y()));
        };
        for (const Segment& s : segments_)
            drawLine(s.from, s.to, s.colour);
        // Line elements are controls and sit above the drawing.
        for (const QObject* child : children()) {
            if (const auto* element = qobject_cast<const LineElement*>(child))
                drawLine(element->from(), element->to(), element->colour());
        }
    }
    QFrame::paintEvent(event); // the border
}

} // namespace diagnostika
