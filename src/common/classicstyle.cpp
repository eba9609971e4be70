#include "classicstyle.h"

#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QPainter>
#include <QStyleFactory>
#include <QStyleOptionComboBox>
#include <QStyleOptionGroupBox>
#include <algorithm>

namespace diagnostika {
namespace {

// The caption's gap from the frame's left edge, and the room around its text.
constexpr int captionIndent = 6;
constexpr int captionPadding = 2;

// The frame's border line: through the middle of the caption.
int frameLineTop(const QStyleOptionGroupBox& box)
{
    return box.fontMetrics.height() / 2;
}

} // namespace

ClassicStyle::ClassicStyle() : QProxyStyle(QStyleFactory::create(QApplication::style()->name())) {}

ClassicStyle* ClassicStyle::instance()
{
    // Widgets keep a pointer to their style until they go, some after the windows that own them:
    // the style is never destroyed.
    static ClassicStyle* style = new ClassicStyle;
    return style;
}

QRect ClassicStyle::subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                                   SubControl sub, const QWidget* widget) const
{
    if (control == CC_ComboBox && qstyleoption_cast<const QStyleOptionComboBox*>(option)) {
        const QRect r = option->rect;
        const QRect inner = r.adjusted(listBorder, listBorder, -listBorder, -listBorder);
        const QRect button(inner.right() - listButtonWidth + 1, inner.top(), listButtonWidth,
                           inner.height());
        switch (sub) {
        case SC_ComboBoxFrame:
            return r;
        case SC_ComboBoxArrow:
            return visualRect(option->direction, r, button);
        case SC_ComboBoxEditField:
            return visualRect(option->direction, r,
                              QRect(inner.left(), inner.top(),
                                    std::max(0, button.left() - inner.left()), inner.height()));
        case SC_ComboBoxListBoxPopup:
            return r;
        default:
            break;
        }
    }
    if (control == CC_GroupBox) {
        if (const auto* box = qstyleoption_cast<const QStyleOptionGroupBox*>(option)) {
            const QRect r = option->rect;
            const int line = frameLineTop(*box);
            switch (sub) {
            case SC_GroupBoxFrame:
                return QRect(r.left(), r.top() + line, r.width(), r.height() - line);
            case SC_GroupBoxContents:
                return QRect(r.left() + 2, r.top() + line + 2, r.width() - 4,
                             r.height() - line - 4);
            case SC_GroupBoxLabel: {
                const int width = box->fontMetrics.horizontalAdvance(box->text);
                return visualRect(option->direction, r,
                                  QRect(r.left() + captionIndent, r.top(),
                                        width + 2 * captionPadding, box->fontMetrics.height()));
            }
            default:
                break;
            }
        }
    }
    return QProxyStyle::subControlRect(control, option, sub, widget);
}

void ClassicStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                                      QPainter* painter, const QWidget* widget) const
{
    if (control == CC_GroupBox) {
        if (const auto* box = qstyleoption_cast<const QStyleOptionGroupBox*>(option)) {
            // An etched line, as the classic frame: dark, with a light line inside it.
            const QRect frame = subControlRect(CC_GroupBox, option, SC_GroupBoxFrame, widget);
            const QRect label = subControlRect(CC_GroupBox, option, SC_GroupBoxLabel, widget);
            painter->save();
            painter->setClipRegion(QRegion(option->rect).subtracted(label));
            painter->setPen(option->palette.color(QPalette::Mid));
            painter->drawRect(frame.adjusted(0, 0, -2, -2));
            painter->setPen(option->palette.color(QPalette::Light));
            painter->drawRect(frame.adjusted(1, 1, -1, -1));
            painter->restore();
            drawItemText(painter, label.adjusted(captionPadding, 0, 0, 0),
                         Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic, box->palette,
                         box->state & State_Enabled, box->text, QPalette::WindowText);
            return;
        }
    }
    QProxyStyle::drawComplexControl(control, option, painter, widget);
}

int listTextWidth(const QComboBox* list)
{
    QStyleOptionComboBox option;
    option.initFrom(list);
    option.editable = list->isEditable();
    const QRect field = list->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                      QStyle::SC_ComboBoxEditField, list);
    // The label is drawn one pixel in from each side of the field.
    return field.width() - 2;
}

void fitListEntries(QComboBox* list)
{
    QFont font = list->font();
    const int room = listTextWidth(list);
    auto widest = [list](const QFont& f) {
        const QFontMetrics metrics(f);
        int width = 0;
        for (int i = 0; i < list->count(); ++i)
            width = std::max(width, metrics.horizontalAdvance(list->itemText(i)));
        return width;
    };
    // From the face as it is, down to a condensed one: beyond that a face is hard to read.
    constexpr int condensed = 80;
    int stretch = 100;
    font.setStretch(stretch);
    while (widest(font) > room && stretch > condensed) {
        stretch -= 2;
        font.setStretch(stretch);
    }
    if (stretch < 100)
        list->setFont(font);
}

} // namespace diagnostika
