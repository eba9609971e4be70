// The measurement report as a reader gets it: the PDF checked by Debian's own tools (qpdf for its
// structure and pages, poppler's pdftotext for its text), its figures held against
// what the windows showed on screen and against the simulated shaft's truth.
#include "common/messages.h"
#include "common/numbertext.h"
#include "game/form3.h"
#include "orders/orderform.h"
#include "platform/backends.h"
#include "platform/sharedvibration.h"
#include "platform/sim/simvibration.h"
#include "report/measurementlog.h"
#include "report/reportcontent.h"
#include "report/reportdialog.h"
#include "report/reportdocument.h"
#include "shell/mdiform1.h"
#include "support/fakeclock.h"
#include "support/fakejoystick.h"
#include "support/fakeportio.h"
#include "support/fakeserial.h"
#include "support/shaftwindows.h"
#include "support/widgets.h"
#include "vibration/vibrationform.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <gtest/gtest.h>

namespace diagnostika {
namespace {

using test::control;

// The tools, or why the test cannot run: a missing tool is said, never passed over in silence.
QString missingTools()
{
    QStringList missing;
    for (const char* tool : {"qpdf", "pdftotext"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            missing << QString::fromLatin1(tool);
    }
    return missing.join(QStringLiteral(", "));
}

#define REQUIRE_PDF_TOOLS()                                                                        \
    if (const QString missing = missingTools(); !missing.isEmpty())                                \
    GTEST_SKIP() << "cannot check the PDF: " << missing.toStdString()                              \
                 << " not installed (Debian packages qpdf and poppler-utils)"

// A tool's standard output, and whether it ended well.
std::pair<bool, QString> run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    const bool ended = process.waitForFinished(60'000);
    return {ended && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0,
            QString::fromUtf8(process.readAllStandardOutput())};
}

struct Checked {
    bool valid = false; // qpdf --check found nothing wrong
    QString qpdf;
    int pages = 0;
    QString text; // laid out as on the page
};

Checked check(const QString& path)
{
    const auto [valid, qpdf] = run(QStringLiteral("qpdf"), {QStringLiteral("--check"), path});
    return {valid, qpdf,
            run(QStringLiteral("qpdf"), {QStringLiteral("--show-npages"), path}).second.toInt(),
            run(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), path, QStringLiteral("-")})
                .second};
}

// The cells of the table row that begins with `label`, as pdftotext lays them out.
QStringList rowOf(const QString& text, const QString& label)
{
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        const QString trimmed = line.trimmed();
        if (trimmed.startsWith(label))
            return trimmed.mid(label.size()).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    }
    return {};
}

class SlovakLocale : public ::testing::Test {
protected:
    void SetUp() override { QLocale::setDefault(QLocale(QLocale::Slovak, QLocale::Slovakia)); }
    void TearDown() override { QLocale::setDefault(previous_); }

private:
    QLocale previous_;
};

// A shaft whose speed swings between 1200 and 1800 min^-1 over 20 s, with 4 marks.
SensorBox::Machine swingingMachine()
{
    SensorBox::Machine m = SensorBox::machineFor(1);
    m.meanSpeed = 1500;
    m.swing = 300;
    m.periodMs = 20'000;
    m.sensors[index(Line::CTS)].pulsesPerRevolution = 4;
    return m;
}

using ReportOfASimulatedRun = SlovakLocale;

