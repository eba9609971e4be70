#pragma once
// The lifecycle every measurement window shares. One object per window kind lives for the whole run
// and keeps the window's state fields; its controls, timers and devices exist only while the window
// is open. Opening builds fresh controls and runs the load handling again; closing destroys them
// and leaves the state fields as they were.

#include "feed.h"

#include <QMdiSubWindow>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>

class QMdiArea;
class QWidget;

namespace diagnostika {

class MeasurementForm : public QObject {
    Q_OBJECT
public:
    ~MeasurementForm() override;

    // Opens the window in `area`, or, if it is open already, brings it to the front and activates
    // it.
    void show(QMdiArea* area);
    // Closes the window if it is open; the state fields stay.
    void close();
    // From opening until the closed window is destroyed.
    bool isOpen() const { return !window_.isNull(); }

    // While open: the child window and the widget that holds the controls; otherwise null.
    QMdiSubWindow* window() const { return window_; }
    QWidget* client() const { return client_; }

    // What the window shows, for whoever listens; lives as long as this object.
    Feed* feed() const { return feed_; }

Q_SIGNALS:
    void opened();
    void closed();

protected:
    // `clientSize` is the client area in twips; `source` is the window's short name for its feed.
    MeasurementForm(const QString& source, const QString& caption, QSize clientTwips,
                    QObject* parent);

    // Builds the window's controls and timers as descendants of `client`.
    virtual void buildControls(QWidget* client) = 0;
    // The window's load handling, run after the controls are built and before the window shows.
    virtual void formLoad() {}
    // Runs when the window is closing while its controls still exist.
    virtual void formUnload() {}
    // Drops the pointers to the controls, which are about to be destroyed.
    virtual void releaseControls() = 0;
    // Publishes every setting to the feed; runs once the window has opened, and from the window's
    // own change signals.
    virtual void settingsToFeed() {}

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QString caption_;
    Feed* feed_;
    QSize clientTwips_;
    QPointer<QMdiSubWindow> window_;
    QPointer<QWidget> client_;
    bool unloaded_ = false; // the window has closed and waits to be destroyed
};

} // namespace diagnostika
