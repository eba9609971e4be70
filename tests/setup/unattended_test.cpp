// Recording with nobody at the screen: the serial window set up from a file records its speeds, a
// new set of files begins when the hour or the day is over (the tick clock set by hand), a quit
// signal leaves every file whole, and a nearly full disk stops the recording until there is room.
#include "app/orderlyquit.h"
#include "com/form2.h"
#include "common/messages.h"
#include "platform/backends.h"
#include "record/csvreader.h"
#include "record/recorder.h"
#include "record/unattended.h"
#include "shell/mdiform1.h"
#include "support/fakeclock.h"
#include "support/fakejoystick.h"
#include "support/fakeportio.h"
#include "support/fakeserial.h"

#include <QDir>
#include <QFile>
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

const char* const simulatorSetup = R"({"format": "diagnostika-setup", "version": 1, "windows": {
    "com": {"speedInput": "CTS", "pulsesPerRevolution": 4, "interval": "1s", "port": "COM1"}}})";

struct Unattended {
    explicit Unattended(UnattendedRecording::Split split)
    {
        auto fake = std::make_unique<test::FakeClock>(50'000);
        clock = fake.get();
        backends.clock = std::move(fake);
        backends.joystick = std::make_unique<test::FakeJoystick>();
        backends.portIo = std::make_unique<test::FakePortIo>();
        auto serial = std::make_unique<test::FakeSerialLinesProvider>();
        lines = serial.get();
        backends.serial = std::move(serial);
        main = std::make_unique<MDIForm1>(backends);
        main->show();
        recording = std::make_unique<UnattendedRecording>(main->recorder(), *clock, split);
        recording->setFreeBytes([this](const QString&) { return freeBytes; });
        // As in a headless run: what would be a box goes to the log.
        previous = setInformationPresenter([this](QWidget*, const QString&, const QString& text,
                                                  const QString&) { recording->tell(text); });
        QFile setup(folder.filePath(QStringLiteral("setup.json")));
        EXPECT_TRUE(setup.open(QIODevice::WriteOnly));
        setup.write(simulatorSetup);
        setup.close();
        path = folder.filePath(QStringLiteral("zaznam"));
    }
    ~Unattended()
    {
        main.reset();
        setInformationPresenter(previous);
    }

    // `pulses` pulses on CTS within a second, then the serial window's speed evaluation.
    void secondOfPulses(int pulses)
    {
        for (int i = 0; i < pulses; ++i)
            ASSERT_TRUE(lines->lines()->pulse(comEvCTS, clock->milliseconds() + 10 * i,
                                              clock->milliseconds() + 10 * i + 5));
        clock->advance(1000);
        main->form2().Timer1_Timer();
    }
    QString log() const
    {
        QFile file(recording->logPath());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    QTemporaryDir folder;
    QString path;
    Backends backends;
    test::FakeClock* clock = nullptr;
    test::FakeSerialLinesProvider* lines = nullptr;
    std::unique_ptr<MDIForm1> main;
    std::unique_ptr<UnattendedRecording> recording;
    std::int64_t freeBytes = std::int64_t{100} << 30;
    InformationPresenter previous;
};

struct SetOfFiles {
    std::int64_t edgeRows = 0;
    QStringList speeds; // the Timer1 rows' shown speeds
    QJsonObject meta;
};

// Reads one window's set; every file must be whole: CSV that parses with rows as long as the
// header, JSON that parses.
SetOfFiles readSet(QStringList files)
{
    SetOfFiles set;
    // The metadata beside each window's readings.
    for (const QString& file : QStringList(files)) {
        if (file.endsWith(QStringLiteral(".csv")) && !file.endsWith(QStringLiteral("_hrany.csv")))
            files << file.chopped(4) + QStringLiteral(".json");
    }
    for (const QString& file : files) {
        SCOPED_TRACE(file.toStdString());
        if (file.endsWith(QStringLiteral(".json"))) {
            QFile json(file);
            EXPECT_TRUE(json.open(QIODevice::ReadOnly));
            QJsonParseError error{};
            set.meta = QJsonDocument::fromJson(json.readAll(), &error).object();
            EXPECT_EQ(error.error, QJsonParseError::NoError);
            continue;
        }
        const auto rows = test::readCsvFile(file);
        EXPECT_TRUE(rows.has_value()) << "not whole";
        if (!rows || rows->empty())
            continue;
        for (const QStringList& row : *rows)
            EXPECT_EQ(row.size(), rows->front().size());
        if (file.endsWith(QStringLiteral("_hrany.csv")))
            set.edgeRows += static_cast<std::int64_t>(rows->size()) - 1;
        else
            for (std::size_t i = 1; i < rows->size(); ++i)
                if ((*rows)[i][2] == u"Timer1")
                    set.speeds << (*rows)[i][3];
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
        QString error;
        ASSERT_TRUE(run.recording->start(run.path, &error)) << error.toStdString();
        ASSERT_TRUE(run.main->openSetup(run.folder.filePath(QStringLiteral("setup.json"))));
        ASSERT_TRUE(run.main->form2().MSComm1()->isOpen());
        EXPECT_EQ(run.main->form2().MSComm1()->commPort(), 1);

        run.secondOfPulses(8); // 8 pulses at 4 per revolution in 1 s: 120 min^-1
        run.recording->check();
        EXPECT_EQ(run.recording->sets(), 1) << "a set ends only with its period";
        const QStringList first = run.main->recorder().files();
        // The clock's boundary lies within one period from now, wherever the wall clock stands.
        run.clock->advance(c.periodMs);
        run.recording->check();
        EXPECT_EQ(run.recording->sets(), 2);
        const QStringList second = run.main->recorder().files();
        ASSERT_EQ(second.size(), first.size());
        for (const QString& file : second)
            EXPECT_FALSE(first.contains(file)) << "a file of the first set reused";
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
        // The settings came from the file.
        const QJsonObject settings = b.meta[u"settings"].toArray().first()[u"values"].toObject();
        EXPECT_EQ(settings[u"port"].toString(), QStringLiteral("COM1"));
        EXPECT_EQ(settings[u"snimace"].toString(), QStringLiteral("4"));
        EXPECT_EQ(settings[u"vstup"].toString(), QStringLiteral("CTS"));
        EXPECT_TRUE(run.log().contains(QStringLiteral("Nová sada"))) << run.log().toStdString();
    }
}

TEST(Unattended, ANearlyFullDiskStopsTheRecordingWithItsFilesWholeUntilThereIsRoomAgain)
{
    Unattended run(UnattendedRecording::Split::None);
    run.recording->setReserveBytes(1000);
    QString error;
    ASSERT_TRUE(run.recording->start(run.path, &error)) << error.toStdString();
    ASSERT_TRUE(run.main->openSetup(run.folder.filePath(QStringLiteral("setup.json"))));
    run.secondOfPulses(8);
    const QStringList first = run.main->recorder().files();

    run.freeBytes = 999;
    run.recording->check();
    EXPECT_FALSE(run.main->recorder().isRecording());
    EXPECT_TRUE(run.recording->waitingForSpace());
    EXPECT_TRUE(run.log().contains(QStringLiteral("záznam sa zastavil")))
        << run.log().toStdString();
    EXPECT_EQ(readSet(first).edgeRows, 16);
    run.secondOfPulses(4); // measured, not recorded

    run.freeBytes = 1500; // some room, but not enough to go on for long
    run.recording->check();
    EXPECT_FALSE(run.main->recorder().isRecording());
    run.freeBytes = 5000;
    run.recording->check();
    EXPECT_TRUE(run.main->recorder().isRecording());
    EXPECT_EQ(run.recording->sets(), 2);
    run.secondOfPulses(8);
    const QStringList second = run.main->recorder().files();
    run.main->close();
    EXPECT_EQ(readSet(second).edgeRows, 16);
}

} // namespace