TEST_F(ReportOfASimulatedRun, HoldsWhatTheWindowsShowedInTheLocalesFormat)
{
    REQUIRE_PDF_TOOLS();
    const QLocale locale;
    constexpr std::int64_t start = 10'000;
    test::FakeClock clock(start);
    test::ShaftWindows w(clock, swingingMachine(), "4");
    test::FakeJoystick joystick;
    Form3 game(joystick);
    game.show(&w.area);
    test::ShaftWindows::timer(game, "Timer1")->stop();
    SimulatedVibrationInputProvider vibrationInputs(clock);
    // One input read by both windows, as in the program.
    SharedVibrationInputProvider sharedInputs(vibrationInputs);
    VibrationForm vibration(sharedInputs, *w.form2.speedInput());
    vibration.show(&w.area);
    test::ShaftWindows::timer(vibration, "Timer1")->stop();
    OrderForm orders(sharedInputs, *w.form2.speedInput());
    orders.show(&w.area);
    test::ShaftWindows::timer(orders, "Timer1")->stop();
    ASSERT_TRUE(w.provider.created && w.lines().isOpen());
    test::ShaftWindows::pick(w.form2, "vstupfrekv", "CTS");
    // The whole swing captured, started by hand.
    control<QPushButton>(orders.client(), "start")->click();

    report::MeasurementLog log(clock);
    log.addFeed(w.form2.feed());
    log.followSpeed(w.form2.speedInput());
    log.addFeed(w.trend.feed());
    log.addFeed(game.feed());
    log.addFeed(vibration.feed());
    log.addFeed(orders.feed());

    // 30 s as the screen gets them: edges every 8 ms, the timers fired when their periods say, the
    // joystick moved between the game window's samples.
    std::vector<double> speedsShown;
    double truthSum = 0;
    int ticks = 0;
    const std::uint32_t xs[] = {32768, 1000, 65535, 20000, 40000};
    for (int ms = 1; ms <= 30'000; ++ms) {
        clock.advance(1);
        if (ms % 8 == 0)
            w.lines().poll();
        if (ms % 1000 == 0) {
            w.lines().poll();
            w.form2.Timer1_Timer();
            w.form2.Timer3_Timer();
            const QString shown = control<QLabel>(w.form2.client(), "otacky")->text();
            speedsShown.push_back(readoutNumber(shown, locale).value_or(-1));
            truthSum += SensorBox(swingingMachine()).speedAt(start + ms - 500);
            ++ticks;
        }
        if (ms % TrendForm::redrawMs == 0)
            w.trend.refresh();
        if (ms % VibrationForm::refreshMs == 0)
            vibration.refresh();
        if (ms % OrderForm::refreshMs == 0)
            orders.refresh();
        if (ms % 500 == 0) {
            joystick.position = JoyInfo{xs[(ms / 500) % 5], 100, 200, 0};
            game.Timer1_Timer();
        }
    }
    // The screen's last drawing: the order window writes out its last frame.
    orders.draw();
    const auto [least, greatest] = std::ranges::minmax(speedsShown);
    ASSERT_GT(greatest, least) << "the shaft's speed should have swung";

    const QString path = QDir(QStringLiteral(DIAGNOSTIKA_TEST_OUTPUT_DIR))
                             .filePath(QStringLiteral("report_simulated.pdf"));
    const report::Details details{QStringLiteral("Čerpadlo P-101"), QStringLiteral("Strojovňa 2"),
                                  QStringLiteral("Ján Šťastný"),
                                  QStringLiteral("Meranie po výmene ložísk.")};
    const report::Document document = report::buildReport(
        details, {&w.form2, nullptr, &game, &w.trend, &vibration, &orders}, log,
        {QStringLiteral("0.1.0"), true, QDateTime::currentDateTime(), {}, {}}, locale);
    QString reason;
    int pages = 0;
    ASSERT_TRUE(report::writePdf(document, path, &reason, &pages)) << reason.toStdString();

    const Checked pdf = check(path);
    EXPECT_TRUE(pdf.valid) << pdf.qpdf.toStdString();
    EXPECT_EQ(pdf.pages, pages);
    EXPECT_GE(pdf.pages, 2) << "the serial window, its trace, the trend chart, the game window";
    for (const char* heading :
         {"Protokol z merania – Čerpadlo P-101", "Strojovňa 2", "Ján Šťastný",
          "Meranie po výmene ložísk.", "Meranie cez sériový port", "Priebeh otáčok",
          "Meranie cez Game port", "Vibrácie", "Najvyššie špičky spektra", "simulované",
          "Rádová analýza", "Sledované rády", "zaznamenáva sa, spustené ručne",
          "Najvyššie špičky rádového spektra", "Bodeho diagram: fáza rádov", "Trvanie merania",
          "30 s"})
        EXPECT_TRUE(pdf.text.contains(QString::fromUtf8(heading))) << heading;
    EXPECT_TRUE(pdf.text.contains(QStringLiteral("Strana %1 z %1").arg(pages)));
    EXPECT_TRUE(pdf.text.contains(QStringLiteral("report_simulated.pdf")));

    // The counted speed as the window showed it (its bare separator dropped), least and greatest.
    const auto asShown = [&locale](double v) {
        QString text = patternNumber(v, u"##.##", locale);
        return text.endsWith(locale.decimalPoint()) ? text.chopped(1) : text;
    };
    const QStringList counted =
        rowOf(pdf.text, QStringLiteral("Otáčky počítaním impulzov [min⁻¹]"));
    ASSERT_EQ(counted.size(), 4) << pdf.text.toStdString();
    EXPECT_EQ(counted[0], asShown(least));
    EXPECT_EQ(counted[2], asShown(greatest));
    EXPECT_EQ(counted[3], asShown(speedsShown.back()));

    // The precise speed's mean against the shaft's own, and written with a decimal comma.
    const QStringList precise = rowOf(pdf.text, QStringLiteral("Otáčky z časov impulzov [min⁻¹]"));
    ASSERT_EQ(precise.size(), 4) << pdf.text.toStdString();
    const std::optional<double> preciseMean = readNumber(precise[1], locale);
    ASSERT_TRUE(preciseMean) << precise[1].toStdString();
    EXPECT_TRUE(precise[1].contains(QLatin1Char(',')));
    EXPECT_NEAR(*preciseMean, truthSum / ticks, truthSum / ticks * 0.005);

    // The trend window's greatest speed as its readout shows it.
    EXPECT_EQ(rowOf(pdf.text, QStringLiteral("Maximum [min⁻¹]")).value(0),
              control<QLabel>(w.trend.client(), "maximum")->text());
    // The frequency readout, last shown: 4 pulses a revolution at about 1450 min^-1.
    const QString frequency = control<QLabel>(w.form2.client(), "f")->text();
    EXPECT_NEAR(frequency.toDouble(), 97, 5);
    EXPECT_EQ(rowOf(pdf.text, QStringLiteral("Frekvencia [Hz]")).value(3), frequency);
    // The joystick's X axis over every position it showed.
    EXPECT_EQ(rowOf(pdf.text, QStringLiteral("X")), (QStringList{"1000", "65535", "64535"}));

    // The vibration window's overall values and zone as it shows them, and its highest peak with
    // its order.
    EXPECT_EQ(rowOf(pdf.text, QStringLiteral("Rýchlosť RMS [mm/s]")).value(3),
              control<QLabel>(vibration.client(), "vrms")->text());
    const QString zone = control<QLabel>(vibration.client(), "zona")->text();
    ASSERT_TRUE(zone.startsWith(QStringLiteral("zóna ")));
    EXPECT_TRUE(
        pdf.text.contains(QStringLiteral("ISO 20816-3 (posledná hodnota): ") + zone.mid(5)));
    const QStringList peakLines =
        control<QLabel>(vibration.client(), "spicky")->text().split(QLatin1Char('\n'));
    ASSERT_GE(peakLines.size(), 3);
    const QStringList highest = peakLines[2].split(QLatin1Char(' '), Qt::SkipEmptyParts);
    ASSERT_EQ(highest.size(), 3) << "frequency, amplitude and order: "
                                 << peakLines[2].toStdString();
    const QString peaksTable = pdf.text.mid(pdf.text.indexOf(QStringLiteral("Poradie")));
    EXPECT_EQ(rowOf(peaksTable, QStringLiteral("1 ")), highest) << peaksTable.toStdString();

    // The order window's last frame as it writes it out: the speed, then each order's amplitude
    // and phase, in the tracks' table at that speed.
    const QString written = control<QLabel>(orders.client(), "hodnoty")->text();
    const QRegularExpressionMatch speed =
        QRegularExpression(QStringLiteral("^n = (\\S+) min\\^-1")).match(written);
    ASSERT_TRUE(speed.hasMatch()) << written.toStdString();
    EXPECT_NEAR(readNumber(speed.captured(1), locale).value_or(0), 1500, 320);
    QString tracks = pdf.text.mid(pdf.text.indexOf(QStringLiteral("Rády pri otáčkach")));
    tracks.replace(QRegularExpression(QStringLiteral("\\s+")), QStringLiteral(" "));
    QStringList rows; // the table's rows at that speed, one per order
    auto it =
        QRegularExpression(QStringLiteral("(\\S+×): (\\S+) m/s\\^2, (\\S+)°")).globalMatch(written);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        rows << QStringList{speed.captured(1), m.captured(1), m.captured(2), m.captured(3)}.join(
            u' ');
    }
    ASSERT_EQ(rows.size(), 2) << "orders 1 and 2: " << written.toStdString();
    EXPECT_TRUE(tracks.contains(rows.join(u' '))) << tracks.toStdString();
    orders.close();
    vibration.close();
    game.close();
}

