#pragma once
// Small builders for the controls the windows place by twips, each named as the windows call it.

#include "colour.h"

#include <QString>
#include <initializer_list>
#include <optional>

class QComboBox;
class QFont;
class QGroupBox;
class QLabel;
class QLineEdit;
class QObject;
class QScrollBar;
class QTimer;
class QWidget;

namespace diagnostika {

// A label at a twip position. A background colour makes it opaque, as a readout.
QLabel* makeLabel(QWidget* parent, const QString& name, const QString& caption, int left, int top,
                  int width, int height);
QLabel* makeReadout(QWidget* parent, const QString& name, ColourValue background, int left, int top,
                    int width, int height);
// A label inside a picture box: its twips count from the drawing area, inside the box's border.
QLabel* makePictureLabel(QWidget* picture, const QString& name, const QString& caption, int left,
                         int top, int width, int height);
// A vertical scroll bar that sets a sampling period in milliseconds, at `value` to start. Top is
// 10 ms, bottom 1000 ms: the period can never be 0, which would stop the sampling. It reports no
// change while its thumb is dragged; the release reports the new position once.
QScrollBar* makePeriodScrollBar(QWidget* parent, const QString& name, int left, int top, int width,
                                int height, int value);
// A drop-down list at a twip position, empty and without a selection, drawn compact so that its
// entries read whole (ClassicStyle). It answers the mouse wheel only while it has the focus:
// scrolling over a window must never pick an entry, which may open a port or change what is
// measured.
QComboBox* makeList(QWidget* parent, const QString& name, int left, int top, int width, int height);
// A frame whose border runs through its caption, so children at its first row lie inside.
QGroupBox* makeFrame(QWidget* parent, const QString& name, const QString& caption, int left,
                     int top, int width, int height);
// The face the windows are laid out for, at `pointSize`: MS Sans Serif where it is installed,
// else a face with Arial's narrow metrics (Liberation Sans), else DejaVu Sans, condensed where
// possible. A wider face would push captions into the controls beside them.
QFont windowFont(qreal pointSize);
// A window's sampling timer, stopped. Precise, since what it samples is counted or drawn per
// period: a coarse timer would let the period wander by several milliseconds.
QTimer* makeTimer(QObject* parent, const QString& name, int interval);
// A notice over a picture box, telling why nothing is drawn: wrapped dark red text on the button
// face, at twips inside the picture's border, hidden until there is something to say (setNotice).
QLabel* makeNotice(QWidget* picture, const QString& name, int left, int top, int width, int height);
// Shows `text` in a notice, or hides it when `text` is empty.
void setNotice(QLabel* notice, const QString& text);
// Sets an opaque background colour on any widget.
void setBackColour(QWidget* widget, ColourValue colour);
// Fills a list with its items, `current` chosen.
void fillChoices(QComboBox* list, std::initializer_list<const char*> items, int current = 0);
// What a box holds as a positive, finite number in the user's locale; nothing otherwise.
std::optional<double> positiveEntry(const QLineEdit* entry);

} // namespace diagnostika
