// Publishing to a real Mosquitto broker that each test starts on a free loopback port: the windows'
// readings arrive as the windows show them; a broker killed and started again loses no reading; a
// program restarted sends what its outbox kept; TLS with a certificate authority made here; a wrong
// password, an unknown host and a refused certificate are told with their reasons while readings
// keep queueing; the last will arrives when a publishing process is killed.
#include "broker.h"
#include "common/numbertext.h"
#include "publish/publisher.h"
#include "support/fakeclock.h"
#include "support/shaftwindows.h"
#include "support/widgets.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <map>
#include <set>

namespace diagnostika::test {
namespace {

using publish::Publisher;
using publish::PublishSettings;
using publish::PublishStatus;

#define REQUIRE_BROKER()                                                                           \
    if (brokerProgram().isEmpty())                                                                 \
    GTEST_SKIP() << "Mosquitto is not installed (Debian package mosquitto): the broker tests "     \
                    "need a real broker"

QJsonObject json(const QByteArray& payload)
{
    return QJsonDocument::fromJson(payload).object();
}

// Runs openssl with `arguments` (split at spaces); whether it succeeded.
bool openssl(const QString& folder, const QString& arguments)
{
    QProcess p;
    p.setWorkingDirectory(folder);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("openssl"), arguments.split(u' '));
    const bool ok =
        p.waitForFinished(30'000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (!ok)
        ADD_FAILURE() << "openssl " << arguments.toStdString() << ": " << p.readAll().toStdString();
    return ok;
}

// A certificate authority `name`.crt/.key; with `server`, a certificate for localhost and
// 127.0.0.1 signed by it.
bool makeAuthority(const QString& folder, const QString& name, bool server)
{
    const QString key = QStringLiteral("-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes");
    if (!openssl(folder, QStringLiteral("req -x509 %1 -keyout %2.key -out %2.crt -days 2 "
                                        "-subj /CN=autorita-%2")
                             .arg(key, name)))
        return false;
    QFile ext(QDir(folder).filePath(QStringLiteral("san.ext")));
    ext.open(QIODevice::WriteOnly);
    ext.write("subjectAltName=DNS:localhost,IP:127.0.0.1\n");
    ext.close();
    return !server ||
           (openssl(folder, QStringLiteral("req %1 -keyout server.key -out server.csr "
                                           "-subj /CN=localhost")
                                .arg(key)) &&
            openssl(folder, QStringLiteral("x509 -req -in server.csr -CA %1.crt -CAkey %1.key "
                                           "-CAcreateserial -out server.crt -days 2 "
                                           "-extfile san.ext")
                                .arg(name)));
}

class PublishBroker : public ::testing::Test {
protected:
    PublishSettings settingsFor(const Broker& broker, const char* station = "lis3") const
    {
        PublishSettings s;
        s.host = QStringLiteral("127.0.0.1");
        s.port = broker.port();
        s.station = QString::fromLatin1(station);
        return s;
    }
    void watch(Publisher& p)
    {
        QObject::connect(&p, &Publisher::failed, [this](const QString& t) { told.push_back(t); });
    }
    static bool connected(const Publisher& p)
    {
        return p.status().state == PublishStatus::State::Connected;
    }
    // The sequence numbers of the readings of `topic`, in the order they arrived.
    static std::vector<std::int64_t> sequences(const Subscriber& s, const QByteArray& topic)
    {
        std::vector<std::int64_t> found;
        for (const auto& r : s.on(topic))
            found.push_back(json(r.payload)[u"seq"].toInteger());
        return found;
    }

