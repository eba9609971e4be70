#include "controls.h"

#include "classicstyle.h"
#include "twips.h"

#include <QComboBox>
#include <QEvent>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QScrollBar>
#include <QStringList>
#include <QTimer>
#include <cmath>

namespace diagnostika {
namespace {

constexpr ColourValue noticeText = colourValue(128, 0, 0); // dark red

class WheelOnlyWithFocus : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Wheel && !static_cast<QWidget*>(watched)->hasFocus()) {
            event->ignore();
            return true;
        }
        return false;
    }
};

} // namespace

QComboBox* makeList(QWidget* parent, const QString& name, int left, int top, int width, int height)
{
    auto* list = new QComboBox(parent);
    list->setObjectName(name);
    list->setEditable(false);
    list->setGeometry(twipRect(left, top, width, height));
    list->setFocusPolicy(Qt::StrongFocus);
    list->installEventFilter(new WheelOnlyWithFocus(list));
    list->setStyle(ClassicStyle::instance());
    QObject::connect(list->model(), &QAbstractItemModel::rowsInserted, list,
                     [list] { fitListEntries(list); });
    return list;
}

QTimer* makeTimer(QObject* parent, const QString& name, int interval)
{
    auto* timer = new QTimer(parent);
    timer->setObjectName(name);
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(interval);
    return timer;
}

QFont windowFont(qreal pointSize)
{
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Arial"), QStringLiteral("DejaVu Sans Condensed"),
                      QStringLiteral("DejaVu Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(pointSize);
    return font;
}

QLabel* makeLabel(QWidget* parent, const QString& name, const QString& caption, int left, int top,
                  int width, int height)
{
    auto* label = new QLabel(caption, parent);
    label->setObjectName(name);
    label->setGeometry(twipRect(left, top, width, height));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QLabel* makeReadout(QWidget* parent, const QString& name, ColourValue background, int left, int top,
                    int width, int height)
{
    QLabel* label = makeLabel(parent, name, QString(), left, top, width, height);
    setBackColour(label, background);
    return label;
}

QLabel* makePictureLabel(QWidget* picture, const QString& name, const QString& caption, int left,
                         int top, int width, int height)
{
    QLabel* label = makeLabel(picture, name, caption, left, top, width, height);
    label->move(label->pos() + picture->contentsRect().topLeft());
    return label;
}

QScrollBar* makePeriodScrollBar(QWidget* parent, const QString& name, int left, int top, int width,
                                int height, int value)
{
    auto* bar = new QScrollBar(Qt::Vertical, parent);
    bar->setObjectName(name);
    bar->setGeometry(twipRect(left, top, width, height));
    bar->setRange(10, 1000);
    bar->setSingleStep(10);
    bar->setPageStep(100);
    bar->setValue(value);
    bar->setTracking(false);
    return bar;
}

QGroupBox* makeFrame(QWidget* parent, const QString& name, const QString& caption, int left,
                     int top, int width, int height)
{
    auto* frame = new QGroupBox(caption, parent);
    frame->setObjectName(name);
    frame->setStyle(ClassicStyle::instance());
    frame->setGeometry(twipRect(left, top, width, height));
    return frame;
}

QLabel* makeNotice(QWidget* picture, const QString& name, int left, int top, int width, int height)
{
    QLabel* notice = makePictureLabel(picture, name, QString(), left, top, width, height);
    notice->setWordWrap(true);
    setBackColour(notice, syscolour::buttonFace);
    QPalette palette = notice->palette();
    palette.setColor(QPalette::WindowText, toQColor(noticeText));
    notice->setPalette(palette);
    notice->hide();
    return notice;
}

void setNotice(QLabel* notice, const QString& text)
{
    notice->setText(text);
    notice->setToolTip(text);
    notice->setVisible(!text.isEmpty());
}

void setBackColour(QWidget* widget, ColourValue colour)
{
    QPalette palette = widget->palette();
    palette.setColor(widget->backgroundRole(), toQColor(colour, palette));
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

void fillChoices(QComboBox* list, std::initializer_list<const char*> items, int current)
{
    for (const char* item : items)
        list->addItem(QString::fromUtf8(item));
    list->setCurrentIndex(current);
}

std::optional<double> positiveEntry(const QLineEdit* entry)
{
    bool ok = false;
    const double v = QLocale().toDouble(entry->text().trimmed(), &ok);
    return ok && std::isfinite(v) && v > 0 ? std::optional(v) : std::nullopt;
}

} // namespace diagnostika
