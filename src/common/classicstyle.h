#pragma once
// The look of the windows' lists and frames, as the classic controls they are laid out for.
//
// The windows place their controls by twips for controls of the classic desktop. Today's styles
// draw a list with a wide drop-down button and padding, so an entry that fitted the classic list
// is cut ("Teplota…"), and a frame with its border below the caption, so the controls placed at
// the classic frame's first row sit on the border line. This style keeps the platform's look for
// everything else, and draws:
// - lists with a thin border and a narrow drop-down button, leaving the text the classic room;
// - frames with the border through the middle of the caption, so the first row lies inside.

#include <QProxyStyle>

class QComboBox;

namespace diagnostika {

class ClassicStyle : public QProxyStyle {
public:
    // Pixels of the drop-down button and the list's border.
    static constexpr int listButtonWidth = 12;
    static constexpr int listBorder = 1;

    // The one instance the windows share; it lives for the whole run.
    static ClassicStyle* instance();

    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl sub,
                         const QWidget* widget) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                            QPainter* painter, const QWidget* widget) const override;

private:
    ClassicStyle();
};

// The width a list has for the text of its entries.
int listTextWidth(const QComboBox* list);

// Narrows the list's face, as far as needed and no further than a condensed face, so that its
// widest entry reads whole in the text width.
void fitListEntries(QComboBox* list);

} // namespace diagnostika
