#include "edgequeue.h"

#include <QTimer>
#include <algorithm>

namespace diagnostika {

EdgeQueue::EdgeQueue(QObject* owner, EdgeHandler onEdge, LossHandler onLoss)
    : owner_(owner), onEdge_(std::move(onEdge)), onLoss_(std::move(onLoss))
{
}

void EdgeQueue::post(std::vector<LineEvent> events, std::int64_t seenUs)
{
    std::lock_guard<std::mutex> guard(mutex_);
    if (events.empty()) {
        // Nothing to hand over: the look counts once what is queued before it has gone.
        if (items_.empty() && !handing_)
            seenUntilUs_ = std::max(seenUntilUs_.value_or(seenUs), seenUs);
        else if (!items_.empty() && !items_.back().loss)
            items_.back().seenUs = seenUs;
        else
            handedSeenUs_ = seenUs; // after the item being handed over
        return;
    }
    for (const LineEvent& e : events)
        items_.push_back(Item{e, false, {}});
    items_.back().seenUs = seenUs;
    askForDelivery();
}

void EdgeQueue::postLoss(SerialError error)
{
    std::lock_guard<std::mutex> guard(mutex_);
    losses_.push_back(std::move(error));
    items_.push_back(Item{LineEvent{}, true, {}});
    askForDelivery();
}

void EdgeQueue::askForDelivery()
{
    if (deliveryAsked_)
        return;
    deliveryAsked_ = true;
    // Queued calls to a destroyed owner are discarded by Qt, so none can outlive it.
    QMetaObject::invokeMethod(
        owner_, [this] { deliverWhenDue(); }, Qt::QueuedConnection);
}

void EdgeQueue::deliverWhenDue()
{
    const qint64 since = lastDelivery_.isValid() ? lastDelivery_.elapsed() : minGapMs;
    if (since >= minGapMs) {
        deliver();
        return;
    }
    // A timer owned by the owner: gone with it, like the queued call.
    QTimer::singleShot(static_cast<int>(minGapMs - since), Qt::PreciseTimer, owner_,
                       [this] { deliver(); });
}

void EdgeQueue::deliver()
{
    // Only what is queued now: under a flood of edges the owner's event loop still gets its turn
    // (painting, timers) before the next batch, which is asked for at the end.
    std::size_t batch = 0;
    lastDelivery_.start();
    {
        std::lock_guard<std::mutex> guard(mutex_);
        deliveryAsked_ = false;
        batch = items_.size();
    }
    for (; batch > 0; --batch) {
        Item item;
        SerialError loss;
        {
            std::lock_guard<std::mutex> guard(mutex_);
            if (items_.empty())
                return; // a receiver closed the port, which delivered the rest
            item = items_.front();
            items_.pop_front();
            handing_ = true;
            if (item.loss) {
                loss = std::move(losses_.front());
                losses_.pop_front();
            }
        }
        {
            std::lock_guard<std::mutex> guard(mutex_);
            handing_ = false;
            for (const std::optional<std::int64_t>& seen : {item.seenUs, handedSeenUs_}) {
                if (seen && !item.loss)
                    seenUntilUs_ = std::max(seenUntilUs_.value_or(*seen), *seen);
            }
            handedSeenUs_.reset();
        }
        if (item.loss)
            onLoss_(loss);
        else
            onEdge_(item.event);
    }
    std::lock_guard<std::mutex> guard(mutex_);
    if (!items_.empty())
        askForDelivery();
}

void EdgeQueue::clear()
{
    std::lock_guard<std::mutex> guard(mutex_);
    items_.clear();
    losses_.clear();
}

std::optional<std::int64_t> EdgeQueue::seenUntilUs() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return seenUntilUs_;
}

std::size_t EdgeQueue::size() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return items_.size();
}

} // namespace diagnostika
