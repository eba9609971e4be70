// Recording the three windows: the files hold what the windows showed and every edge they counted,
// read back with a CSV reader under a decimal-comma locale; failures end one window's recording
// with one message and whole rows, while measuring goes on.
#include "com/form2.h"
#include "common/numbertext.h"
#include "csvreader.h"
#include "game/form3.h"
#include "lpt/form1.h"
#include "platform/sim/simtlc549.h"
#include "record/recorder.h"
#include "support/fakeclock.h"
#include "support/fakejoystick.h"
#include "support/fakeserial.h"
#include "support/widgets.h"
#include "trend/trendform.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMdiArea>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTimer>
#include <csignal>
#include <gtest/gtest.h>
#include <map>
#include <sys/resource.h>
#include <system_error>

namespace diagnostika::test {
namespace {

using record::Recorder;

void pick(QWidget* client, const char* listName, const char* item)
{
    auto* list = control<QComboBox>(client, listName);
    ASSERT_NE(list, nullptr) << listName;
    const int index = list->findText(QString::fromUtf8(item));
    ASSERT_GE(index, 0) << item;
    list->setCurrentIndex(index);
    Q_EMIT list->activated(index);
}

void stopTimers(QWidget* client)
{
    for (QTimer* timer : client->findChildren<QTimer*>())
        timer->stop();
}

QString text(QWidget* client, const char* name)
{
    return control<QLabel>(client, name)->text();
}

QByteArray contents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Every entry of the folder, hidden ones and links included.
QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot);
}

// While alive, no file of this process can grow past `bytes`: a write takes what fits and the
// next is refused, as on a disk that fills.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit limited = previous_;
        limited.rlim_cur = bytes;
        ok_ = setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &previous_); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool ok() const { return ok_; }

private:
    rlimit previous_{};
    bool ok_ = false;
};

class RecorderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        previous_ = QLocale();
        QLocale::setDefault(QLocale(QLocale::Slovak, QLocale::Slovakia));
        area.resize(900, 700);
        QObject::connect(&recorder, &Recorder::failed,
                         [this](const QString& t) { messages.push_back(t); });
    }
    void TearDown() override { QLocale::setDefault(previous_); }

    void start()
    {
        QString error;
        ASSERT_TRUE(recorder.start(dir.path(), &error)) << error.toStdString();
    }
    // The one file of the recording whose name ends so.
    QString file(const QString& ending) const
    {
        QString found;
        for (const QString& f : recorder.files()) {
            if (f.endsWith(ending))
                found = f;
        }
        return found;
    }
    std::vector<QStringList> rows(const QString& ending) const
    {
        const QString path = file(ending);
        const auto parsed = readCsvFile(path);
        EXPECT_TRUE(parsed) << "not whole CSV rows: " << path.toStdString();
        return parsed.value_or(std::vector<QStringList>{});
    }
    QJsonObject metadata(const QString& source) const
    {
        QString path = file(QStringLiteral("_%1.csv").arg(source));
        path.replace(QStringLiteral(".csv"), QStringLiteral(".json"));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
        return QJsonDocument::fromJson(f.readAll()).object();
    }
    // Each shown text against the row's number: the same number, or both none.
    static void expectShown(const QStringList& header, const QStringList& row,
                            const std::map<QString, QString>& shown)
    {
        for (const auto& [column, readout] : shown) {
            const qsizetype at = header.indexOf(column);
            ASSERT_GE(at, 0) << column.toStdString();
            const std::optional<double> expected = readoutNumber(readout, QLocale());
            const QString cell = row[at];
            if (!expected) {
                EXPECT_TRUE(cell.isEmpty()) << column.toStdString() << " " << cell.toStdString();
                continue;
            }
            bool ok = false;
            // QString::toDouble reads the C locale's decimal point only.
            EXPECT_EQ(cell.toDouble(&ok), *expected)
                << column.toStdString() << " '" << cell.toStdString() << "'";
            EXPECT_TRUE(ok) << cell.toStdString();
        }
    }

    QTemporaryDir dir;
    FakeClock clock{50'000};
    Recorder recorder{clock, QStringLiteral("9.8.7")};
    QMdiArea area;
    std::vector<QString> messages;

private:
    QLocale previous_;
};

