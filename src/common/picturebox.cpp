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
}

void PictureBox::setBackColour(ColourValue colour)
{
    backColour_ = colour;
    update();
}

void PictureBox::line(QPointF from, QPointF to, ColourValue colour)
{
    segments_.push_back({from, to, colour});
    update();
}

void PictureBox::clear()
{
    segments_.clear();
    update();
}

void PictureBox::paintEvent(QPaintEvent* event)
{
    {
        QPainter painter(this);
        const QRect inner = contentsRect();
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
