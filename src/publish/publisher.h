#pragma once
// Publishing the windows' readings to an MQTT broker (topics in messages.h).
//
// The connection and the outbox live on a thread of their own, driven by that thread's Qt event
// loop: libmosquitto's socket is watched by QSocketNotifiers there and served with its one-shot
// mosquitto_loop, with a timer for its keep-alive. Not the user-interface thread's loop, because
// opening a connection resolves the host name and connects, which can take seconds, and every
// message is written to the outbox on disk first; not libmosquitto's own thread, because its
// reconnecting loop ends for good on some errors (a refused certificate, an unknown host) without
// a word, and the outbox would still need a thread for the disk. The windows' readings reach
// that thread as queued calls; its state comes back as queued signals. The user-interface thread
// copies a reading and posts it: nothing more.

#include "common/feed.h"
#include "publish/publishsettings.h"

#include <QMetaType>
#include <QObject>
#include <QString>
#include <cstdint>
#include <vector>

class QThread;

namespace diagnostika::publish {

class Link;

struct PublishStatus {
    enum class State { Off, Connecting, Connected, Reconnecting };
    State state = State::Off;
    std::int64_t queued = 0; // messages not yet acknowledged by the broker, on disk
    std::int64_t queuedBytes = 0;
    std::int64_t dropped = 0; // the oldest, dropped at the outbox's bound since it was opened
    friend bool operator==(const PublishStatus&, const PublishStatus&) = default;
};

// For the main window's caption: "server: pripojené", "server: pripája sa znova, v rade ...".
QString statusText(const PublishStatus& status);

class Publisher : public QObject {
    Q_OBJECT
public:
    // `outboxFolder` keeps the messages the broker has not acknowledged, across runs.
    explicit Publisher(const QString& outboxFolder, QObject* parent = nullptr);
    // Says "offline" to the broker and writes the outbox's mark; waits a moment for that.
    ~Publisher() override;

    static QString defaultOutboxFolder();

    // A window whose readings are published whenever publishing is on.
    void addFeed(Feed* feed);
    // Starts publishing with `settings` (a running connection is closed first). Returns at once.
    void start(const PublishSettings& settings);
    void stop();
    bool isRunning() const { return running_; }
    const PublishSettings& settings() const { return settings_; }
    const PublishStatus& status() const { return status_; }
    // CPU seconds the publishing thread has used, for benchmarks. Waits for that thread.
    double threadCpuSeconds() const;

Q_SIGNALS:
    void statusChanged(const diagnostika::publish::PublishStatus& status);
    // One text for the user per problem (the broker's or the library's reason in it); the same
    // problem again is not told again until publishing has worked in between.
    void failed(const QString& text);

private:
    void listen(Feed* feed);

    QThread* thread_ = nullptr;
    Link* link_ = nullptr;
    std::vector<Feed*> feeds_;
    std::vector<QMetaObject::Connection> connections_;
    PublishSettings settings_;
    PublishStatus status_;
    bool running_ = false;
};

} // namespace diagnostika::publish

Q_DECLARE_METATYPE(diagnostika::publish::PublishStatus)
