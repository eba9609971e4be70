#include "handtimers.h"

#include <QCoreApplication>
#include <QTimerEvent>
#include <algorithm>

namespace diagnostika::replay {

void HandTimers::adopt(QObject* root)
{
    if (!root)
        return;
    for (QTimer* timer : root->findChildren<QTimer*>()) {
        if (std::ranges::any_of(entries_, [timer](const Entry& e) { return e.timer == timer; }))
            continue;
        timer->installEventFilter(this);
        entries_.push_back({timer, 0, 0});
    }
}

void HandTimers::look(std::int64_t nowUs)
{
    std::erase_if(entries_, [](const Entry& e) { return e.timer.isNull(); });
    for (Entry& e : entries_) {
        const int id = e.timer->isActive() ? e.timer->timerId() : 0;
        if (id != e.id) {
            e.id = id;
            e.dueUs = nowUs + std::int64_t{std::max(1, e.timer->interval())} * 1000;
        }
    }
}

std::optional<std::int64_t> HandTimers::nextDueUs(std::int64_t nowUs)
{
    look(nowUs);
    std::optional<std::int64_t> next;
    for (const Entry& e : entries_) {
        if (e.id != 0)
            next = std::min(next.value_or(e.dueUs), e.dueUs);
    }
    return next;
}

bool HandTimers::fireDue(std::int64_t nowUs)
{
    look(nowUs);
    Entry* first = nullptr;
    for (Entry& e : entries_) {
        if (e.id != 0 && e.dueUs <= nowUs && (!first || e.dueUs < first->dueUs))
            first = &e;
    }
    if (!first)
        return false;
    QPointer<QTimer> timer = first->timer;
    const int id = first->id;
    // The next run of a periodic timer counts from this one's due moment, as its own would.
    first->dueUs += std::int64_t{std::max(1, timer->interval())} * 1000;
    QTimerEvent event(id);
    firing_ = true;
    QCoreApplication::sendEvent(timer, &event);
    firing_ = false;
    return true;
}

bool HandTimers::eventFilter(QObject* watched, QEvent* event)
{
    // The wall clock's ticks are dropped; only those fired here reach the timer.
    if (event->type() == QEvent::Timer && !firing_)
        return true;
    return QObject::eventFilter(watched, event);
}

} // namespace diagnostika::replay
