// Publishing at the serial window's hardest load: the whole program's main window on simulated
// sensors, every measurement window open (serial at 50,000 edges/s over CTS, DSR and CD, the speed
// trend following it, parallel port, joystick, vibration), their timers running in real time.
// Run once without publishing and once publishing every reading to a Mosquitto broker started here
// on a loopback port, with a subscriber in this process.
//
// Reports: readings and messages a second; the publishing thread's CPU; the whole process's CPU
// without and with publishing (the subscriber's own thread taken out); the delay from a window
// publishing a reading to the subscriber receiving it (median, 99th percentile, worst); and whether
// every sequence number arrived.
//
//   publish_live [seconds per run, default 20] [influx]

#include "benchsupport.h"
#include "com/form2.h"
#include "game/form3.h"
#include "lpt/form1.h"
#include "platform/backends.h"
#include "platform/sim/simseriallines.h"
#include "publish/publisher.h"
#include "shell/mdiform1.h"
#include "trend/trendform.h"
#include "vibration/vibrationform.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <mosquitto.h>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace diagnostika;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double edgesPerSecond = 50'000;

int freePort()
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ::bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
    ::close(s);
    return ntohs(a.sin_port);
}

double threadCpuNow()
{
    return bench::threadCpuSeconds();
}

// The JSON reading topics' sequence numbers with their arrival times, on libmosquitto's thread.
struct Subscriber {
    std::mutex mutex;
    std::map<std::int64_t, Clock::time_point> arrived;
    std::atomic<double> threadCpu{0};
    std::atomic<bool> subscribed{false};
    std::int64_t messages = 0;
};

struct Run {
    double seconds = 0;
    double cpuPercent = 0;
    double publishThreadPercent = 0;
    double subscriberPercent = 0;
    std::vector<Clock::time_point> readings; // when each was published, in order
    std::map<QString, int> perWindow;
};

