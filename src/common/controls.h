#pragma once
// Small builders for the controls the windows place by twips, each named as the windows call it.

#include "colour.h"

#include <QString>

class QGroupBox;
class QLabel;
class QWidget;

namespace diagnostika {

// A label at a twip position. A background colour makes it opaque, as a readout.
QLabel* makeLabel(QWidget* parent, const QString& name, const QString& caption, int left, int top,
                  int width, int height);
QLabel* makeReadout(QWidget* parent, const QString& name, ColourValue background, int left, int top,
                    int width, int height);
QGroupBox* makeFrame(QWidget* parent, const QString& name, const QString& caption, int left,
                     int top, int width, int height);
// Sets an opaque background colour on any widget.
void setBackColour(QWidget* widget, ColourValue colour);

} // namespace diagnostika
