#include "repaintlimiter.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

namespace diagnostika {

void RepaintLimiter::install(QWidget* window, int intervalMs)
{
    if (!window || window->findChild<RepaintLimiter*>(QString(), Qt::FindDirectChildrenOnly))
        return;
    new RepaintLimiter(window, intervalMs);
}

RepaintLimiter::RepaintLimiter(QWidget* window, int intervalMs)
    : QObject(window), window_(window), intervalMs_(intervalMs)
{
    // A child, so that the held repaint can be found (and let through) like any window timer.
    held_.setParent(this);
    held_.setObjectName(QStringLiteral("held"));
    held_.setSingleShot(true);
    held_.setTimerType(Qt::PreciseTimer);
    connect(&held_, &QTimer::timeout, this, &RepaintLimiter::release);
    window->installEventFilter(this);
}

bool RepaintLimiter::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::UpdateRequest || watched != window_ || releasing_)
        return QObject::eventFilter(watched, event);
    // Read once: on a busy machine a second reading can already lie past the interval, and a
    // timer given a negative wait never runs, which would leave the held repaint undone.
    const qint64 since = last_.isValid() ? last_.elapsed() : intervalMs_;
    if (since < intervalMs_) {
        // Qt asks for no further repaint until this one is done: the held one covers every change
        // until it is let through.
        if (!held_.isActive())
            held_.start(static_cast<int>(intervalMs_ - since));
        return true;
    }
    last_.start();
    return QObject::eventFilter(watched, event);
}

void RepaintLimiter::release()
{
    if (!window_)
        return;
    last_.start();
    releasing_ = true;
    QEvent request(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(window_, &request);
    releasing_ = false;
}

} // namespace diagnostika
