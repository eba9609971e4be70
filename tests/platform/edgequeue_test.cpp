#include "platform/edgequeue.h"

#include <QCoreApplication>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>
#include <thread>

using namespace diagnostika;

namespace {

struct Receiver {
    QObject owner;
    std::vector<LineEvent> edges;
    std::vector<SerialError> losses;
    std::vector<std::size_t> edgesAtLoss;
    bool onOwnerThread = true;
    std::function<void(const LineEvent&)> extra;
    EdgeQueue queue{&owner,
                    [this](const LineEvent& e) {
                        onOwnerThread = onOwnerThread && QThread::currentThread() == owner.thread();
                        edges.push_back(e);
                        if (extra)
                            extra(e);
                    },
                    [this](const SerialError& e) {
                        losses.push_back(e);
                        edgesAtLoss.push_back(edges.size());
                    }};
};

TEST(EdgeQueue, EdgesFromAnotherThreadArriveInOrderOnTheOwnersThreadThenTheLoss)
{
    Receiver r;
    constexpr int batches = 200;
    std::thread watcher([&] {
        std::int64_t stamp = 0;
        for (int b = 0; b < batches; ++b) {
            std::vector<LineEvent> events;
            for (int i = 0; i < 5; ++i, ++stamp)
                events.push_back(LineEvent{comEvCTS + i % 3, (stamp & 1) != 0, stamp});
            r.queue.post(std::move(events), 0);
        }
        SerialError gone;
        gone.kind = SerialError::Kind::Gone;
        r.queue.postLoss(gone);
    });
    watcher.join();
    EXPECT_TRUE(r.edges.empty()) << "nothing may be delivered outside the owner's event loop";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !r.losses.empty(); }, 5000));
    ASSERT_EQ(r.edges.size(), batches * 5u);
    for (std::size_t i = 0; i < r.edges.size(); ++i)
        ASSERT_EQ(r.edges[i].stampMs, static_cast<std::int64_t>(i)) << "out of order";
    EXPECT_TRUE(r.onOwnerThread);
    ASSERT_EQ(r.losses.size(), 1u);
    EXPECT_EQ(r.edgesAtLoss[0], batches * 5u) << "the loss must come after every edge";
}

TEST(EdgeQueue, OneDeliveryHandsOverOnlyWhatWasQueuedWhenItBegan)
{
    Receiver r;
    r.queue.post({LineEvent{comEvDSR, true, 1}, LineEvent{comEvDSR, false, 2}}, 0);
    int posted = 0;
    r.extra = [&](const LineEvent&) {
        if (posted++ == 0)
            r.queue.post({LineEvent{comEvCD, true, 3}}, 0);
    };
    r.queue.deliver();
    EXPECT_EQ(r.edges.size(), 2u);
    EXPECT_EQ(r.queue.size(), 1u);
    // The rest comes with the next turn of the event loop.
    ASSERT_TRUE(QTest::qWaitFor([&] { return r.edges.size() == 3; }, 5000));
    EXPECT_EQ(r.edges[2].stampMs, 3);
}

TEST(EdgeQueue, AReceiverThatDeliversFromInsideKeepsTheOrder)
{
    // As when a handler closes the port, and the close delivers what is left.
    Receiver r;
    r.queue.post(
        {LineEvent{comEvCTS, true, 1}, LineEvent{comEvCTS, false, 2}, LineEvent{comEvCTS, true, 3}},
        0);
    bool nested = false;
    r.extra = [&](const LineEvent&) {
        if (!nested) {
            nested = true;
            r.queue.deliver();
        }
    };
    r.queue.deliver();
    ASSERT_EQ(r.edges.size(), 3u);
    EXPECT_EQ(r.edges[0].stampMs, 1);
    EXPECT_EQ(r.edges[1].stampMs, 2);
    EXPECT_EQ(r.edges[2].stampMs, 3);
}

TEST(EdgeQueue, EachLossKeepsItsOwnDeviceAndReason)
{
    Receiver r;
    for (const char* device : {"/dev/ttyUSB0", "/dev/ttyUSB1"}) {
        SerialError gone;
        gone.kind = SerialError::Kind::Gone;
        gone.device = QString::fromLatin1(device);
        gone.reason = gone.device + QStringLiteral(" odpojené");
        r.queue.postLoss(gone);
    }
    r.queue.deliver();
    ASSERT_EQ(r.losses.size(), 2u);
    EXPECT_EQ(r.losses[0].device, QStringLiteral("/dev/ttyUSB0"));
    EXPECT_EQ(r.losses[0].reason, QStringLiteral("/dev/ttyUSB0 odpojené"));
    EXPECT_EQ(r.losses[1].device, QStringLiteral("/dev/ttyUSB1"));
}

TEST(EdgeQueue, ClearedEdgesAreNeverDelivered)
{
    Receiver r;
    r.queue.post({LineEvent{comEvCTS, true, 1}}, 0);
    r.queue.clear();
    QCoreApplication::processEvents();
    EXPECT_TRUE(r.edges.empty());
    EXPECT_EQ(r.queue.size(), 0u);
}

} // namespace