// Runs every window for `seconds`; `before` once they are set up, before the serial port opens;
// `after` once the time is up.
Run runWindows(int seconds, const std::function<void(MDIForm1&)>& before,
               const std::function<void(MDIForm1&)>& after)
{
    BackendOptions options;
    options.simulate = true;
    Backends backends = makeBackends(options);
    MDIForm1 main(backends);
    main.show();
    Run r;
    main.mnuSerialItem_Click();
    main.mnuTrendItem_Click();
    main.mnuLPTItem_Click();
    main.mnuZvlastItem_Click();
    main.mnuVibrationItem_Click();
    Form2& form2 = main.form2();
    // Each line's pulses per revolution give it a third of the rate (two edges per pulse).
    const double pulsesPerRevolution = edgesPerSecond / 3.0 / 2.0 / (1000.0 / 60.0);
    SensorBox::Machine machine{1000.0, 0.0, 60'000.0, {}};
    for (int line = 0; line < lineCount; ++line)
        machine.sensors[line] = {pulsesPerRevolution, 0.5, 0.1 * line};
    for (const auto& [list, item] : {std::pair{"vstup", "CTS"},
                                     {"snimace", "4"},
                                     {"interval", "1s"},
                                     {"vstupposuvu", "DSR"},
                                     {"vstupuhla", "CD"},
                                     {"vstupintervalu", "CTS"},
                                     {"vstupfrekv", "CTS"}})
        bench::pick(form2.client(), list, item);
    bench::pick(main.form1().client(), "port", "LPT1");
    for (Feed* feed : {form2.feed(), main.trendForm().feed(), main.form1().feed(),
                       main.form3().feed(), main.vibrationForm().feed()}) {
        QObject::connect(feed, &Feed::reading, &main, [&r, feed](const FeedReading&) {
            r.readings.push_back(Clock::now());
            ++r.perWindow[feed->source()];
        });
    }
    // Readings counted from here on: the k-th one published takes the sequence number k.
    r.readings.clear();
    r.perWindow.clear();
    before(main);
    bench::pick(form2.client(), "port", "COM1");
    qobject_cast<SimulatedSerialLines*>(form2.MSComm1())->setMachine(machine);
    const double cpu = bench::cpuSeconds();
    const auto start = Clock::now();
    QTimer::singleShot(seconds * 1000, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
    r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    r.cpuPercent = 100.0 * (bench::cpuSeconds() - cpu) / r.seconds;
    after(main);
    main.close();
    return r;
}

} // namespace

int main(int argc, char** argv)
{
    bench::preferOffscreen();
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true); // the outbox and settings away from the user's own
    const int seconds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 20;
    // With "influx": the InfluxDB line protocol too, one message more per reading.
    const bool influx = argc > 2 && std::strcmp(argv[2], "influx") == 0;
    const QString broker = QStandardPaths::findExecutable(
        QStringLiteral("mosquitto"), {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")});
    if (broker.isEmpty()) {
        std::printf("publishing: skipped, Mosquitto is not installed (Debian package mosquitto)\n");
        return 0;
    }
    QTemporaryDir dir;
    const int port = freePort();
    QFile config(dir.filePath(QStringLiteral("mosquitto.conf")));
    config.open(QIODevice::WriteOnly);
    config.write("listener " + QByteArray::number(port) +
                 " 127.0.0.1\nallow_anonymous true\nlog_dest none\n");
    config.close();
    QProcess mosquittoProcess;
    mosquittoProcess.start(broker, {QStringLiteral("-c"), config.fileName()});
    mosquittoProcess.waitForStarted();

    mosquitto_lib_init();
    Subscriber sub;
    mosquitto* m = mosquitto_new(nullptr, true, &sub);
    mosquitto_connect_callback_set(m, [](mosquitto* mq, void* self, int rc) {
        if (rc == 0)
            mosquitto_subscribe(mq, nullptr, "diagnostika/#", 1);
        static_cast<Subscriber*>(self)->subscribed = rc == 0;
    });
    mosquitto_message_callback_set(m, [](mosquitto*, void* self, const mosquitto_message* msg) {
        const auto now = Clock::now();
        auto* s = static_cast<Subscriber*>(self);
        s->threadCpu = threadCpuNow();
        const std::lock_guard lock(s->mutex);
        ++s->messages;
        // The window's JSON: diagnostika/<station>/<window>
        if (std::count(msg->topic, msg->topic + std::strlen(msg->topic), '/') != 2)
            return;
        const QJsonObject o =
            QJsonDocument::fromJson(
                QByteArray(static_cast<const char*>(msg->payload), msg->payloadlen))
                .object();
        if (o.contains(QStringLiteral("seq")))
            s->arrived.emplace(o[QStringLiteral("seq")].toInteger(), now);
    });
    for (int i = 0; i < 200 && mosquitto_connect(m, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS; ++i)
        QThread::msleep(25); // the broker starting; nothing here is measured yet
    mosquitto_loop_start(m);

    std::printf("publishing: every window open on simulated sensors, serial at %.0f edges/s, %d s "
                "per run, broker on 127.0.0.1:%d\n",
                edgesPerSecond, seconds, port);
    const Run plain = runWindows(
        seconds, [](MDIForm1&) {}, [](MDIForm1&) {});

    double publishCpu = 0;
    const double subscriberBefore = sub.threadCpu;
    std::int64_t queuedAtEnd = 0;
    QDir(publish::Publisher::defaultOutboxFolder()).removeRecursively();
    Run published = runWindows(
        seconds,
        [&](MDIForm1& main) {
            publish::PublishSettings s;
            s.host = QStringLiteral("127.0.0.1");
            s.port = port;
            s.station = QStringLiteral("bench");
            s.influx = influx;
            main.publisher().start(s);
            while (main.publisher().status().state != publish::PublishStatus::State::Connected)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
            publishCpu = main.publisher().threadCpuSeconds();
        },
        [&](MDIForm1& main) {
            publishCpu = main.publisher().threadCpuSeconds() - publishCpu;
            // The last readings' way to the subscriber.
            const auto until = Clock::now() + std::chrono::seconds(10);
            while (Clock::now() < until) {
                {
                    const std::lock_guard lock(sub.mutex);
                    if (sub.arrived.size() >= published.readings.size())
                        break;
                }
                QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            }
            queuedAtEnd = main.publisher().status().queued;
        });
    const double subscriberCpu = sub.threadCpu - subscriberBefore;
    mosquitto_disconnect(m);
    mosquitto_loop_stop(m, false);
    mosquitto_destroy(m);
    mosquittoProcess.kill();
    mosquittoProcess.waitForFinished();

    std::vector<double> delaysMs;
    std::size_t missing = 0;
    {
        const std::lock_guard lock(sub.mutex);
        for (std::size_t i = 0; i < published.readings.size(); ++i) {
            const auto found = sub.arrived.find(static_cast<std::int64_t>(i + 1));
            if (found == sub.arrived.end()) {
                ++missing;
                continue;
            }
            delaysMs.push_back(
                std::chrono::duration<double, std::milli>(found->second - published.readings[i])
                    .count());
        }
    }
    std::sort(delaysMs.begin(), delaysMs.end());
    const auto at = [&](double q) {
        return delaysMs.empty() ? 0.0
                                : delaysMs[std::min(delaysMs.size() - 1,
                                                    static_cast<std::size_t>(
                                                        q * static_cast<double>(delaysMs.size())))];
    };
    std::printf("readings a second by window:");
    for (const auto& [window, count] : published.perWindow)
        std::printf(" %s %.1f", qPrintable(window), count / published.seconds);
    std::printf("\nreadings %zu, messages received %lld (%.0f a second), sequence numbers missing "
                "%zu, left queued %lld\n",
                published.readings.size(), static_cast<long long>(sub.messages),
                static_cast<double>(sub.messages) / published.seconds, missing,
                static_cast<long long>(queuedAtEnd));
    const double threadPercent = 100.0 * publishCpu / published.seconds;
    const double subscriberPercent = 100.0 * subscriberCpu / published.seconds;
    std::printf("CPU: publishing thread %.2f %% of a core; whole process %.1f %% without, %.1f %% "
                "with publishing (%.1f %% less the subscriber's %.1f %%)\n",
                threadPercent, plain.cpuPercent, published.cpuPercent,
                published.cpuPercent - subscriberPercent, subscriberPercent);
    std::printf("delay reading -> subscriber: median %.2f ms, 99th percentile %.2f ms, worst %.2f "
                "ms\n",
                at(0.5), at(0.99), delaysMs.empty() ? 0.0 : delaysMs.back());
    bench::summary("publishing: CPU of the publishing thread, all windows, 50000 edges/s",
                   "< 1 % of a core", "%.2f %% of a core", threadPercent);
    bench::summary("publishing: whole process CPU without / with (subscriber taken out)",
                   "publishing adds < 1 % of a core", "%.1f %% / %.1f %%", plain.cpuPercent,
                   published.cpuPercent - subscriberPercent);
    bench::summary("publishing: delay reading -> subscriber, median / p99", "p99 < 50 ms",
                   "%.2f ms / %.2f ms, %zu missing", at(0.5), at(0.99), missing);
    mosquitto_lib_cleanup();
    return missing == 0 ? 0 : 1;
}