TEST_F(RecorderTest, SerialWindowFilesHoldTheShownReadoutsAndEveryCountedEdge)
{
    FakeSerialLinesProvider serial;
    Form2 form(serial, clock);
    recorder.addFeed(form.feed());
    start();
    clock.advance(250);
    form.show(&area); // opened while recording: recorded from its first reading
    QWidget* c = form.client();
    stopTimers(c);
    pick(c, "port", "COM1");
    pick(c, "vstup", "CTS");
    pick(c, "interval", "1s");
    pick(c, "snimace", "4");
    pick(c, "vstupposuvu", "DSR");
    pick(c, "vstupintervalu", "CTS");
    pick(c, "vstupfrekv", "CD");

    struct Edge {
        QString line;
        bool level;
        std::int64_t us;
    };
    std::vector<Edge> sent;
    const auto edge = [&](int code, const char* line, bool level, std::int64_t us) {
        LineEvent event{code, level, us / 1000, us, true};
        Q_EMIT serial.lines()->lineChanged(event);
        sent.push_back({QString::fromLatin1(line), level, us - 50'000'000});
    };
    const char* readouts[] = {"otacky", "rychlost",   "zrychlenie", "priemerx", "posuvx",
                              "zrych",  "pootocenie", "trvanie",    "f"};
    const char* columns[] = {"otacky [min^-1]",  "rychlost [m/s]", "zrychlenie [m/s^2]",
                             "priemer [min^-1]", "posuv [m]",      "zrych [m/s^2]",
                             "pootocenie [°]",   "trvanie [ms]",   "f [Hz]"};
    std::vector<std::pair<QString, std::map<QString, QString>>> shown;
    const auto evaluate = [&](const char* event, void (Form2::*handler)()) {
        (form.*handler)();
        std::map<QString, QString> texts;
        for (std::size_t i = 0; i < std::size(readouts); ++i)
            texts[QString::fromUtf8(columns[i])] = text(c, readouts[i]);
        shown.emplace_back(QString::fromLatin1(event), texts);
    };

    int ctsFalls = 0;
    for (int second = 1; second <= 6; ++second) {
        for (int i = 0; i < second + 2; ++i, ++ctsFalls) {
            const std::int64_t at = clock.milliseconds() * 1000 + 7 + 90'000 * i;
            edge(comEvCTS, "CTS", true, at);
            edge(comEvCTS, "CTS", false, at + 40'001);
        }
        edge(comEvDSR, "DSR", true, clock.milliseconds() * 1000 + 950'000);
        edge(comEvDSR, "DSR", false, clock.milliseconds() * 1000 + 960'000);
        edge(comEvCD, "CD", true, clock.milliseconds() * 1000 + 970'000);
        edge(comEvCD, "CD", false, clock.milliseconds() * 1000 + 980'000);
        clock.advance(1000);
        evaluate("Timer1", &Form2::Timer1_Timer);
        evaluate("Timer3", &Form2::Timer3_Timer);
        if (second == 5)
            evaluate("Timer2", &Form2::Timer2_Timer);
    }
    form.close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    recorder.stop();
    EXPECT_TRUE(messages.empty());

    const std::vector<QStringList> readings = rows(QStringLiteral("_com.csv"));
    ASSERT_EQ(readings.size(), shown.size() + 1);
    const QStringList& header = readings.front();
    EXPECT_EQ(header.mid(0, 3), (QStringList{"cas [s]", "datum_cas", "udalost"}));
    std::int64_t ctsCounted = 0;
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const QStringList& row = readings[i + 1];
        EXPECT_EQ(row[2], shown[i].first);
        expectShown(header, row, shown[i].second);
        if (row[2] == u"Timer1")
            ctsCounted += row[header.indexOf(QStringLiteral("impulzycts"))].toLongLong();
    }
    EXPECT_EQ(readings[1][0], u"1.25") << "seconds since the recording started";
    EXPECT_TRUE(QDateTime::fromString(readings[1][1], Qt::ISODateWithMs).isValid())
        << readings[1][1].toStdString();
    EXPECT_EQ(ctsCounted, ctsFalls);

    const std::vector<QStringList> edges = rows(QStringLiteral("_com_hrany.csv"));
    ASSERT_EQ(edges.size(), sent.size() + 1);
    EXPECT_EQ(edges.front(),
              (QStringList{"cas [us]", "datum_cas", "linka", "uroven", "vlastny_cas"}));
    for (std::size_t i = 0; i < sent.size(); ++i) {
        const QStringList& row = edges[i + 1];
        EXPECT_EQ(row[0].toLongLong(), sent[i].us) << i;
        EXPECT_EQ(row[2], sent[i].line) << i;
        EXPECT_EQ(row[3], sent[i].level ? u"1" : u"0") << i;
    }

    const QJsonObject meta = metadata(QStringLiteral("com"));
    EXPECT_EQ(meta[u"version"].toString(), u"9.8.7");
    EXPECT_EQ(meta[u"port"].toString(), u"COM1");
    EXPECT_EQ(meta[u"device"].toString(), u"/dev/ttyS0");
    EXPECT_EQ(meta[u"captureMode"].toString(), u"counted");
    const QJsonArray settings = meta[u"settings"].toArray();
    ASSERT_FALSE(settings.isEmpty());
    EXPECT_EQ(settings.first()[u"values"][u"snimace"].toString(), u"") << "at the start";
    EXPECT_EQ(settings.last()[u"values"][u"vstupfrekv"].toString(), u"CD");
}

TEST_F(RecorderTest, ParallelAndGameWindowFilesHoldWhatTheirReadoutsShowed)
{
    SimulatedPortIo io({888, 956}, SimulatedPortIo::driftingInputs(clock));
    Form1 lpt(io);
    FakeJoystick joystick;
    Form3 game(joystick);
    lpt.show(&area);
    game.show(&area);
    recorder.addFeed(lpt.feed());
    recorder.addFeed(game.feed());
    start(); // started while the windows are open
    stopTimers(lpt.client());
    stopTimers(game.client());
    pick(lpt.client(), "port", "LPT1");
    pick(lpt.client(), "volba", "TeplotaD");

    std::vector<QString> temperatures;
    std::vector<JoyInfo> positions;
    for (int i = 0; i < 30; ++i) {
        clock.advance(750);
        if (i == 20)
            pick(lpt.client(), "volba", "Napätie");
        lpt.Timer1_Timer();
        temperatures.push_back(text(lpt.client(), i < 20 ? "teplotac" : "napatie"));
        joystick.position = JoyInfo{std::uint32_t(1000 * i), 65535, std::uint32_t(i), 5};
        positions.push_back(*joystick.position);
        game.Timer1_Timer();
        EXPECT_EQ(text(game.client(), "joy1"), QString::number(1000 * i));
    }
    recorder.stop();

    const std::vector<QStringList> lptRows = rows(QStringLiteral("_lpt.csv"));
    ASSERT_EQ(lptRows.size(), temperatures.size() + 1);
    const QStringList& lh = lptRows.front();
    EXPECT_EQ(lh.mid(3), (QStringList{"kod1", "kod2", "napatievstupu [V]", "velicina", "hodnota",
                                      "jednotka"}));
    for (std::size_t i = 0; i < temperatures.size(); ++i) {
        const QStringList& row = lptRows[i + 1];
        expectShown(lh, row, {{QStringLiteral("hodnota"), temperatures[i]}});
        EXPECT_EQ(row[8], i < 20 ? QStringLiteral("°C") : QStringLiteral("V"));
        EXPECT_DOUBLE_EQ(row[5].toDouble(), 5 * (row[3].toDouble() + row[4].toDouble()) / 510);
    }
    const std::vector<QStringList> gameRows = rows(QStringLiteral("_game.csv"));
    ASSERT_EQ(gameRows.size(), positions.size() + 1);
    EXPECT_EQ(gameRows.front().mid(3), (QStringList{"x", "y", "z", "tlacidla"}));
    for (std::size_t i = 0; i < positions.size(); ++i) {
        const QStringList& row = gameRows[i + 1];
        EXPECT_EQ(row.mid(3), (QStringList{QString::number(positions[i].wXpos), "65535",
                                           QString::number(positions[i].wZpos), "5"}));
    }
    EXPECT_EQ(metadata(QStringLiteral("lpt"))[u"settings"].toArray().size(), 4)
        << "at the start, then LPT1 picked, then each of the two quantities";
}

TEST_F(RecorderTest, AFolderThatCannotBeMadeIsToldAndNothingStarts)
{
    QFile blocker(dir.filePath(QStringLiteral("subor")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    QString error;
    EXPECT_FALSE(recorder.start(dir.filePath(QStringLiteral("subor/zaznamy")), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("subor/zaznamy"))) << error.toStdString();
    EXPECT_FALSE(recorder.isRecording());
}

// A file removed while recording, and a file that reaches its size limit part way through a row
// (as on a full disk): that window's recording stops with one message and whole rows; the other
// window records on, and both windows measure on.
TEST_F(RecorderTest, AFileThatCannotBeWrittenEndsOnlyItsWindowsRecording)
{
    FakeSerialLinesProvider serial;
    Form2 com(serial, clock);
    FakeJoystick joystick;
    joystick.position = JoyInfo{1, 2, 3, 0};
    Form3 game(joystick);
    recorder.addFeed(com.feed());
    recorder.addFeed(game.feed());
    com.show(&area);
    game.show(&area);
    stopTimers(com.client());
    stopTimers(game.client());
    pick(com.client(), "port", "COM1");
    pick(com.client(), "vstup", "CTS");
    pick(com.client(), "interval", "1s");
    pick(com.client(), "snimace", "1");
    start();

    {
        // The edge file can grow to 64 KiB only: the writing fails inside a row.
        const FileSizeLimit limit(64 * 1024);
        ASSERT_TRUE(limit.ok());
        for (int i = 0; i < 2000; ++i)
            ASSERT_TRUE(
                serial.lines()->pulse(comEvCTS, clock.milliseconds(), clock.milliseconds()));
        game.Timer1_Timer();
        recorder.sync();
    }
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("_com_hrany.csv")) &&
                messages[0].contains(QStringLiteral("File too large")))
        << messages[0].toStdString();
    EXPECT_FALSE(com.feed()->readingHeard()) << "the serial window's recording stopped";
    const auto edges = readCsvFile(file(QStringLiteral("_com_hrany.csv")));
    ASSERT_TRUE(edges) << "whole rows up to the failure";
    EXPECT_GT(edges->size(), 100u);
    EXPECT_LT(edges->size(), 4001u);

    // Measuring goes on: 2000 pulses in one second at one per revolution.
    clock.advance(1000);
    com.Timer1_Timer();
    EXPECT_EQ(text(com.client(), "otacky"), u"120000,");

    // The game window's readings file goes away under it: told once, the rest stays recorded.
    ASSERT_TRUE(QFile::remove(file(QStringLiteral("_game.csv"))));
    game.Timer1_Timer();
    recorder.sync();
    game.Timer1_Timer();
    recorder.sync();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_TRUE(messages[1].contains(QStringLiteral("Meranie cez Game port")))
        << messages[1].toStdString();
    EXPECT_FALSE(game.feed()->readingHeard());
    EXPECT_EQ(text(game.client(), "joy3"), u"3");
}

// A disk that fills while a window's metadata is written anew: the last whole metadata stays (not
// an empty or cut file), nothing of the attempt is left behind, and the failure is told once like
// any other.
TEST_F(RecorderTest, MetadataThatCannotBeWrittenKeepsItsLastWholeVersion)
{
    FakeSerialLinesProvider serial;
    Form2 com(serial, clock);
    recorder.addFeed(com.feed());
    com.show(&area);
    stopTimers(com.client());
    pick(com.client(), "port", "COM1");
    start();
    recorder.sync();
    const QString json =
        file(QStringLiteral("_com.csv")).replace(QStringLiteral(".csv"), QStringLiteral(".json"));
    const QByteArray before = contents(json);
    ASSERT_EQ(metadata(QStringLiteral("com"))[u"port"].toString(), u"COM1");
    const QStringList filesBefore = entries(dir.path());
    {
        const FileSizeLimit full(64);
        ASSERT_TRUE(full.ok());
        pick(com.client(), "interval", "10s");
        recorder.sync();
        // The window's recording ends, and its closing metadata meets the full disk too.
        recorder.sync();
    }
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].contains(QFileInfo(json).fileName()) &&
                messages[0].contains(QStringLiteral("File too large")))
        << messages[0].toStdString();
    EXPECT_EQ(contents(json), before);
    EXPECT_EQ(entries(dir.path()), filesBefore) << "no temporary file is left";
}

// The write probe makes a file of its own: a link already in the folder under the probe's old name
// is neither followed nor removed, and the probe leaves nothing behind.
TEST_F(RecorderTest, TheWriteProbeTouchesNothingAlreadyInTheFolder)
{
    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath(QStringLiteral("dolezite.txt"));
    {
        QFile f(target);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("nenahraditelne");
    }
    const QString link = dir.filePath(QStringLiteral(".diagnostika-zapis"));
    ASSERT_TRUE(QFile::link(target, link));
    start();
    EXPECT_EQ(contents(target), "nenahraditelne");
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(entries(dir.path()), QStringList{QStringLiteral(".diagnostika-zapis")});
}

// "Spustiť záznam..." with a folder that will not do, while recording: the recording goes on into
// its folder, and the message says so.
TEST_F(RecorderTest, AFolderRefusedWhileRecordingLeavesTheRecordingRunning)
{
    FakeJoystick joystick;
    joystick.position = JoyInfo{1, 2, 3, 0};
    Form3 game(joystick);
    recorder.addFeed(game.feed());
    game.show(&area);
    stopTimers(game.client());
    start();
    game.Timer1_Timer();

    QFile blocker(dir.filePath(QStringLiteral("subor")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    std::vector<QString> refused{dir.filePath(QStringLiteral("subor/zaznamy"))};
    {
        // A folder that cannot be made says why, in the system's words.
        QString error;
        EXPECT_FALSE(recorder.start(refused.front(), &error));
        EXPECT_TRUE(error.contains(
            QString::fromLocal8Bit(std::make_error_code(std::errc::not_a_directory).message())))
            << error.toStdString();
    }
    // A folder that exists and takes no files, whoever runs the test.
    if (QFileInfo(QStringLiteral("/proc/self")).isDir())
        refused.emplace_back(QStringLiteral("/proc/self"));
    for (const QString& folder : refused) {
        QString error;
        EXPECT_FALSE(recorder.start(folder, &error)) << folder.toStdString();
        EXPECT_TRUE(error.contains(folder) &&
                    error.contains(QStringLiteral("Záznam pokračuje do priečinka %1.")
                                       .arg(QDir::toNativeSeparators(dir.path()))))
            << error.toStdString();
        EXPECT_TRUE(recorder.isRecording());
        EXPECT_EQ(recorder.folder(), QDir(dir.path()).absolutePath());
        game.Timer1_Timer();
    }
    recorder.stop();
    EXPECT_EQ(rows(QStringLiteral("_game.csv")).size(), 2 + refused.size())
        << "the header and every reading";
    EXPECT_TRUE(messages.empty());
}

// A recording cut short before any window's first tick, or a program killed, still leaves each
// window's files with their header rows and a metadata that lists every file; the header names
// what the window's readings carry, in their order.
TEST_F(RecorderTest, EachWindowsFilesAreWholeFromTheStartOfItsRecording)
{
    FakeSerialLinesProvider serial;
    Form2 com(serial, clock);
    SimulatedPortIo io({888, 956}, SimulatedPortIo::driftingInputs(clock));
    Form1 lpt(io);
    FakeJoystick joystick;
    joystick.position = JoyInfo{1, 2, 3, 0};
    Form3 game(joystick);
    TrendForm trend(*com.speedInput(), clock);
    std::vector<MeasurementForm*> forms{&com, &lpt, &game, &trend};
    for (MeasurementForm* form : forms) {
        recorder.addFeed(form->feed());
        form->show(&area);
        stopTimers(form->client());
    }
    pick(com.client(), "port", "COM1");
    start();
    recorder.sync(); // what a killed program leaves

    for (MeasurementForm* form : forms) {
        const QString source = form->feed()->source();
        const auto readings =
            readCsvFile(file(QStringLiteral("_") + source + QStringLiteral(".csv")));
        ASSERT_TRUE(readings && readings->size() == 1) << source.toStdString();
        EXPECT_EQ(readings->front().mid(0, 3), (QStringList{"cas [s]", "datum_cas", "udalost"}));
    }
    const QString edgeFile = file(QStringLiteral("_com_hrany.csv"));
    ASSERT_FALSE(edgeFile.isEmpty());
    EXPECT_EQ(readCsvFile(edgeFile)->size(), 1u) << "its header";
    EXPECT_EQ(metadata(QStringLiteral("com"))[u"files"][u"edges"].toString(),
              QFileInfo(edgeFile).fileName());

    std::map<QString, QStringList> published;
    for (MeasurementForm* form : forms) {
        QObject::connect(form->feed(), &Feed::reading, form, [&, form](const FeedReading& r) {
            QStringList columns;
            for (const FeedValue& v : r.values)
                columns.append(
                    QString::fromUtf8(v.name) +
                    (*v.unit ? QStringLiteral(" [%1]").arg(QString::fromUtf8(v.unit)) : QString()));
            published.emplace(form->feed()->source(), columns);
        });
    }
    clock.advance(1000);
    com.Timer1_Timer();
    lpt.Timer1_Timer();
    game.Timer1_Timer();
    trend.refresh();
    recorder.stop();
    EXPECT_TRUE(messages.empty());
    for (MeasurementForm* form : forms) {
        const QString source = form->feed()->source();
        const std::vector<QStringList> readings =
            rows(QStringLiteral("_") + source + QStringLiteral(".csv"));
        ASSERT_EQ(readings.size(), 2u) << source.toStdString();
        EXPECT_EQ(readings.front().mid(3), published[source]) << source.toStdString();
    }
}

} // namespace
} // namespace diagnostika::test
