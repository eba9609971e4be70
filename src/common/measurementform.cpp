#include "measurementform.h"

#include "appicon.h"
#include "controls.h"
#include "twips.h"

#include <QEvent>
#include <QMdiArea>
#include <QMdiSubWindow>

namespace diagnostika {

MeasurementForm::MeasurementForm(const QString& source, const QString& caption, QSize clientTwips,
                                 QObject* parent)
    : QObject(parent), caption_(caption), feed_(new Feed(source, caption, this)),
      clientTwips_(clientTwips)
{
}

MeasurementForm::~MeasurementForm()
{
    // The window normally goes first; if the form goes first, its window must not outlive it.
    if (window_) {
        window_->removeEventFilter(this);
        // The derived part is gone already: its releaseControls() must not run from here.
        disconnect(window_.data(), nullptr, this, nullptr);
        delete window_.data();
    }
}

void MeasurementForm::show(QMdiArea* area)
{
    // A window that has closed but is not yet destroyed cannot come back; it goes now, so that a
    // fresh one is built.
    if (window_ && unloaded_)
        delete window_.data();
    if (window_) {
        window_->showNormal();
        area->setActiveSubWindow(window_);
        window_->raise();
        return;
    }

    auto* client = new QWidget;
    client->setFixedSize(twipSize(clientTwips_.width(), clientTwips_.height()));
    // The controls are placed in twips for this face, whichever window hosts them.
    client->setFont(windowFont(8));
    client_ = client;
    buildControls(client);

    const Qt::WindowFlags flags = Qt::SubWindow | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                  Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    QMdiSubWindow* window = area->addSubWindow(client, flags);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(caption_);
    window->setWindowIcon(appIcon());
    window->setOption(QMdiSubWindow::RubberBandResize, false);
    window->installEventFilter(this);
    window_ = window;
    unloaded_ = false;
    connect(window, &QObject::destroyed, this, [this] {
        releaseControls();
        client_ = nullptr;
        Q_EMIT closed();
        feed_->publishClosed();
    });

    formLoad();

    window->adjustSize();
    window->setFixedSize(window->size());
    window->show();
    area->setActiveSubWindow(window);
    Q_EMIT opened();
    feed_->publishOpened();
    settingsToFeed();
}

void MeasurementForm::close()
{
    if (window_ && !unloaded_)
        window_->close();
}

bool MeasurementForm::eventFilter(QObject* watched, QEvent* event)
{
    // The type first: while the window is being destroyed it still sends events (children going),
    // and looking at the guarded pointer then would treat a half-destroyed widget as a subwindow.
    // The window is destroyed only later: a second close before then must not unload again.
    if (event->type() == QEvent::Close && watched == window_ && !unloaded_) {
        unloaded_ = true;
        formUnload();
    }
    return QObject::eventFilter(watched, event);
}

} // namespace diagnostika