    QTemporaryDir dir;
    QString outbox = QDir(dir.path()).filePath(QStringLiteral("rad"));
    std::vector<QString> told;
};

TEST_F(PublishBroker, TheWindowsReadingsArriveWithTheValuesTheWindowsShow)
{
    REQUIRE_BROKER();
    const QLocale previousLocale;
    QLocale::setDefault(QLocale(QLocale::Slovak, QLocale::Slovakia));
    Broker broker(dir.path(), {});
    ASSERT_TRUE(broker.start()) << broker.log().toStdString();
    Subscriber subscriber(broker.port());
    ASSERT_TRUE(subscriber.waitSubscribed());

    FakeClock clock(10'000);
    SensorBox::Machine machine = SensorBox::machineFor(1);
    machine.swing = 300;
    ShaftWindows w(clock, machine, "4");
    Publisher publisher(outbox);
    watch(publisher);
    for (Feed* feed : {w.form2.feed(), w.trend.feed()})
        publisher.addFeed(feed);
    PublishSettings s = settingsFor(broker);
    s.influx = true;
    publisher.start(s);
    ASSERT_TRUE(waitUntil([&] { return connected(publisher); })) << told.front().toStdString();

    std::vector<QString> speeds, trendSpeeds;
    for (int ms = 1; ms <= 8000; ++ms) {
        clock.advance(1);
        w.lines().poll();
        if (ms % 1000 == 0) {
            w.form2.Timer1_Timer();
            speeds.push_back(control<QLabel>(w.form2.client(), "otacky")->text());
        }
        if (ms % 500 == 0) {
            w.trend.refresh();
            trendSpeeds.push_back(control<QLabel>(w.trend.client(), "otacky")->text());
        }
    }
    const auto arrived = [&](const char* topic, std::size_t count) {
        return waitUntil([&] { return subscriber.on(topic).size() >= count; });
    };
    ASSERT_TRUE(arrived("diagnostika/lis3/com", speeds.size()));
    ASSERT_TRUE(arrived("diagnostika/lis3/trend", trendSpeeds.size()));
    ASSERT_TRUE(arrived("diagnostika/lis3/com/influx", speeds.size()));

    const QLocale locale;
    const auto com = subscriber.on("diagnostika/lis3/com");
    const auto comSpeed = subscriber.on("diagnostika/lis3/com/otacky");
    ASSERT_EQ(com.size(), speeds.size());
    int shownSpeeds = 0;
    for (std::size_t i = 0; i < speeds.size(); ++i) {
        const QJsonObject r = json(com[i].payload);
        EXPECT_EQ(r[u"event"].toString(), u"Timer1");
        EXPECT_EQ(r[u"values"][u"otacky"][u"unit"].toString(), u"min^-1");
        const std::optional<double> shown = readoutNumber(speeds[i], locale);
        if (!shown) {
            EXPECT_TRUE(r[u"values"][u"otacky"][u"value"].isNull()) << i;
            continue;
        }
        EXPECT_EQ(r[u"values"][u"otacky"][u"value"].toDouble(), *shown) << i;
        ASSERT_LT(static_cast<std::size_t>(shownSpeeds), comSpeed.size());
        EXPECT_EQ(comSpeed[shownSpeeds++].payload.toDouble(), *shown) << i;
    }
    EXPECT_GE(shownSpeeds, 6) << "the shaft turns: the window shows speeds";
    const auto influx = subscriber.on("diagnostika/lis3/com/influx");
    EXPECT_TRUE(influx.back().payload.startsWith("diagnostika,station=lis3,window=com otacky="))
        << influx.back().payload.toStdString();

    const auto trend = subscriber.on("diagnostika/lis3/trend");
    ASSERT_EQ(trend.size(), trendSpeeds.size());
    for (std::size_t i = 0; i < trend.size(); ++i) {
        const QJsonValue v = json(trend[i].payload)[u"values"][u"otacky"][u"value"];
        // The window shows a tenth of a revolution a minute; the reading carries the full value.
        if (trendSpeeds[i] == u"–")
            EXPECT_TRUE(v.isNull()) << i;
        else
            EXPECT_EQ(locale.toString(v.toDouble(), 'f', 1).remove(locale.groupSeparator()),
                      trendSpeeds[i])
                << i;
    }
    // One count over the station's readings, in the order the windows made them.
    std::vector<std::int64_t> all;
    for (const auto& r : subscriber.received()) {
        if (r.topic.count('/') == 2 && r.topic != "diagnostika/lis3/status")
            all.push_back(json(r.payload)[u"seq"].toInteger());
    }
    std::set<std::int64_t> unique(all.begin(), all.end());
    EXPECT_EQ(unique.size(), all.size());
    EXPECT_EQ(*unique.rbegin() - *unique.begin() + 1, static_cast<std::int64_t>(all.size()));
    const auto status = subscriber.on("diagnostika/lis3/status");
    ASSERT_FALSE(status.empty());
    EXPECT_EQ(status.back().payload, "online");
    EXPECT_TRUE(told.empty()) << told.front().toStdString();
    QLocale::setDefault(previousLocale);
}

// Readings published straight into a window's feed, `count` of them, numbered from `first`.
void publishReadings(Feed& feed, int first, int count)
{
    for (int i = first; i < first + count; ++i)
        feed.publishReading({"Timer1", {FeedValue{"otacky", "min^-1", double(i), {}}}});
}

TEST_F(PublishBroker, ABrokerKilledAndStartedAgainLosesNoReading)
{
    REQUIRE_BROKER();
    Broker::Options persistent;
    persistent.persistent = true;
    Broker broker(dir.path(), persistent);
    ASSERT_TRUE(broker.start()) << broker.log().toStdString();
    Subscriber subscriber(broker.port(), "dashboard");
    ASSERT_TRUE(subscriber.waitSubscribed());
    Feed feed(QStringLiteral("com"), QStringLiteral("Meranie COM"));
    Publisher publisher(outbox);
    watch(publisher);
    publisher.addFeed(&feed);
    publisher.start(settingsFor(broker));
    ASSERT_TRUE(waitUntil([&] { return connected(publisher); }));

    publishReadings(feed, 0, 100);
    ASSERT_TRUE(waitUntil([&] { return subscriber.on("diagnostika/lis3/com").size() >= 100; }));
    // Killed once the status says the broker has acknowledged everything; the status is sent now
    // and then, so a few messages may still be unacknowledged in fact.
    ASSERT_TRUE(waitUntil([&] { return publisher.status().queued == 0; }));
    broker.kill();
    ASSERT_TRUE(waitUntil([&] { return !connected(publisher); }));
    publishReadings(feed, 100, 100);
    // The outbox holds them, and says so.
    ASSERT_TRUE(waitUntil([&] { return publisher.status().queued >= 200; }));
    EXPECT_EQ(publisher.status().state, PublishStatus::State::Reconnecting);
    // At least the 200 made while it was away; messages still unacknowledged when the broker
    // died stay queued too, and go again (a slow machine acknowledges later than it reports).
    EXPECT_TRUE(publish::statusText(publisher.status())
                    .contains(QStringLiteral("v rade %1 správ").arg(publisher.status().queued)))
        << publish::statusText(publisher.status()).toStdString();
    ASSERT_TRUE(broker.start()) << broker.log().toStdString();
    publishReadings(feed, 200, 100);

    const auto everyOne = [&] {
        const auto seq = sequences(subscriber, "diagnostika/lis3/com");
        return std::set<std::int64_t>(seq.begin(), seq.end()).size() >= 300;
    };
    ASSERT_TRUE(waitUntil(everyOne, 30'000))
        << sequences(subscriber, "diagnostika/lis3/com").size() << " arrived";
    const auto seq = sequences(subscriber, "diagnostika/lis3/com");
    const std::set<std::int64_t> unique(seq.begin(), seq.end());
    EXPECT_EQ(*unique.rbegin() - *unique.begin(), 299) << "no number missing";
    // In order: a number seen again is a resent duplicate, never one that overtook.
    std::int64_t highest = 0;
    for (const std::int64_t s : seq) {
        if (s > highest) {
            EXPECT_EQ(s, highest == 0 ? s : highest + 1);
        }
        highest = std::max(highest, s);
    }
    EXPECT_TRUE(waitUntil([&] { return publisher.status().queued == 0; }));
    EXPECT_TRUE(told.empty()) << "a broker that was there and comes back is no problem to tell";
}

TEST_F(PublishBroker, ARestartedProgramSendsWhatItsOutboxKept)
{
    REQUIRE_BROKER();
    Broker broker(dir.path(), {});
    Feed feed(QStringLiteral("lpt"), QStringLiteral("Meranie LPT"));
    {
        Publisher before(outbox);
        before.addFeed(&feed);
        before.start(settingsFor(broker)); // nothing listens on the port yet
        publishReadings(feed, 0, 40);
        ASSERT_TRUE(waitUntil([&] { return before.status().queued == 80; }));
    }
    ASSERT_TRUE(broker.start()) << broker.log().toStdString();
    Subscriber subscriber(broker.port());
    ASSERT_TRUE(subscriber.waitSubscribed());
    Publisher after(outbox);
    after.addFeed(&feed);
    after.start(settingsFor(broker));
    publishReadings(feed, 40, 10);
    ASSERT_TRUE(waitUntil([&] { return subscriber.on("diagnostika/lis3/lpt").size() >= 50; }));
    const auto seq = sequences(subscriber, "diagnostika/lis3/lpt");
    const auto values = subscriber.on("diagnostika/lis3/lpt/otacky");
    for (std::size_t i = 0; i < 50; ++i) {
        EXPECT_EQ(seq[i], seq[0] + static_cast<std::int64_t>(i)) << i;
        EXPECT_EQ(values[i].payload.toInt(), static_cast<int>(i));
    }
}

TEST_F(PublishBroker, OverTlsWithTheStationsCertificateAuthority)
{
    REQUIRE_BROKER();
    ASSERT_TRUE(makeAuthority(dir.path(), QStringLiteral("ca"), true));
    Broker::Options tls;
    tls.caFile = dir.filePath(QStringLiteral("ca.crt"));
    tls.certFile = dir.filePath(QStringLiteral("server.crt"));
    tls.keyFile = dir.filePath(QStringLiteral("server.key"));
    Broker broker(dir.path(), tls);
    ASSERT_TRUE(broker.start()) << broker.log().toStdString();
    Subscriber subscriber(broker.port(), {}, tls.caFile);
    ASSERT_TRUE(subscriber.waitSubscribed());
    Feed feed(QStringLiteral("com"), QStringLiteral("Meranie COM"));
    Publisher publisher(outbox);
    watch(publisher);
    publisher.addFeed(&feed);
    PublishSettings s = settingsFor(broker);
    s.host = QStringLiteral("localhost");
    s.tls = true;
    s.caFile = tls.caFile;
    publisher.start(s);
    ASSERT_TRUE(waitUntil([&] { return connected(publisher); }))
        << (told.empty() ? std::string() : told.front().toStdString());
    publishReadings(feed, 0, 5);
    ASSERT_TRUE(waitUntil([&] { return subscriber.on("diagnostika/lis3/com").size() == 5; }));
}

TEST_F(PublishBroker, AConnectionThatCannotBeMadeIsToldWithItsReasonAndReadingsQueue)
{
    REQUIRE_BROKER();
    ASSERT_TRUE(makeAuthority(dir.path(), QStringLiteral("ca"), true));
    ASSERT_TRUE(makeAuthority(dir.path(), QStringLiteral("ina"), false));
    const QString passwords = dir.filePath(QStringLiteral("hesla"));
    QProcess passwd;
    passwd.start(QStringLiteral("mosquitto_passwd"),
                 {QStringLiteral("-b"), QStringLiteral("-c"), passwords, QStringLiteral("jan"),
                  QStringLiteral("spravne")});
    ASSERT_TRUE(passwd.waitForFinished() && passwd.exitCode() == 0);
    const QString wrong = dir.filePath(QStringLiteral("zle-heslo"));
    QFile f(wrong);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("nespravne\n");
    f.close();

    struct Case {
        const char* name;
        Broker::Options broker;
        std::function<void(PublishSettings&)> set;
        std::vector<const char*> said; // every one of these in the one message
    };
    Broker::Options withPasswords;
    withPasswords.passwordFile = passwords;
    Broker::Options withTls;
    withTls.caFile = dir.filePath(QStringLiteral("ca.crt"));
    withTls.certFile = dir.filePath(QStringLiteral("server.crt"));
    withTls.keyFile = dir.filePath(QStringLiteral("server.key"));
    const Case cases[] = {
        {"wrong password",
         withPasswords,
         [&](PublishSettings& s) {
             s.user = QStringLiteral("jan");
             s.passwordFile = wrong;
         },
         {"odmietol pripojenie", "Not authorized"}},
        {"unknown host",
         {},
         [](PublishSettings& s) { s.host = QStringLiteral("stanica.neexistuje.invalid"); },
         {"stanica.neexistuje.invalid sa nenašiel"}},
        {"certificate from another authority",
         withTls,
         [&](PublishSettings& s) {
             s.host = QStringLiteral("localhost");
             s.tls = true;
             s.caFile = dir.filePath(QStringLiteral("ina.crt"));
         },
         // Most handshakes leave OpenSSL's own words; now and then, on a busy machine, the
         // library gives only its generic TLS failure. Either names the cause as TLS.
         {"nedá pripojiť", "TLS|certificate verify failed"}},
    };
    for (const Case& c : cases) {
        QTemporaryDir folder;
        Broker broker(folder.path(), c.broker);
        ASSERT_TRUE(broker.start()) << c.name << broker.log().toStdString();
        told.clear();
        Feed feed(QStringLiteral("com"), QStringLiteral("Meranie COM"));
        Publisher publisher(folder.filePath(QStringLiteral("rad")));
        watch(publisher);
        publisher.addFeed(&feed);
        PublishSettings s = settingsFor(broker);
        c.set(s);
        publisher.start(s);
        ASSERT_TRUE(waitUntil([&] { return !told.empty(); })) << c.name;
        for (const char* part : c.said)
            EXPECT_TRUE(told.front().contains(QRegularExpression(QString::fromUtf8(part))))
                << c.name << ": " << told.front().toStdString();
        EXPECT_TRUE(told.front().contains(u"meranie pokračuje")) << c.name;
        publishReadings(feed, 0, 3);
        EXPECT_TRUE(waitUntil([&] { return publisher.status().queued == 6; })) << c.name;
        EXPECT_NE(publisher.status().state, PublishStatus::State::Connected) << c.name;
    }
}

TEST_F(PublishBroker, AStationKilledLeavesItsLastWill)
{
    REQUIRE_BROKER();
    Broker broker(dir.path(), {});
    ASSERT_TRUE(broker.start()) << broker.log().toStdString();
    Subscriber subscriber(broker.port());
    ASSERT_TRUE(subscriber.waitSubscribed());
    QProcess child;
    child.start(QStringLiteral(DIAGNOSTIKA_PUBLISH_CHILD),
                {QStringLiteral("mqtt://127.0.0.1:%1/hala2").arg(broker.port()), outbox});
    ASSERT_TRUE(waitUntil([&] { return child.readAllStandardOutput().contains("connected"); }));
    const auto status = [&] {
        const auto got = subscriber.on("diagnostika/hala2/status");
        return got.empty() ? QByteArray() : got.back().payload;
    };
    ASSERT_TRUE(waitUntil([&] { return status() == "online"; }));
    child.kill(); // SIGKILL: the program says nothing more
    child.waitForFinished();
    EXPECT_TRUE(waitUntil([&] { return status() == "offline"; }));
    // Kept for whoever looks later.
    Subscriber later(broker.port());
    ASSERT_TRUE(later.waitSubscribed());
    EXPECT_TRUE(waitUntil([&] { return !later.on("diagnostika/hala2/status").empty(); }));
    const auto kept = later.on("diagnostika/hala2/status");
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(kept.back().payload, "offline");
    EXPECT_TRUE(kept.back().retained);
}

} // namespace
} // namespace diagnostika::test
