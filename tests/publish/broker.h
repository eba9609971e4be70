#pragma once
// A real Mosquitto broker for tests, started by the test on a free loopback port with a
// configuration file of its own (never the system's service), and a subscriber that records
// everything published under diagnostika/. Waiting is on conditions with a deadline while the
// event loop runs.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <arpa/inet.h>
#include <functional>
#include <mosquitto.h>
#include <mutex>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace diagnostika::test {

// The broker's program; empty when Mosquitto is not installed.
inline QString brokerProgram()
{
    QString found = QStandardPaths::findExecutable(QStringLiteral("mosquitto"));
    if (found.isEmpty())
        found = QStandardPaths::findExecutable(QStringLiteral("mosquitto"),
                                               {QStringLiteral("/usr/sbin")});
    return found;
}

// Runs `what` through the event loop until `done` holds or `ms` pass; whether it held.
inline bool waitUntil(const std::function<bool()>& done, int ms = 10'000)
{
    return QTest::qWaitFor(done, ms);
}

class Broker {
public:
    struct Options {
        QString passwordFile;              // mosquitto_passwd's file; empty: anyone may connect
        QString caFile, certFile, keyFile; // all set: a TLS listener
        bool persistent = false;           // keeps sessions over a kill (saved at every change)
    };

    Broker(const QString& folder, Options options) : folder_(folder), o_(std::move(options))
    {
        // A port the system has free now, kept for every start of this broker.
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = loopback(0);
        socklen_t length = sizeof a;
        ::bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a);
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
        port_ = ntohs(a.sin_port);
        ::close(s);
    }
    ~Broker() { kill(); }
    Broker(const Broker&) = delete;
    Broker& operator=(const Broker&) = delete;

    int port() const { return port_; }

    // Starts it and waits until it takes connections.
    bool start()
    {
        const QString config = QDir(folder_).filePath(QStringLiteral("mosquitto.conf"));
        QFile f(config);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
        const passwd* me = ::getpwuid(::getuid());
        QByteArray c = "listener " + QByteArray::number(port_) + " 127.0.0.1\n";
        // As whoever runs the test: started as root, Mosquitto would otherwise become its own
        // user and lose the test's files.
        if (me)
            c += "user " + QByteArray(me->pw_name) + "\n";
        c += o_.passwordFile.isEmpty() ? QByteArray("allow_anonymous true\n")
                                       : "allow_anonymous false\npassword_file " +
                                             QFile::encodeName(o_.passwordFile) + "\n";
        if (!o_.caFile.isEmpty())
            c += "cafile " + QFile::encodeName(o_.caFile) + "\ncertfile " +
                 QFile::encodeName(o_.certFile) + "\nkeyfile " + QFile::encodeName(o_.keyFile) +
                 "\n";
        if (o_.persistent)
            c += "persistence true\npersistence_location " + QFile::encodeName(folder_) +
                 "/\nautosave_interval 1\nautosave_on_changes true\n";
        c += "log_dest stderr\nlog_type error\nlog_type warning\nlog_type notice\n";
        f.write(c);
        f.close();
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start(brokerProgram(), {QStringLiteral("-c"), config});
        if (!process_.waitForStarted(5000))
            return false;
        return waitUntil([this] { return process_.state() != QProcess::Running || accepts(); }) &&
               process_.state() == QProcess::Running;
    }
    // SIGKILL: no goodbye to anyone.
    void kill()
    {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.kill();
        process_.waitForFinished(5000);
        log_ += process_.readAll();
    }
    QByteArray log() { return log_ + process_.readAll(); }

private:
    static sockaddr_in loopback(int port)
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return a;
    }
    bool accepts() const
    {
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        const sockaddr_in a = loopback(port_);
        const bool ok = ::connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
        ::close(s);
        return ok;
    }

    QString folder_;
    Options o_;
    int port_ = 0;
    QProcess process_;
    QByteArray log_;
};

// Records every message under diagnostika/# on its own libmosquitto thread.
class Subscriber {
public:
    struct Received {
        QByteArray topic;
        QByteArray payload;
        bool retained = false;
    };

    // `session`: a client id whose subscription the broker keeps while this one is away.
    Subscriber(int port, const QByteArray& session = {}, const QString& caFile = {})
    {
        mosquitto_lib_init();
        m_ = mosquitto_new(session.isEmpty() ? nullptr : session.constData(), session.isEmpty(),
                           this);
        mosquitto_reconnect_delay_set(m_, 1, 1, false);
        if (!caFile.isEmpty())
            mosquitto_tls_set(m_, QFile::encodeName(caFile).constData(), nullptr, nullptr, nullptr,
                              nullptr);
        mosquitto_connect_callback_set(m_, [](mosquitto* m, void*, int rc) {
            if (rc == 0)
                mosquitto_subscribe(m, nullptr, "diagnostika/#", 1);
        });
        mosquitto_subscribe_callback_set(m_, [](mosquitto*, void* self, int, int, const int*) {
            static_cast<Subscriber*>(self)->subscribed_ += 1;
        });
        mosquitto_message_callback_set(m_, [](mosquitto*, void* self,
                                              const mosquitto_message* msg) {
            auto* me = static_cast<Subscriber*>(self);
            const std::lock_guard lock(me->mutex_);
            me->received_.push_back(
                {QByteArray(msg->topic),
                 QByteArray(static_cast<const char*>(msg->payload), msg->payloadlen), msg->retain});
        });
        mosquitto_connect(m_, "127.0.0.1", port, 30);
        mosquitto_loop_start(m_);
    }
    ~Subscriber()
    {
        mosquitto_disconnect(m_);
        mosquitto_loop_stop(m_, false);
        mosquitto_destroy(m_);
        mosquitto_lib_cleanup();
    }
    Subscriber(const Subscriber&) = delete;
    Subscriber& operator=(const Subscriber&) = delete;

    bool waitSubscribed(int count = 1)
    {
        return waitUntil([this, count] { return subscribed_.load() >= count; });
    }
    std::vector<Received> received() const
    {
        const std::lock_guard lock(mutex_);
        return received_;
    }
    std::vector<Received> on(const QByteArray& topic) const
    {
        std::vector<Received> found;
        for (const Received& r : received())
            if (r.topic == topic)
                found.push_back(r);
        return found;
    }

private:
    mosquitto* m_ = nullptr;
    std::atomic<int> subscribed_{0};
    mutable std::mutex mutex_;
    std::vector<Received> received_;
};

} // namespace diagnostika::test
