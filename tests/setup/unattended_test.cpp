// Recording with nobody at the screen: the serial window set up from a file records its speeds, a
// new set of files begins when the hour or the day is over (the tick clock set by hand), a quit
// signal leaves every file whole, and a nearly full disk stops the recording until there is room.
#include "app/orderlyquit.h"
#include "program.h"
#include "record/csvreader.h"
#include "record/recorder.h"
#include "record/unattended.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTimer>
#include <csignal>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace diagnostika;
using record::UnattendedRecording;

namespace {

struct Unattended : test::Program {
    explicit Unattended(UnattendedRecording::Split split)
        : recording(main->recorder(), *clock, split)
    {
        recording.setFreeBytes([this](const QString&) { return freeBytes; });
        const QString setup = folder.filePath(QStringLiteral("setup.json"));
        test::writeFile(setup, R"({"format": "diagnostika-setup", "version": 1, "windows": {"com":
            {"speedInput": "CTS", "pulsesPerRevolution": 4, "interval": "1s", "port": "COM1"}}})");
        QString error;
        EXPECT_TRUE(recording.start(folder.filePath(QStringLiteral("zaznam")), &error));
        EXPECT_TRUE(main->openSetup(setup));
    }

    // `pulses` pulses on CTS within a second, then the serial window's speed evaluation.
    void secondOfPulses(int pulses)
    {
        const std::int64_t ms = clock->milliseconds();
        for (int i = 0; i < pulses; ++i)
            ASSERT_TRUE(serial->lines()->pulse(comEvCTS, ms + 10 * i, ms + 10 * i + 5));
        clock->advance(1000);
        main->form2().Timer1_Timer();
    }

    QTemporaryDir folder;
    UnattendedRecording recording;
    std::int64_t freeBytes = std::int64_t{100} << 30;
};

struct SetOfFiles {
    std::int64_t edgeRows = 0;
    QStringList speeds;   // the Timer1 rows' shown speeds
    QJsonObject settings; // the last settings in the metadata
};

// Reads one set; every file must be whole: CSV that parses with rows as long as the header, and
// beside the readings their metadata.
SetOfFiles readSet(const QStringList& files)
{
    SetOfFiles set;
    for (const QString& file : files) {
        SCOPED_TRACE(file.toStdString());
        const auto rows = test::readCsvFile(file);
        EXPECT_TRUE(rows && !rows->empty()) << "not whole";
        for (const QStringList& row : rows.value_or(std::vector<QStringList>{}))
            EXPECT_EQ(row.size(), rows->front().size());
        if (!rows || file.endsWith(QStringLiteral("_hrany.csv"))) {
            set.edgeRows += rows ? static_cast<std::int64_t>(rows->size()) - 1 : 0;
            continue;
        }
        for (const QStringList& row : *rows)
            if (row[2] == u"Timer1")
                set.speeds << row[3];
        QFile meta(file.chopped(4) + QStringLiteral(".json"));
        EXPECT_TRUE(meta.open(QIODevice::ReadOnly));
        set.settings = QJsonDocument::fromJson(meta.readAll())
                           .object()[u"settings"]
                           .toArray()
                           .last()[u"values"]
                           .toObject();
    }
    return set;
}

TEST(Unattended, RecordsSpeedsFromASetupInANewSetOfFilesEachPeriodAndAQuitSignalLeavesThemWhole)
{
    const struct {
        UnattendedRecording::Split split;
        std::int64_t periodMs;
    } cases[] = {{UnattendedRecording::Split::Hour, 3'600'000},
                 {UnattendedRecording::Split::Day, 86'400'000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.periodMs);
        Unattended run(c.split);
        run.secondOfPulses(8); // 8 pulses at 4 per revolution in 1 s: 120 min^-1
        run.recording.check();
        EXPECT_EQ(run.recording.sets(), 1) << "a set ends only with its period";
        const QStringList first = run.main->recorder().files();
        // The clock's boundary lies within one period from now, wherever the wall clock stands.
        run.clock->advance(c.periodMs);
        run.recording.check();
        EXPECT_EQ(run.recording.sets(), 2);
        const QStringList second = run.main->recorder().files();
        run.secondOfPulses(12); // 180 min^-1

        QuitSignals quitSignals;
        QTimer::singleShot(0, [] { ::kill(::getpid(), SIGTERM); });
        EXPECT_EQ(execUntilQuit(*run.main, quitSignals), 128 + SIGTERM);
        EXPECT_FALSE(run.main->recorder().isRecording());

        const SetOfFiles a = readSet(first);
        const SetOfFiles b = readSet(second);
        EXPECT_EQ(a.edgeRows, 16);
        EXPECT_EQ(b.edgeRows, 24);
        EXPECT_TRUE(a.speeds.contains(QStringLiteral("120"))) << a.speeds.join(u' ').toStdString();
        EXPECT_TRUE(b.speeds.contains(QStringLiteral("180"))) << b.speeds.join(u' ').toStdString();
        for (const auto& [name, value] :
             {std::pair{u"port", "COM1"}, {u"snimace", "4"}, {u"vstup", "CTS"}})
            EXPECT_EQ(b.settings[name].toString(), QLatin1String(value)) << value;
        QFile log(run.recording.logPath());
        ASSERT_TRUE(log.open(QIODevice::ReadOnly));
        EXPECT_TRUE(log.readAll().contains("Nová sada"));
    }
}

TEST(Unattended, ANearlyFullDiskStopsTheRecordingWithItsFilesWholeUntilThereIsRoomAgain)
{
    Unattended run(UnattendedRecording::Split::None);
    run.recording.setReserveBytes(1000);
    run.secondOfPulses(8);
    const QStringList first = run.main->recorder().files();
    // Below the reserve it stops; with some room, but not twice the reserve, it waits on.
    for (const auto& [free, recording] : {std::pair{999, false}, {1500, false}, {5000, true}}) {
        run.freeBytes = free;
        run.recording.check();
        EXPECT_EQ(run.main->recorder().isRecording(), recording) << free;
        run.secondOfPulses(4);
    }
    EXPECT_EQ(run.recording.sets(), 2);
    const QStringList second = run.main->recorder().files();
    run.main->close();
    EXPECT_EQ(readSet(first).edgeRows, 16);
    EXPECT_EQ(readSet(second).edgeRows, 8);
}

} // namespace
