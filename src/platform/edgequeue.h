#pragma once
// Carries edges, and the losses of the device, from a watcher thread to the thread that owns
// a SerialLines, in order. The watcher posts; the owner's event loop is asked (one queued call at
// a time) to deliver; delivery hands over one item at a time, so a receiver may close the port or
// run a nested event loop without edges overtaking each other.
//
// Nothing is dropped while the owner's thread is busy: the queue simply grows until it runs.
//
// Deliveries come at most every `minGapMs`: a fast pulse train posts every millisecond, and waking
// the owner's thread for each batch would cost more than the edges themselves. An owner that needs
// every edge up to now (a periodic evaluation) calls deliver() first.

#include "seriallines.h"

#include <QElapsedTimer>
#include <QObject>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace diagnostika {

class EdgeQueue {
public:
    using EdgeHandler = std::function<void(const LineEvent&)>;
    using LossHandler = std::function<void(const SerialError&)>;

    // Delivery calls `onEdge` and `onLoss` on `owner`'s thread. `owner` outlives the queue.
    EdgeQueue(QObject* owner, EdgeHandler onEdge, LossHandler onLoss);

    // Any thread. `seenUs` is the moment the lines were looked at to find `events` (monotonic
    // microseconds): once they are delivered, nothing before it is still owed. A look that found
    // nothing is posted too, with no events.
    void post(std::vector<LineEvent> events, std::int64_t seenUs);
    void postLoss(SerialError error);

    // The owner's thread: hands over everything queued so far; what is posted meanwhile follows
    // in a later delivery. With the watcher stopped, one call delivers all.
    void deliver();
    // Forgets what is queued, delivering nothing.
    void clear();
    std::size_t size() const;
    // The owner's thread: the latest `seenUs` whose events have all been delivered; none before
    // the first look.
    std::optional<std::int64_t> seenUntilUs() const;

private:
    struct Item {
        LineEvent event;
        bool loss = false; // the device went away here; the front of losses_ says how
        // The last item of a post carries its look's moment; the others none.
        std::optional<std::int64_t> seenUs;
    };
    void askForDelivery(); // with mutex_ held
    void deliverWhenDue(); // the owner's thread

public:
    static constexpr int minGapMs = 8;

private:
    QObject* owner_;
    EdgeHandler onEdge_;
    LossHandler onLoss_;
    mutable std::mutex mutex_;
    std::deque<Item> items_;
    // Each loss keeps its own device and reason until it is delivered: a port opened again and lost
    // again before the first loss is handed over must not rename the first.
    std::deque<SerialError> losses_;
    bool deliveryAsked_ = false;
    std::optional<std::int64_t> seenUntilUs_;
    // An item is out of the queue but not yet handed over: a look that comes meanwhile waits for
    // it in handedSeenUs_.
    bool handing_ = false;
    std::optional<std::int64_t> handedSeenUs_;
    QElapsedTimer lastDelivery_; // the owner's thread
};

} // namespace diagnostika
