// A recording opened again: a simulated run (the shaft speeding up and slowing down, the machine
// vibrating, a setting changed midway, vibration samples lost) recorded through the recorder, then
// played back into the serial, trend and vibration windows. What they show must be what the live
// windows showed, whichever way it is played; the files must come out unchanged; a damaged file
// plays as far as it is whole.

#include "platform/sim/simvibration.h"
#include "record/recorder.h"
#include "replay/recording.h"
#include "replay/replayform.h"
#include "support/fakeclock.h"
#include "support/shaftwindows.h"
#include "vibration/vibrationform.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

namespace diagnostika {
namespace {

using replay::Pace;
using replay::ReplayForm;

struct Shown {
    std::vector<TrendSeries::Point> perPulse, windowed;
    std::vector<double> vibration; // arms, apeak, crest, vrms of every overall reading, in turn
    std::uint64_t lost = 0;        // samples the vibration window lost
};

std::vector<TrendSeries::Point> everyPoint(const TrendSeries& series)
{
    // Narrow enough columns that each holds one point: every point as it came.
    return series.sample(-1, 20, 500'000);
}

void collectVibration(Feed* feed, Shown& shown)
{
    QObject::connect(feed, &Feed::reading, [&shown](const FeedReading& r) {
        for (const FeedValue& v : r.values) {
            if (v.value)
                shown.vibration.push_back(*v.value);
        }
    });
}

// One simulated run, recorded: what the live windows showed, and the folder.
struct LiveRun {
    QTemporaryDir folder;
    Shown shown;
};

const LiveRun& liveRun()
{
    static LiveRun* run = [] {
        auto* r = new LiveRun;
        test::FakeClock clock(50'000);
        SensorBox::Machine machine = SensorBox::machineFor(1);
        machine.meanSpeed = 1200; // speeds up and slows down by half within the run
        machine.swing = 600;
        machine.periodMs = 12'000;
        test::ShaftWindows w(clock, machine, "4");
        SimulatedVibrationInputProvider inputs(clock);
        VibrationForm vib(inputs, *w.form2.speedInput());
        vib.show(&w.area);
        vib.client()->findChild<QTimer*>(QStringLiteral("Timer1"))->stop();
        record::Recorder recorder(clock, QStringLiteral("test"));
        recorder.addFeed(w.form2.feed());
        recorder.addFeed(vib.feed());
        EXPECT_TRUE(recorder.start(r->folder.path(), nullptr));
        collectVibration(vib.feed(), r->shown);
        QTimer* timer1 = test::ShaftWindows::timer(w.form2, "Timer1");
        for (int ms = 1; ms <= 14'000; ++ms) {
            clock.advance(1);
            w.lines().poll();
            // A setting changed while recording: played back at the same moment.
            if (ms == 7'000)
                test::ShaftWindows::pick(w.form2, "snimace", "8");
            if (ms % timer1->interval() == 0)
                w.form2.Timer1_Timer();
            if (ms % TrendForm::redrawMs == 0)
                w.trend.refresh();
            // The window busy for 3 s: the input keeps 2 s, the rest is lost.
            if (ms % VibrationForm::refreshMs == 0 && (ms < 9'000 || ms > 12'000))
                vib.refresh();
        }
        EXPECT_GT(vib.lostSamples(), 0u);
        r->shown.lost = vib.lostSamples();
        r->shown.perPulse = everyPoint(w.trend.perPulsePoints());
        r->shown.windowed = everyPoint(w.trend.windowedPoints());
        recorder.stop();
        vib.close();
        return r;
    }();
    return *run;
}

// The same moments, whatever the origin each window counted from.
void expectSamePoints(const std::vector<TrendSeries::Point>& live,
                      const std::vector<TrendSeries::Point>& played, const char* what)
{
    ASSERT_EQ(played.size(), live.size()) << what;
    ASSERT_FALSE(live.empty()) << what;
    const double shift = played.front().key - live.front().key;
    for (std::size_t i = 0; i < live.size(); ++i) {
        ASSERT_NEAR(played[i].key - shift, live[i].key, 1e-6) << what << " point " << i;
        ASSERT_DOUBLE_EQ(played[i].value, live[i].value) << what << " point " << i;
    }
}

// The speed over 1 s is computed up to the moment the capture last looked at the lines, which the
// recording does not hold (the replay has looked up to its position): where the live capture had
// looked a little earlier, a point is measured a few milliseconds apart. Nearly all are the same.
void expectNearlySamePoints(const std::vector<TrendSeries::Point>& live,
                            const std::vector<TrendSeries::Point>& played)
{
    ASSERT_EQ(played.size(), live.size());
    ASSERT_FALSE(live.empty());
    const double shift = played.front().key - live.front().key;
    std::size_t differ = 0;
    for (std::size_t i = 0; i < live.size(); ++i) {
        EXPECT_NEAR(played[i].key - shift, live[i].key, 0.02) << "point " << i;
        EXPECT_NEAR(played[i].value, live[i].value, 1e-3 * live[i].value) << "point " << i;
        differ += played[i].value != live[i].value;
    }
    EXPECT_LE(differ, live.size() / 50);
}

struct Played {
    Shown shown;
    QString damage;
    std::size_t edges = 0;
};

// Opens `path` and plays it to the end by `play`.
Played playBack(const QString& path, const std::function<void(ReplayForm&)>& play)
{
    Played out;
    QString error;
    std::optional<replay::Recording> recording = replay::readRecording(path, &error);
    EXPECT_TRUE(recording) << error.toStdString();
    if (!recording)
        return out;
    out.edges = recording->edges.size();
    QMdiArea area;
    area.resize(1200, 900);
    ReplayForm form(std::move(*recording), &area);
    form.show(&area);
    // Played again from the start, the windows are new: what they show is taken from the last.
    const auto collect = [&] {
        out.shown.vibration.clear();
        if (form.vibration())
            collectVibration(form.vibration()->feed(), out.shown);
    };
    collect();
    QObject::connect(&form, &ReplayForm::windowsBuilt, collect);
    play(form);
    EXPECT_TRUE(form.atEnd());
    if (form.vibration())
        out.shown.lost = form.vibration()->lostSamples();
    if (form.trend()) {
        out.shown.perPulse = everyPoint(form.trend()->perPulsePoints());
        out.shown.windowed = everyPoint(form.trend()->windowedPoints());
    }
    out.damage = form.damageText();
    return out;
}

void toEnd(ReplayForm& form)
{
    form.seek(form.recording().endS);
}

TEST(Replay, ShowsWhatTheLiveWindowsShowedWhicheverWayItIsPlayed)
{
    const LiveRun& live = liveRun();
    ASSERT_GT(live.shown.perPulse.size(), 500u);
    ASSERT_GT(live.shown.vibration.size(), 40u);
    const struct {
        const char* name;
        std::function<void(ReplayForm&)> play;
    } ways[] = {
        {"all at once", toEnd},
        {"as fast as possible, turn by turn",
         [](ReplayForm& f) {
             f.setPace(Pace::Fastest);
             f.play();
             for (int turn = 0; turn < 100'000 && !f.atEnd(); ++turn)
                 f.pump();
         }},
        {"ten times real speed, the wall clock moved by hand",
         [](ReplayForm& f) {
             auto ns = std::make_shared<std::int64_t>(0);
             f.setWallClock([ns] { return *ns; });
             f.setPace(Pace::TenTimes);
             f.play();
             while (!f.atEnd()) {
                 *ns += ReplayForm::pumpMs * 1'000'000;
                 f.pump();
             }
         }},
        {"forward, back to an earlier moment, then on",
         [](ReplayForm& f) {
             f.seek(9.0);
             f.seek(3.5);
             EXPECT_NEAR(f.positionS(), 3.5, 1e-6);
             toEnd(f);
         }},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.name);
        const Played played = playBack(live.folder.path(), way.play);
        expectSamePoints(live.shown.perPulse, played.shown.perPulse, "per pulse");
        expectNearlySamePoints(live.shown.windowed, played.shown.windowed);
        EXPECT_EQ(played.shown.vibration, live.shown.vibration);
        EXPECT_EQ(played.shown.lost, live.shown.lost);
        EXPECT_TRUE(played.damage.isEmpty()) << played.damage.toStdString();
    }
}

TEST(Replay, PlaysAtTheWallClockTimesItsPaceAndStandsStillWhenPaused)
{
    QString error;
    std::optional<replay::Recording> recording =
        replay::readRecording(liveRun().folder.path(), &error);
    ASSERT_TRUE(recording);
    QMdiArea area;
    ReplayForm form(std::move(*recording), &area);
    form.show(&area);
    auto ns = std::make_shared<std::int64_t>(0);
    form.setWallClock([ns] { return *ns; });
    const struct {
        Pace pace;
        double factor;
    } paces[] = {{Pace::RealTime, 1.0}, {Pace::TenTimes, 10.0}};
    for (const auto& p : paces) {
        form.setPace(p.pace);
        form.play();
        double from = form.positionS();
        *ns += 300'000'000;
        form.pump();
        EXPECT_NEAR(form.positionS() - from, 0.3 * p.factor, 1e-6);
        form.pause();
        from = form.positionS();
        *ns += 300'000'000;
        form.pump();
        EXPECT_EQ(form.positionS(), from);
    }
    // Played to the end, it stops there.
    form.setPace(Pace::AllAtOnce);
    form.play();
    EXPECT_TRUE(form.atEnd());
    EXPECT_FALSE(form.playing());
}

std::map<QString, QByteArray> fingerprints(const QString& folder)
{
    std::map<QString, QByteArray> out;
    for (const QFileInfo& f : QDir(folder).entryInfoList(QDir::Files)) {
        QFile file(f.filePath());
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        out[f.fileName()] = QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256) +
                            f.lastModified().toString(Qt::ISODateWithMs).toUtf8();
    }
    return out;
}

TEST(Replay, LeavesEveryFileAsItWas)
{
    const LiveRun& live = liveRun();
    const auto before = fingerprints(live.folder.path());
    ASSERT_GE(before.size(), 5u); // edges, readings, samples, spectra, metadata
    const QString json =
        QDir(live.folder.path()).entryInfoList({QStringLiteral("*_com.json")}).value(0).filePath();
    playBack(json, [](ReplayForm& f) {
        f.seek(2.0);
        f.seek(1.0);
        toEnd(f);
    });
    EXPECT_EQ(fingerprints(live.folder.path()), before);
}

// A copy of the recording with one of its files changed by `damage`.
void copyDamaged(const QString& from, const QString& to, const char* suffix,
                 const std::function<void(QByteArray&)>& damage)
{
    for (const QFileInfo& f : QDir(from).entryInfoList(QDir::Files)) {
        QFile in(f.filePath());
        ASSERT_TRUE(in.open(QIODevice::ReadOnly));
        QByteArray bytes = in.readAll();
        if (f.fileName().endsWith(QLatin1StringView(suffix))) {
            damage(bytes);
            if (bytes.isNull())
                continue; // the file goes missing
        }
        QFile out(QDir(to).filePath(f.fileName()));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(bytes);
    }
}

// The start of row `row` (from 1).
qsizetype rowStart(const QByteArray& bytes, int row)
{
    qsizetype at = 0;
    for (int r = 1; r < row; ++r)
        at = bytes.indexOf('\n', at) + 1;
    return at;
}

TEST(Replay, ADamagedFilePlaysAsFarAsItIsWholeAndSaysWhereItStopped)
{
    const LiveRun& live = liveRun();
    QString error;
    const std::optional<replay::Recording> whole =
        replay::readRecording(live.folder.path(), &error);
    ASSERT_TRUE(whole);
    const std::size_t edges = whole->edges.size();
    const struct {
        const char* name;
        const char* suffix;
        std::function<void(QByteArray&)> damage;
        std::size_t edges; // played
        const char* told;  // in the window's text
        bool vibration;    // still played
    } cases[] = {
        {"edge file cut in a row", "_hrany.csv",
         [](QByteArray& b) { b.truncate(rowStart(b, 502) + 7); }, 500, "riadku 502", true},
        {"a row that does not parse", "_hrany.csv",
         [](QByteArray& b) { b.insert(rowStart(b, 301), "12x4,?,CTS,1,1\n"); }, 299, "riadku 301",
         true},
        {"edge file missing", "_hrany.csv", [](QByteArray& b) { b = QByteArray(); }, 0,
         "_hrany.csv", true},
        {"vibration metadata that does not parse", "_vib.json",
         [](QByteArray& b) { b.truncate(b.size() / 2); }, edges, "_vib.json", false},
        {"samples cut short", "_vib.wav", [](QByteArray& b) { b.truncate(b.size() / 2); }, edges,
         "_vib.wav", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir folder;
        copyDamaged(live.folder.path(), folder.path(), c.suffix, c.damage);
        const Played played = playBack(folder.path(), toEnd);
        EXPECT_EQ(played.edges, c.edges);
        EXPECT_TRUE(played.damage.contains(QString::fromUtf8(c.told)))
            << played.damage.toStdString();
        EXPECT_EQ(!played.shown.vibration.empty(), c.vibration);
        // What was whole shows as it did live.
        if (c.edges == edges) {
            EXPECT_EQ(played.shown.perPulse.size(), live.shown.perPulse.size());
        }
    }
}

QString fileOf(const QString& folder, const char* pattern)
{
    return QDir(folder).entryInfoList({QString::fromLatin1(pattern)}).value(0).filePath();
}

TEST(Replay, OpensTheRecordingOfTheFilePickedWithWhatItHolds)
{
    const LiveRun& live = liveRun();
    QString error;
    const std::size_t allEdges = replay::readRecording(live.folder.path(), &error)->edges.size();
    const struct {
        const char* name;
        const char* dropped;                      // a file the copy leaves out ("" none)
        std::function<void(const QString&)> edit; // the copy's folder, changed further
        const char* picked;                       // "" the folder, else the file matching
        std::size_t edges;
        bool trend, vibration;
        bool told; // the replay window says something stopped short
    } cases[] = {
        {"the folder", "", {}, "", allEdges, true, true, false},
        {"vibration only: picked its file", "_com.json", {}, "*_vib.json", 0, false, true, false},
        {"serial only", "_vib.json", {}, "*_com.json", allEdges, true, false, false},
        {"a newer recording beside it opens from the folder", "",
         [](const QString& folder) {
             QFile json(fileOf(folder, "*_com.json"));
             ASSERT_TRUE(json.open(QIODevice::ReadOnly));
             QByteArray text = json.readAll();
             text.replace("\"recordingStarted\": \"", "\"recordingStarted\": \"2099");
             text.replace("_com_hrany.csv", "_com_hrany-dalsi.csv");
             QFile newer(QDir(folder).filePath(QStringLiteral("zz_com.json")));
             ASSERT_TRUE(newer.open(QIODevice::WriteOnly));
             newer.write(text);
             QFile edges(fileOf(folder, "*_com_hrany.csv"));
             ASSERT_TRUE(edges.open(QIODevice::ReadOnly));
             const QByteArray rows = edges.readAll();
             QFile few(fileOf(folder, "*_com_hrany.csv")
                           .replace(QStringLiteral(".csv"), QStringLiteral("-dalsi.csv")));
             ASSERT_TRUE(few.open(QIODevice::WriteOnly));
             few.write(rows.left(rowStart(rows, 11)));
         },
         "", 9, true, false, false},
        {"the older one opens when its file is picked", "",
         [](const QString& folder) {
             QFile json(fileOf(folder, "*_com.json"));
             ASSERT_TRUE(json.open(QIODevice::ReadOnly));
             QByteArray text = json.readAll();
             text.replace("\"recordingStarted\": \"", "\"recordingStarted\": \"2099");
             QFile newer(QDir(folder).filePath(QStringLiteral("zz_com.json")));
             ASSERT_TRUE(newer.open(QIODevice::WriteOnly));
             newer.write(text);
         },
         "2*_com.json", allEdges, true, true, false},
        {"samples beyond what the header says (a program that did not close the file)", "",
         [](const QString& folder) {
             QFile wav(fileOf(folder, "*_vib.wav"));
             ASSERT_TRUE(wav.open(QIODevice::Append));
             wav.write(QByteArray(4 * 4800, '\0'));
         },
         "", allEdges, true, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir folder;
        copyDamaged(live.folder.path(), folder.path(), c.dropped,
                    [&c](QByteArray& b) { b = *c.dropped ? QByteArray() : b; });
        if (c.edit)
            c.edit(folder.path());
        const QString path = *c.picked ? fileOf(folder.path(), c.picked) : folder.path();
        std::optional<replay::Recording> recording = replay::readRecording(path, &error);
        ASSERT_TRUE(recording) << error.toStdString();
        EXPECT_EQ(recording->edges.size(), c.edges);
        EXPECT_EQ(recording->stops.empty(), !c.told);
        QMdiArea area;
        ReplayForm form(std::move(*recording), &area);
        form.show(&area);
        EXPECT_EQ(form.trend() != nullptr, c.trend);
        EXPECT_EQ(form.vibration() != nullptr, c.vibration);
        Shown shown;
        if (form.vibration())
            collectVibration(form.vibration()->feed(), shown);
        toEnd(form);
        if (c.vibration) {
            // What was recorded shows as it did live; samples past it add at most what they hold.
            ASSERT_GE(shown.vibration.size(), live.shown.vibration.size());
            EXPECT_TRUE(std::equal(live.shown.vibration.begin(), live.shown.vibration.end(),
                                   shown.vibration.begin()));
        }
    }
}

// `diagnostika --replay DIR --report FILE` without a display: the recording played all at once
// and the report made of its windows, the header naming the recording's folder, the vibration's
// last overall value the one the live window showed.
TEST(Replay, TheCommandLineWritesTheReportOfARecordingWithoutADisplay)
{
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        GTEST_SKIP() << "cannot read the PDF: pdftotext not installed (Debian's poppler-utils)";
    const LiveRun& live = liveRun();
    ASSERT_FALSE(live.shown.vibration.empty());
    QTemporaryDir out;
    const QString pdf = out.filePath(QStringLiteral("zaznam.pdf"));
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // A decimal point, whatever the machine's language; settings kept apart from the user's.
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), out.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), out.filePath(QStringLiteral("data")));
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(DIAGNOSTIKA_EXECUTABLE),
                  {QStringLiteral("--replay"), live.folder.path(), QStringLiteral("--report"), pdf,
                   QStringLiteral("--after"), QStringLiteral("2000"),
                   QStringLiteral("--headless")});
    ASSERT_TRUE(program.waitForFinished(120'000));
    ASSERT_EQ(program.exitCode(), 0) << program.readAllStandardError().toStdString();

    QProcess text;
    text.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    ASSERT_TRUE(text.waitForFinished(60'000));
    const QString report = QString::fromUtf8(text.readAllStandardOutput());
    for (const QString& expected :
         {QStringLiteral("Protokol z merania zo záznamu"), QStringLiteral("Zo záznamu"),
          QDir::toNativeSeparators(live.folder.path()),
          QStringLiteral("Trvanie prehraného záznamu"), QStringLiteral("Meranie cez sériový port"),
          QStringLiteral("Priebeh otáčok"), QStringLiteral("Vibrácie"),
          QStringLiteral("simulované")})
        EXPECT_TRUE(report.contains(expected)) << expected.toStdString();
    const QStringList cells = report.mid(report.indexOf(QStringLiteral("Rýchlosť RMS [mm/s]")))
                                  .section(u'\n', 0, 0)
                                  .split(QLatin1Char(' '), Qt::SkipEmptyParts);
    ASSERT_FALSE(cells.isEmpty()) << report.toStdString();
    // Each overall reading ends with the velocity and then the count of samples lost.
    const double velocity = live.shown.vibration[live.shown.vibration.size() - 2];
    EXPECT_EQ(cells.last(), QString::number(velocity, 'f', 2)) << report.toStdString();
}

} // namespace
} // namespace diagnostika
