#include "link.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <QThread>
#include <cerrno>
#include <cstring>
#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

namespace diagnostika::publish {
namespace {

constexpr int keepAliveSeconds = 30;
// Messages sent ahead of the broker's acknowledgements: enough to fill a loopback or a plant
// network's round trip, few enough that a reconnection resends little.
constexpr std::size_t window = 100;
// Waiting after a failed attempt: 250 ms, doubling to 10 s.
constexpr int firstRetryMs = 250;
constexpr int longestRetryMs = 10'000;
// A connection neither made nor refused by then is given up and tried again.
constexpr int connectTimeoutMs = 15'000;

struct LibraryUser {
    LibraryUser() { mosquitto_lib_init(); }
    ~LibraryUser() { mosquitto_lib_cleanup(); }
};

void useLibrary()
{
    static LibraryUser user;
}

QString reasonOf(int rc)
{
    if (rc == MOSQ_ERR_ERRNO)
        return QString::fromLocal8Bit(std::strerror(errno));
    return QString::fromUtf8(mosquitto_strerror(rc));
}

} // namespace

Link::Link(QString outboxFolder) : folder_(std::move(outboxFolder))
{
    useLibrary();
    keepAlive_->setInterval(1000);
    connect(keepAlive_, &QTimer::timeout, this, &Link::service);
    retry_->setSingleShot(true);
    connect(retry_, &QTimer::timeout, this, &Link::connectNow);
    connectDeadline_->setSingleShot(true);
    connectDeadline_->setInterval(connectTimeoutMs);
    connect(connectDeadline_, &QTimer::timeout, this, [this] {
        lost(QStringLiteral("server neodpovedal do %1 s").arg(connectTimeoutMs / 1000));
    });
    reportTimer_->setSingleShot(true);
    reportTimer_->setInterval(250);
    connect(reportTimer_, &QTimer::timeout, this, &Link::report);
    // The outbox's mark is synced to the disk: every few seconds is enough, a crash only sends
    // that much again, which the sequence numbers let a consumer drop.
    markTimer_->setInterval(2000);
    connect(markTimer_, &QTimer::timeout, this, [this] { outbox_.writeMark(); });
    markTimer_->start();
}

Link::~Link()
{
    shutdown();
}

void Link::configure(const PublishSettings& settings)
{
    shutdown();
    settings_ = settings;
    told_.clear();
    if (!outboxOpen_) {
        QString error;
        if (!outbox_.open(folder_, settings.outboxLimitBytes, &error))
            tell(QStringLiteral("rad neodoslaných správ v %1 sa nedá zapisovať, správy čakajú "
                                "len v pamäti")
                     .arg(QDir::toNativeSeparators(folder_)),
                 error);
        outboxOpen_ = true;
        droppedTold_ = 0;
    }
    attempts_ = 0;
    setState(PublishStatus::State::Connecting);
    connectNow();
}

void Link::add(const QString& window, const FeedReading& reading, std::int64_t wallMs)
{
    if (!outboxOpen_)
        return;
    const std::uint64_t sequence = outbox_.nextSequence();
    QString error;
    if (!outbox_.append(
            sequence,
            readingMessages(settings_.station, window, reading, wallMs, sequence, settings_.influx),
            &error))
        tell(QStringLiteral("rad neodoslaných správ v %1 sa nedá zapisovať, správy čakajú "
                            "v pamäti")
                 .arg(QDir::toNativeSeparators(folder_)),
             error);
    pump();
    watchSocket();
    reportSoon();
}

void Link::shutdown()
{
    retry_->stop();
    connectDeadline_->stop();
    if (mosq_ && connected_) {
        // The last will is for a station that vanished; one that stops says so itself.
        mosquitto_publish(mosq_, nullptr, statusTopic(settings_.station).constData(), 7, "offline",
                          1, true);
        mosquitto_disconnect(mosq_);
        // What is still buffered goes out before the socket closes: a short wait on this thread.
        for (int i = 0; i < 20 && mosquitto_socket(mosq_) >= 0 && mosquitto_want_write(mosq_); ++i)
            mosquitto_loop(mosq_, 25, 1);
    }
    closeHandle();
    if (outboxOpen_)
        outbox_.writeMark();
    if (status_.state != PublishStatus::State::Off) {
        setState(PublishStatus::State::Off);
    }
}

void Link::closeHandle()
{
    for (QSocketNotifier* n : {reader_, writer_}) {
        if (n) {
            n->setEnabled(false);
            n->deleteLater();
        }
    }
    reader_ = writer_ = nullptr;
    fd_ = -1;
    keepAlive_->stop();
    if (mosq_)
        mosquitto_destroy(mosq_);
    mosq_ = nullptr;
    connected_ = false;
    inflight_.clear();
}

void Link::connectNow()
{
    // Each attempt a new client: messages libmosquitto still held from the last connection would
    // otherwise go out again beside the outbox's own resending.
    closeHandle();
    lastLogError_.clear();
    refused_ = false;
    const QByteArray id = QStringLiteral("diagnostika-%1-%2")
                              .arg(settings_.station)
                              .arg(QCoreApplication::applicationPid())
                              .toUtf8();
    mosq_ = mosquitto_new(id.constData(), true, this);
    if (!mosq_) {
        lost(reasonOf(MOSQ_ERR_ERRNO));
        return;
    }
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    mosquitto_connect_v5_callback_set(mosq_, &Link::onConnect);
    mosquitto_disconnect_v5_callback_set(mosq_, &Link::onDisconnect);
    mosquitto_publish_v5_callback_set(mosq_, &Link::onPublish);
    mosquitto_log_callback_set(mosq_, &Link::onLog);
    const QByteArray status = statusTopic(settings_.station);
    mosquitto_will_set(mosq_, status.constData(), 7, "offline", 1, true);

    if (!settings_.user.isEmpty() || !settings_.passwordFile.isEmpty()) {
        QByteArray password;
        if (!settings_.passwordFile.isEmpty()) {
            QFile f(settings_.passwordFile);
            if (!f.open(QIODevice::ReadOnly)) {
                tell(QStringLiteral("súbor s heslom %1 sa nedá čítať")
                         .arg(QDir::toNativeSeparators(settings_.passwordFile)),
                     f.errorString());
                lost({});
                return;
            }
            // The first line; the line break an editor adds is not part of the password.
            password = f.readLine(4096);
            while (password.endsWith('\n') || password.endsWith('\r'))
                password.chop(1);
        }
        const QByteArray user = settings_.user.toUtf8();
        mosquitto_username_pw_set(mosq_, user.isEmpty() ? nullptr : user.constData(),
                                  password.isEmpty() ? nullptr : password.constData());
    }
    if (settings_.tls) {
        int rc = MOSQ_ERR_SUCCESS;
        if (settings_.caFile.isEmpty()) {
            rc = mosquitto_int_option(mosq_, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        } else {
            const QByteArray ca = QFile::encodeName(settings_.caFile);
            const QByteArray cert = QFile::encodeName(settings_.certFile);
            const QByteArray key = QFile::encodeName(settings_.keyFile);
            rc = mosquitto_tls_set(mosq_, ca.constData(), nullptr,
                                   cert.isEmpty() ? nullptr : cert.constData(),
                                   key.isEmpty() ? nullptr : key.constData(), nullptr);
        }
        if (rc != MOSQ_ERR_SUCCESS) {
            QStringList files;
            for (const QString& f : {settings_.caFile, settings_.certFile, settings_.keyFile}) {
                if (!f.isEmpty())
                    files << QDir::toNativeSeparators(f);
            }
            tell(QStringLiteral("certifikáty pre TLS (%1) sa nedajú použiť").arg(files.join(u", ")),
                 reasonOf(rc));
            lost({});
            return;
        }
    }
    const QByteArray host = settings_.host.toUtf8();
    const int rc =
        mosquitto_connect_async(mosq_, host.constData(), settings_.port, keepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS) {
        QString reason = reasonOf(rc);
        if (rc == MOSQ_ERR_EAI) {
            // libmosquitto says only "lookup error"; the resolver says why.
            addrinfo* found = nullptr;
            const int gai = ::getaddrinfo(host.constData(), nullptr, nullptr, &found);
            if (found)
                ::freeaddrinfo(found);
            if (gai != 0)
                reason = QString::fromLocal8Bit(::gai_strerror(gai));
            tell(QStringLiteral("server %1 sa nenašiel").arg(settings_.host), reason);
            lost({});
        } else {
            lost(reason);
        }
        return;
    }
    connectDeadline_->start();
    keepAlive_->start();
    watchSocket();
}

void Link::watchSocket()
{
    const int fd = mosq_ ? mosquitto_socket(mosq_) : -1;
    if (fd != fd_) {
        for (QSocketNotifier* n : {reader_, writer_}) {
            if (n) {
                n->setEnabled(false);
                n->deleteLater();
            }
        }
        reader_ = writer_ = nullptr;
        fd_ = fd;
        if (fd >= 0) {
            reader_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
            writer_ = new QSocketNotifier(fd, QSocketNotifier::Write, this);
            connect(reader_, &QSocketNotifier::activated, this, &Link::service);
            connect(writer_, &QSocketNotifier::activated, this, &Link::service);
        }
    }
    if (writer_)
        writer_->setEnabled(mosquitto_want_write(mosq_));
}

void Link::service()
{
    if (!mosq_)
        return;
    // Until the broker has accepted the connection, one pass of the library's own loop, without
    // waiting: it knows the states of a connection being made (the TCP connection pending, the
    // TLS handshake) better than a copy here would. Once connected, only what the socket is
    // ready for: the loop's select and its wake-up pipe would cost more than the work itself.
    int rc = MOSQ_ERR_SUCCESS;
    if (!connected_) {
        rc = mosquitto_loop(mosq_, 0, 1);
    } else {
        auto* from = qobject_cast<QSocketNotifier*>(sender());
        if (from == reader_)
            rc = mosquitto_loop_read(mosq_, 1);
        else if (from == writer_)
            rc = mosquitto_loop_write(mosq_, 1);
        if (rc == MOSQ_ERR_SUCCESS && mosq_)
            rc = mosquitto_loop_misc(mosq_);
    }
    if (!mosq_)
        return;
    if (rc != MOSQ_ERR_SUCCESS) {
        lost(!lastLogError_.isEmpty() ? lastLogError_ : reasonOf(rc));
        return;
    }
    watchSocket();
}

void Link::pump()
{
    if (!mosq_ || !connected_)
        return;
    sendNext_ = std::max(sendNext_, outbox_.first());
    while (inflight_.size() < window && sendNext_ < outbox_.end()) {
        const Message& m = outbox_.at(sendNext_);
        int mid = 0;
        const int rc =
            mosquitto_publish(mosq_, &mid, m.topic.constData(), static_cast<int>(m.payload.size()),
                              m.payload.constData(), 1, false);
        if (rc != MOSQ_ERR_SUCCESS)
            break;
        inflight_[mid] = sendNext_++;
    }
}

void Link::onConnect(mosquitto*, void* self, int rc, int, const mqtt5__property*)
{
    auto* link = static_cast<Link*>(self);
    link->connectDeadline_->stop();
    if (rc != 0) {
        // The broker's own words: a wrong password, a client it does not allow.
        const QString reason = QString::fromUtf8(mosquitto_reason_string(rc));
        link->tell(QStringLiteral("server %1:%2 odmietol pripojenie")
                       .arg(link->settings_.host)
                       .arg(link->settings_.port),
                   reason);
        link->lastLogError_ = reason;
        link->refused_ = true;
        return; // the broker closes the connection; onDisconnect follows
    }
    link->connected_ = true;
    // With a log callback set the library formats a line for every packet; its words are wanted
    // only while a connection is being made.
    mosquitto_log_callback_set(link->mosq_, nullptr);
    link->attempts_ = 0;
    link->told_.clear();
    link->inflight_.clear();
    link->sendNext_ = link->outbox_.first();
    const QByteArray status = statusTopic(link->settings_.station);
    mosquitto_publish(link->mosq_, nullptr, status.constData(), 6, "online", 1, true);
    link->setState(PublishStatus::State::Connected);
    link->pump();
}

void Link::onDisconnect(mosquitto*, void* self, int rc, const mqtt5__property*)
{
    auto* link = static_cast<Link*>(self);
    if (rc != 0 && link->lastLogError_.isEmpty())
        link->lastLogError_ = reasonOf(rc);
}

void Link::onPublish(mosquitto*, void* self, int mid, int reason, const mqtt5__property*)
{
    auto* link = static_cast<Link*>(self);
    const auto found = link->inflight_.find(mid);
    if (found == link->inflight_.end())
        return;
    // A message the broker refuses (its access rules) is taken as done: sending it again would
    // only be refused again, and would hold up every message behind it.
    if (reason >= 0x80)
        link->tell(QStringLiteral("server odmietol správu %1")
                       .arg(QString::fromUtf8(link->outbox_.at(found->second).topic)),
                   QString::fromUtf8(mosquitto_reason_string(reason)));
    link->outbox_.acknowledge(found->second);
    link->inflight_.erase(found);
    link->pump();
    link->reportSoon();
}

void Link::onLog(mosquitto*, void* self, int level, const char* text)
{
    // The library's reason for a failed TLS handshake comes only this way.
    if (level == MOSQ_LOG_ERR)
        static_cast<Link*>(self)->lastLogError_ = QString::fromUtf8(text);
}

void Link::lost(const QString& reason)
{
    const bool wasConnected = connected_;
    const bool connecting = status_.state == PublishStatus::State::Connecting && !wasConnected;
    closeHandle();
    // A connection that worked and dropped is a broker gone for a while: the outbox keeps the
    // readings and the caption shows it. One that cannot be made at all is told.
    if (connecting && !reason.isEmpty() && !refused_)
        tell(QStringLiteral("k serveru %1:%2 sa nedá pripojiť")
                 .arg(settings_.host)
                 .arg(settings_.port),
             reason);
    setState(connecting ? PublishStatus::State::Connecting : PublishStatus::State::Reconnecting);
    scheduleRetry();
}

void Link::scheduleRetry()
{
    const int delay = std::min(longestRetryMs, firstRetryMs << std::min(attempts_, 10));
    ++attempts_;
    retry_->start(delay);
}

void Link::tell(const QString& what, const QString& reason)
{
    QString text = QStringLiteral("Odosielanie na server: %1").arg(what);
    if (!reason.isEmpty())
        text += QStringLiteral(" (%1)").arg(reason.trimmed());
    text += QStringLiteral(". Merania sa ukladajú do radu na disku a meranie pokračuje.");
    if (told_.insert(text).second)
        Q_EMIT problem(text);
}

void Link::setState(PublishStatus::State state)
{
    status_.state = state;
    report();
}

void Link::reportSoon()
{
    if (!reportTimer_->isActive())
        reportTimer_->start();
}

void Link::report()
{
    status_.queued = outbox_.count();
    status_.queuedBytes = outbox_.bytes();
    status_.dropped = outbox_.dropped();
    if (status_.dropped > droppedTold_) {
        if (droppedTold_ == 0)
            Q_EMIT problem(QStringLiteral("Odosielanie na server: rad na disku je plný (%1 MB), "
                                          "najstaršie správy sa zahadzujú; ich počet je v titulku "
                                          "okna.")
                               .arg(settings_.outboxLimitBytes / (1024 * 1024)));
        droppedTold_ = status_.dropped;
    }
    if (!(status_ == reported_)) {
        reported_ = status_;
        Q_EMIT statusChanged(status_);
    }
}

} // namespace diagnostika::publish
