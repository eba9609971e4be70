#include "wrappingmenubar.h"

#include <QAction>
#include <QEvent>
#include <QMenu>
#include <QMenuBar>
#include <limits>

namespace diagnostika {

WrappingMenuBar::WrappingMenuBar(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("menuBar"));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    measure_ = newRow();
    measure_->setObjectName(QStringLiteral("measure"));
    measure_->hide();
}

QMenuBar* WrappingMenuBar::newRow()
{
    auto* row = new QMenuBar(this);
    // The entries are commands, not drop-down menus; a desktop's global menu bar may show only
    // drop-downs and would hide them all. The rows stay in the window.
    row->setNativeMenuBar(false);
    return row;
}

QAction* WrappingMenuBar::addEntry(const QString& caption)
{
    auto* action = new QAction(caption, this);
    addToEntries(action);
    return action;
}

QMenu* WrappingMenuBar::addMenu(const QString& title)
{
    auto* menu = new QMenu(title, this);
    addToEntries(menu->menuAction());
    return menu;
}

void WrappingMenuBar::addToEntries(QAction* action)
{
    entries_.append(action);
    // A new caption is a new width.
    connect(action, &QAction::changed, this, &WrappingMenuBar::entriesChanged);
    entriesChanged();
}

QList<QMenuBar*> WrappingMenuBar::rows() const
{
    return rows_.mid(0, rowsInUse_);
}

WrappingMenuBar::Flow WrappingMenuBar::flow(int width) const
{
    if (width == flowWidth_)
        return flow_;
    // The style may set the bar's font when it polishes it.
    measure_->ensurePolished();
    Flow flow;
    flow.rows.append(QList<QAction*>());
    for (QAction* entry : entries_) {
        measure_->addAction(entry);
        if (!flow.rows.back().isEmpty() && measure_->sizeHint().width() > width) {
            for (QAction* before : flow.rows.back())
                measure_->removeAction(before);
            flow.rows.append(QList<QAction*>());
        }
        flow.rows.back().append(entry);
    }
    flow.rowHeight = measure_->heightForWidth(width);
    for (QAction* left : measure_->actions())
        measure_->removeAction(left);
    flowWidth_ = width;
    flow_ = flow;
    return flow;
}

int WrappingMenuBar::heightForWidth(int width) const
{
    const Flow f = flow(width);
    return int(f.rows.size()) * f.rowHeight;
}

QSize WrappingMenuBar::sizeHint() const
{
    // Preferred: every entry on one row.
    measure_->addActions(entries_);
    const int width = measure_->sizeHint().width();
    for (QAction* entry : entries_)
        measure_->removeAction(entry);
    return {width, heightForWidth(width)};
}

QSize WrappingMenuBar::minimumSizeHint() const
{
    // Narrower than its widest entry, a row would hide that entry again.
    int width = 0;
    for (QAction* entry : entries_) {
        measure_->addAction(entry);
        width = std::max(width, measure_->sizeHint().width());
        measure_->removeAction(entry);
    }
    // The height of one row: the layout bounds the bar's height by this, not by the rows.
    return {width, heightForWidth(std::numeric_limits<int>::max())};
}

void WrappingMenuBar::entriesChanged()
{
    flowWidth_ = -1;
    updateGeometry();
    // Until it is shown the bar has no width of its own yet; showing it lays the rows out.
    if (isVisible())
        reflow();
}

void WrappingMenuBar::reflow()
{
    const Flow f = flow(width());
    while (rows_.size() < f.rows.size()) {
        QMenuBar* row = newRow();
        rows_.append(row);
    }
    for (qsizetype i = 0; i < rows_.size(); ++i) {
        QMenuBar* row = rows_[i];
        const QList<QAction*> wanted = i < f.rows.size() ? f.rows[i] : QList<QAction*>();
        // A row that keeps its entries is left alone, so an open drop-down stays open.
        if (row->actions() != wanted) {
            for (QAction* action : row->actions())
                row->removeAction(action);
            row->addActions(wanted);
        }
        row->setGeometry(0, int(i) * f.rowHeight, width(), f.rowHeight);
        row->setVisible(i < f.rows.size());
    }
    rowsInUse_ = f.rows.size();
}

void WrappingMenuBar::resizeEvent(QResizeEvent*)
{
    reflow();
}

void WrappingMenuBar::showEvent(QShowEvent*)
{
    reflow();
}

void WrappingMenuBar::changeEvent(QEvent* event)
{
    switch (event->type()) {
    case QEvent::FontChange:
    case QEvent::StyleChange:
    case QEvent::LayoutDirectionChange:
        entriesChanged();
        break;
    default:
        break;
    }
    QWidget::changeEvent(event);
}

} // namespace diagnostika
