#pragma once
// A picture box: a drawing area addressed in twips, with y growing downwards from the top-left
// corner of its inner area. Drawing is kept as a list of segments and repainted from it, so a
// covered window keeps its traces and lines stay sharp at any device pixel ratio. Clearing drops
// the segments only: child widgets and reference lines (`LineElement`) stay.

#include "colour.h"

#include <QFrame>
#include <QObject>
#include <QPointF>
#include <vector>

namespace diagnostika {

struct Segment {
    QPointF from; // twips
    QPointF to;   // twips
    ColourValue colour = 0;

    friend bool operator==(const Segment&, const Segment&) = default;
};

// A fixed line placed in a picture box at design time. It is a control, not a drawing, so clearing
// the picture box leaves it in place. Tests find it by object name.
class LineElement : public QObject {
    Q_OBJECT
public:
    LineElement(const QString& name, QPointF from, QPointF to, ColourValue colour, QObject* parent);

    QPointF from() const { return from_; }
    QPointF to() const { return to_; }
    ColourValue colour() const { return colour_; }

private:
    QPointF from_;
    QPointF to_;
    ColourValue colour_;
};

class PictureBox : public QFrame {
    Q_OBJECT
    // Where its owner last placed it, in twips from its parent's drawing area (a control parked
    // off its track included, which no widget position could hold).
    Q_PROPERTY(float leftTwips READ leftTwips WRITE setLeftTwips)
public:
    explicit PictureBox(QWidget* parent = nullptr);

    void setBackColour(ColourValue colour);
    ColourValue backColour() const { return backColour_; }

    float leftTwips() const { return leftTwips_; }
    void setLeftTwips(float twips) { leftTwips_ = twips; }

    // Draws a one-pixel straight line between two points in twips.
    void line(QPointF from, QPointF to, ColourValue colour);
    // Erases what was drawn; child controls and reference lines stay.
    void clear();

    // The segments drawn since the last clear, oldest first.
    const std::vector<Segment>& segments() const { return segments_; }

    // Twips from the outer top-left corner to the drawing area's origin: the sunken border is one
    // pixel wide. Children and drawing are placed from contentsRect(), which holds the same.
    static constexpr int borderTwips = 15;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void repaintLater();

    ColourValue backColour_ = syscolour::buttonFace;
    float leftTwips_ = 0;
    // A whole repaint is asked for and has not been drawn yet: asking again changes nothing, and
    // an indicator on a fast pulse train would ask tens of thousands of times a second.
    bool repaintAsked_ = false;
    std::vector<Segment> segments_;
};

} // namespace diagnostika
