#pragma once
// The publishing thread's side: one broker connection at a time and the outbox. Lives on that
// thread; every call comes queued from Publisher.

#include "common/feed.h"
#include "publish/outbox.h"
#include "publish/publisher.h"
#include "publish/publishsettings.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <map>
#include <set>

struct mosquitto;
struct mqtt5__property;
class QSocketNotifier;

namespace diagnostika::publish {

class Link : public QObject {
    Q_OBJECT
public:
    explicit Link(QString outboxFolder);
    ~Link() override;

    void configure(const PublishSettings& settings);
    void add(const QString& window, const FeedReading& reading, std::int64_t wallMs);
    // Says "offline", closes the connection and writes the outbox's mark.
    void shutdown();

Q_SIGNALS:
    void statusChanged(const diagnostika::publish::PublishStatus& status);
    void problem(const QString& text);

private:
    static void onConnect(mosquitto*, void* self, int rc, int flags, const mqtt5__property*);
    static void onDisconnect(mosquitto*, void* self, int rc, const mqtt5__property*);
    static void onPublish(mosquitto*, void* self, int mid, int reason, const mqtt5__property*);
    static void onLog(mosquitto*, void* self, int level, const char* text);

    void connectNow();
    void closeHandle();
    void service();
    void watchSocket();
    void pump();
    void lost(const QString& reason);
    void scheduleRetry();
    void tell(const QString& what, const QString& reason);
    void setState(PublishStatus::State state);
    void reportSoon();
    void report();

    QString folder_;
    PublishSettings settings_;
    Outbox outbox_;
    bool outboxOpen_ = false;
    mosquitto* mosq_ = nullptr;
    int fd_ = -1;
    QSocketNotifier* reader_ = nullptr;
    QSocketNotifier* writer_ = nullptr;
    QTimer* keepAlive_ = new QTimer(this);
    QTimer* retry_ = new QTimer(this);
    QTimer* connectDeadline_ = new QTimer(this);
    QTimer* reportTimer_ = new QTimer(this);
    QTimer* markTimer_ = new QTimer(this);
    int attempts_ = 0;
    bool connected_ = false;
    std::map<int, std::int64_t> inflight_; // message id -> outbox index
    std::int64_t sendNext_ = 0;
    QString lastLogError_;
    bool refused_ = false; // the broker answered with a refusal, already told
    std::set<QString> told_;
    std::int64_t droppedTold_ = 0;
    PublishStatus status_;
    PublishStatus reported_;
};

} // namespace diagnostika::publish