// The whole program's way to a report: the menu window with its windows, through writeReport.
class ReportFromTheMainWindow : public SlovakLocale {
protected:
    void SetUp() override
    {
        SlovakLocale::SetUp();
        backends.clock = std::make_unique<test::FakeClock>();
        backends.joystick = std::make_unique<test::FakeJoystick>();
        backends.portIo = std::make_unique<test::FakePortIo>();
        backends.serial = std::make_unique<test::FakeSerialLinesProvider>();
        main = std::make_unique<MDIForm1>(backends);
        previous = setInformationPresenter([this](QWidget*, const QString&, const QString& text,
                                                  const QString&) { boxes << text; });
    }
    void TearDown() override
    {
        main.reset();
        setInformationPresenter(previous);
        SlovakLocale::TearDown();
    }

    Backends backends;
    std::unique_ptr<MDIForm1> main;
    InformationPresenter previous;
    QStringList boxes;
    QTemporaryDir folder;
};

TEST_F(ReportFromTheMainWindow, MakesAValidFileWhateverItHolds)
{
    REQUIRE_PDF_TOOLS();
    ASSERT_TRUE(folder.isValid());
    QString longNote;
    for (int i = 1; i <= 400; ++i)
        longNote += QStringLiteral("Veta číslo %1 o stave ložísk a spojky. ").arg(i);
    longNote += QStringLiteral("KONIEC");
    struct Case {
        const char* name;
        bool openWindows;
        report::Details details;
        int leastPages;
        std::vector<QString> text; // that the reader must find
    } cases[] = {
        {"nothing open", false, {}, 1, {QStringLiteral("Žiadne meracie okno")}},
        {"a note longer than a page",
         false,
         {QString(), QString(), QString(), longNote},
         3,
         {QStringLiteral("Veta číslo 1 "), QStringLiteral("KONIEC")}},
        {"text outside Latin-1",
         true,
         {QStringLiteral("Čerpadlo č. 5 – Győr"), QStringLiteral("Θεσσαλονίκη"),
          QStringLiteral("Ďuro Ľalík"), QStringLiteral("中文 Ωμέγα €")},
         1,
         {QStringLiteral("Čerpadlo č. 5 – Győr"), QStringLiteral("Θεσσαλονίκη"),
          QStringLiteral("Ďuro Ľalík"), QStringLiteral("Ωμέγα €"),
          QStringLiteral("Meranie cez paralelný port")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.openWindows) {
            main->mnuLPTItem_Click();
            main->mnuZvlastItem_Click();
        }
        const QString path = folder.filePath(QString::fromLatin1(c.name) + QStringLiteral(".pdf"));
        QString error;
        ASSERT_TRUE(main->writeReport(path, c.details, &error)) << error.toStdString();
        const Checked pdf = check(path);
        EXPECT_TRUE(pdf.valid) << pdf.qpdf.toStdString();
        EXPECT_GE(pdf.pages, c.leastPages);
        QString flat = pdf.text;
        flat.replace(QRegularExpression(QStringLiteral("\\s+")), QStringLiteral(" "));
        for (const QString& expected : c.text)
            EXPECT_TRUE(flat.contains(expected)) << expected.toStdString();
    }
}

// As a user makes one: "Záznam" → "Protokol z merania...", the dialog filled in and confirmed. A
// folder that is not there, or a "folder" that is a file, is told once, in a box, in Slovak with
// the file and the system's reason; nothing is left behind.
TEST_F(ReportFromTheMainWindow, TheMenuEntryAsksForTheDetailsAndWritesTheFile)
{
    REQUIRE_PDF_TOOLS();
    auto* entry = main->findChild<QAction*>(QStringLiteral("mnuReport"));
    ASSERT_NE(entry, nullptr);
    main->mnuZvlastItem_Click();
    const QString file = folder.filePath(QStringLiteral("obycajny-subor"));
    QFile(file).open(QIODevice::WriteOnly);
    const struct {
        QString path;
        int boxes;
    } cases[] = {
        {folder.filePath(QStringLiteral("z menu.pdf")), 0},
        {folder.filePath(QStringLiteral("nie je/z menu.pdf")), 1},
        {file + QStringLiteral("/z menu.pdf"), 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        boxes.clear();
        bool filled = false;
        // The dialog is modal: it is filled in once its own event loop runs.
        QTimer::singleShot(0, main.get(), [&] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* dialog = qobject_cast<report::ReportDialog*>(w);
                if (!dialog || !dialog->isVisible())
                    continue;
                control<QLineEdit>(dialog, "stroj")->setText(QStringLiteral("Ventilátor V-3"));
                control<QLineEdit>(dialog, "meral")->setText(QStringLiteral("Eva Kováčová"));
                control<QPlainTextEdit>(dialog, "poznamka")
                    ->setPlainText(QStringLiteral("Bez nálezu."));
                control<QLineEdit>(dialog, "subor")->setText(c.path);
                filled = true;
                dialog->accept();
            }
        });
        entry->trigger();
        ASSERT_TRUE(filled) << "the dialog did not open";
        ASSERT_EQ(boxes.size(), c.boxes) << boxes.join(u'|').toStdString();
        if (c.boxes > 0) {
            const QString says =
                QStringLiteral("Protokol z merania sa nepodarilo zapísať do súboru "
                               "%1: ")
                    .arg(QDir::toNativeSeparators(c.path));
            EXPECT_TRUE(boxes[0].startsWith(says)) << boxes[0].toStdString();
            EXPECT_GT(boxes[0].size() - says.size(), 3) << "the system's reason";
            EXPECT_FALSE(QFile::exists(c.path));
            continue;
        }
        const Checked pdf = check(c.path);
        EXPECT_TRUE(pdf.valid) << pdf.qpdf.toStdString();
        for (const char* text :
             {"Ventilátor V-3", "Eva Kováčová", "Bez nálezu.", "Meranie cez Game port"})
            EXPECT_TRUE(pdf.text.contains(QString::fromUtf8(text))) << text;
    }
}

} // namespace
} // namespace diagnostika
