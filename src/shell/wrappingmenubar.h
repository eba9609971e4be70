#pragma once
// WrappingMenuBar: a menu bar that continues on a further row where its entries do not fit the
// window's width, so every entry stays visible and reachable with its access key.
//
// A QMenuBar hides what does not fit behind an extension button. The classic desktop wrapped the
// bar instead, and the main window's entries need more than its width now. The entries live here
// in order; each row is a QMenuBar holding a run of them, so every row keeps the platform's look,
// mouse handling and Alt+letter access keys. The rows re-flow whenever the width changes.

#include <QList>
#include <QWidget>

class QAction;
class QMenu;
class QMenuBar;

namespace diagnostika {

class WrappingMenuBar : public QWidget {
    Q_OBJECT
public:
    explicit WrappingMenuBar(QWidget* parent = nullptr);

    // A command entry: its caption with "&" before the access key.
    QAction* addEntry(const QString& caption);
    // A drop-down entry.
    QMenu* addMenu(const QString& title);

    // Every entry, in order, whichever row it stands on.
    const QList<QAction*>& entries() const { return entries_; }
    // The rows in use at the present width, top first (none before the bar is first shown).
    QList<QMenuBar*> rows() const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct Flow {
        QList<QList<QAction*>> rows;
        int rowHeight = 0;
    };
    // The entries packed into the fewest rows no wider than `width`, in order; a row always takes
    // at least one entry. Measured by Qt's own menu bar, so the rows match what is drawn.
    Flow flow(int width) const;
    QMenuBar* newRow();
    void addToEntries(QAction* action);
    void entriesChanged();
    void reflow();

    QList<QAction*> entries_;
    // Rows are kept when the bar needs fewer, for a later widening; the first rowsInUse_ show.
    QList<QMenuBar*> rows_;
    qsizetype rowsInUse_ = 0;
    // Never shown: sizes a candidate row.
    QMenuBar* measure_ = nullptr;
    mutable int flowWidth_ = -1;
    mutable Flow flow_;
};

} // namespace diagnostika
