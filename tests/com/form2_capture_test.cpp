// Line events through the serial window: indicators, displacement, angle, duration, frequency,
// zeroing, bad marks, and counts that outlive a closed window.
#include "com/serialformulas.h"
#include "form2fixture.h"

#include <QTest>
#include <functional>

namespace diagnostika::test {
namespace {

// Indexes of the per-line stamps.
constexpr auto cts = static_cast<std::size_t>(Line::CTS);
constexpr auto dsr = static_cast<std::size_t>(Line::DSR);
constexpr auto cd = static_cast<std::size_t>(Line::CD);

class Form2CaptureTest : public Form2Test {
protected:
    void SetUp() override
    {
        Form2Test::SetUp();
        openPort();
    }
};

TEST_F(Form2CaptureTest, IndicatorsShowEachEdgeOfTheirOwnLine)
{
    struct Case {
        int code;
        const char* indicator;
    };
    for (const Case& c : {Case{comEvCTS, "CTSx"}, Case{comEvDSR, "DSRx"}, Case{comEvCD, "CDx"}}) {
        ASSERT_TRUE(lines().edge(c.code, true, 100));
        EXPECT_EQ(picture(c.indicator)->backColour(), 0x00000FFFu) << c.indicator;
        ASSERT_TRUE(lines().edge(c.code, false, 200));
        EXPECT_EQ(picture(c.indicator)->backColour(), 0x00000000u) << c.indicator;
    }
    EXPECT_EQ(form->impulzycts, 1);
    EXPECT_EQ(form->impulzydsr, 1);
    EXPECT_EQ(form->impulzycd, 1);
}

TEST_F(Form2CaptureTest, FiveCtsPulsesOfTenMillimetresAreFiveCentimetres)
{
    pick("vstupposuvu", "CTS");
    pulses(comEvCTS, 5);
    EXPECT_EQ(text("posuvx"), QStringLiteral("0,05"));
    EXPECT_EQ(form->impulzyposuvu, 5);
}

TEST_F(Form2CaptureTest, DisplacementUsesTheDecimalPointWhereTheLocaleDoes)
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    pick("vstupposuvu", "CTS");
    entry("znacka")->setText(QStringLiteral("2.5"));
    pulses(comEvCTS, 2);
    EXPECT_EQ(text("posuvx"), QStringLiteral("0.005"));
}

TEST_F(Form2CaptureTest, AngleAndKnobWrapAtExactlyOneTurn)
{
    pick("vstupuhla", "DSR");
    pulse(comEvDSR);
    EXPECT_EQ(text("pootocenie"), QStringLiteral("2"));
    EXPECT_EQ(knobLeft(), 14.0);
    EXPECT_EQ(knobPixels(), 1) << "14 twips is nearer one pixel than none";

    pulses(comEvDSR, 179);
    EXPECT_EQ(text("pootocenie"), QStringLiteral("360"));
    EXPECT_EQ(knobLeft(), 2520.0);
    EXPECT_EQ(knobPixels(), 168);
    EXPECT_EQ(form->impulzyposuvnika, 0);

    pulse(comEvDSR);
    EXPECT_EQ(text("pootocenie"), QStringLiteral("362"));
    EXPECT_EQ(knobLeft(), 14.0);
    EXPECT_EQ(form->impulzyuhla, 181);
}

TEST_F(Form2CaptureTest, SevenDegreeMarksNeverWrapTheKnob)
{
    pick("vstupuhla", "CD");
    entry("znackau")->setText(QStringLiteral("7"));
    pulses(comEvCD, 51);
    EXPECT_EQ(text("pootocenie"), QStringLiteral("357"));
    pulse(comEvCD);
    EXPECT_EQ(text("pootocenie"), QStringLiteral("364"));
    EXPECT_EQ(form->impulzyposuvnika, 52);
    EXPECT_EQ(knobLeft(), 364.0 * 7);
}

TEST_F(Form2CaptureTest, DurationRunsFromTheChosenLinesOwnActivation)
{
    struct Edge {
        int code;
        bool level;
        std::int64_t stamp;
    };
    struct Case {
        const char* what;
        std::vector<Edge> edges;
        const char* shown; // nullptr: nothing shown
        bool stampsCleared;
    };
    const std::int64_t t = 5'000'000'000; // far beyond 32 bits: stamps never wrap
    const Case cases[] = {
        {"one pulse of 250 ms", {{comEvCTS, true, t}, {comEvCTS, false, t + 250}}, "250", true},
        // Another line's activation in the middle of the pulse does not shorten it.
        {"another line rose in between",
         {{comEvCTS, true, 1000}, {comEvDSR, true, 1200}, {comEvCTS, false, 1500}},
         "500",
         true},
        {"two lines' pulses interleave",
         {{comEvCD, true, 900},
          {comEvCTS, true, 1000},
          {comEvCD, false, 1002},
          {comEvCD, true, 1050},
          {comEvCTS, false, 1102}},
         "102",
         true},
        {"99998 ms still counts",
         {{comEvCTS, true, t}, {comEvCTS, false, t + 99998}},
         "99998",
         true},
        {"99999 ms is too long",
         {{comEvCTS, true, t}, {comEvCTS, false, t + 99999}},
         nullptr,
         false},
        {"no start stamp, even at a small clock", {{comEvCTS, false, 40}}, nullptr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        label("trvanie")->clear();
        form->zaciatokimpulzu = {};
        form->koniecimpulzu = {};
        pick("vstupintervalu", "CTS");
        for (const Edge& e : c.edges)
            ASSERT_TRUE(lines().edge(e.code, e.level, e.stamp));
        EXPECT_EQ(text("trvanie"), c.shown ? QString::fromUtf8(c.shown) : QString());
        EXPECT_EQ(!form->zaciatokimpulzu[cts] && !form->koniecimpulzu[cts], c.stampsCleared);
    }
}

TEST_F(Form2CaptureTest, EndOfAPulseOnAnotherLineShowsNoDuration)
{
    pick("vstupintervalu", "CD");
    pulse(comEvCTS, 100, 300);
    EXPECT_EQ(text("trvanie"), QString());
    EXPECT_EQ(form->zaciatokimpulzu[cts], 100);
    EXPECT_EQ(form->koniecimpulzu[cts], 300);
}

TEST_F(Form2CaptureTest, OneLineFeedsEveryListThatChoseIt)
{
    for (const char* name : {"vstupposuvu", "vstupuhla", "vstupintervalu", "vstupfrekv"})
        pick(name, "CD");
    pulse(comEvCD, 1000, 1040);
    EXPECT_EQ(text("posuvx"), QStringLiteral("0,01"));
    EXPECT_EQ(text("pootocenie"), QStringLiteral("2"));
    EXPECT_EQ(text("trvanie"), QStringLiteral("40"));
    EXPECT_EQ(form->impulzyfrekv, 1);
    EXPECT_EQ(form->impulzycd, 1);
}

TEST_F(Form2CaptureTest, ALineChosenNowhereStillCountsAndStamps)
{
    for (const char* name : {"vstupposuvu", "vstupuhla", "vstupintervalu", "vstupfrekv"})
        pick(name, "CTS");
    pulse(comEvDSR, 700, 900);
    EXPECT_EQ(picture("DSRx")->backColour(), 0u);
    EXPECT_EQ(form->impulzydsr, 1);
    EXPECT_EQ(form->zaciatokimpulzu[dsr], 700);
    EXPECT_EQ(form->koniecimpulzu[dsr], 900);
    EXPECT_EQ(form->impulzyposuvu, 0);
    EXPECT_EQ(form->impulzyuhla, 0);
    EXPECT_FALSE(form->impulzyfrekv.has_value());
    for (const char* name : {"posuvx", "pootocenie", "trvanie"})
        EXPECT_EQ(text(name), QString()) << name;
}

TEST_F(Form2CaptureTest, NothingIsTakenBeforeTheListsArePicked)
{
    pulses(comEvCTS, 3);
    EXPECT_EQ(form->impulzycts, 3);
    EXPECT_EQ(form->impulzyposuvu, 0);
    EXPECT_EQ(form->impulzyuhla, 0);
    EXPECT_FALSE(form->impulzyfrekv.has_value());
}

TEST_F(Form2CaptureTest, UnknownEventCodesChangeNothing)
{
    for (const char* name : {"vstupposuvu", "vstupuhla", "vstupintervalu", "vstupfrekv"})
        pick(name, "CTS");
    for (int code : {0, 1, 2, 6, 7, 1001, -3}) {
        ASSERT_TRUE(lines().edge(code, true, 10));
        ASSERT_TRUE(lines().edge(code, false, 20));
    }
    EXPECT_EQ(form->impulzycts + form->impulzydsr + form->impulzycd, 0);
    for (std::size_t line : {cts, dsr, cd}) {
        EXPECT_FALSE(form->zaciatokimpulzu[line].has_value());
        EXPECT_FALSE(form->koniecimpulzu[line].has_value());
    }
    for (const char* name : {"CTSx", "CDx", "DSRx"})
        EXPECT_EQ(picture(name)->backColour(), colourValue(64, 64, 64)) << name;
    for (const char* name : {"posuvx", "pootocenie", "trvanie"})
        EXPECT_EQ(text(name), QString()) << name;
}

TEST_F(Form2CaptureTest, ZeroingStartsTheTotalsAgain)
{
    pick("vstupposuvu", "CTS");
    pick("vstupuhla", "CTS");
    pulses(comEvCTS, 7);

    control<QPushButton>(client(), "nulovanieposuvu")->click();
    EXPECT_EQ(text("posuvx"), QStringLiteral("0"));
    pulse(comEvCTS);
    EXPECT_EQ(text("posuvx"), QStringLiteral("0,01"));

    control<QPushButton>(client(), "nulovanieuhla")->click();
    EXPECT_EQ(text("pootocenie"), QStringLiteral("0"));
    EXPECT_EQ(knobLeft(), 0.0);
    EXPECT_EQ(form->impulzyposuvnika, 0);
    pulse(comEvCTS);
    EXPECT_EQ(text("pootocenie"), QStringLiteral("2"));
    EXPECT_EQ(knobLeft(), 14.0);
}

TEST_F(Form2CaptureTest, EveryUserActionTakesTheEdgesSeenBeforeIt)
{
    // Edges reach the window in batches: one the port saw just before the action is handed over
    // by the action, and so belongs to the settings before it.
    struct Case {
        const char* action;
        std::function<void()> act;
        std::function<bool()> holds;
    };
    const auto queuePulse = [this] {
        ASSERT_TRUE(lines().queueEdge(comEvCTS, true, 0) && lines().queueEdge(comEvCTS, false, 1));
    };
    const Case cases[] = {
        {"Nulovanie of the displacement",
         [this] { control<QPushButton>(client(), "nulovanieposuvu")->click(); },
         [this] { return form->impulzyposuvu == 0 && text("posuvx") == QStringLiteral("0"); }},
        {"Nulovanie of the angle",
         [this] { control<QPushButton>(client(), "nulovanieuhla")->click(); },
         [this] { return form->impulzyuhla == 0 && text("pootocenie") == QStringLiteral("0"); }},
        {"another displacement input", [this] { pick("vstupposuvu", QStringLiteral("DSR")); },
         [this] { return form->impulzyposuvu == 1; }},
        {"another mark", [this] { entry("znacka")->setText(QStringLiteral("1000")); },
         [this] { return text("posuvx") == QStringLiteral("0,01"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.action);
        pick("vstupposuvu", QStringLiteral("CTS"));
        pick("vstupuhla", QStringLiteral("CTS"));
        entry("znacka")->setText(QStringLiteral("10"));
        control<QPushButton>(client(), "nulovanieposuvu")->click();
        control<QPushButton>(client(), "nulovanieuhla")->click();
        queuePulse();
        c.act();
        lines().deliverPending(); // the next batch, had the action not taken it
        EXPECT_TRUE(c.holds());
    }
}

TEST_F(Form2CaptureTest, PulseReadoutsFollowWithoutATickAndAZeroBeforeTheFrameStays)
{
    pick("vstupuhla", QStringLiteral("CTS"));
    pulse(comEvCTS);
    // As a person sees it: the readout follows by itself at the screen's pace.
    EXPECT_TRUE(QTest::qWaitFor([this] { return label("pootocenie")->text() == "2"; }, 2000));
    // Zeroed between a pulse and the next frame: the frame must not bring the pulse's angle back.
    pulse(comEvCTS);
    control<QPushButton>(client(), "nulovanieuhla")->click();
    form->showPulseReadouts(); // the next frame
    EXPECT_EQ(label("pootocenie")->text(), QStringLiteral("0"));
}

TEST_F(Form2CaptureTest, EachTimerTickShowsWhatThePulsesBeforeItLeft)
{
    // Pulses write their readouts at the screen's pace; a tick's reading must not lag behind.
    pick("vstupposuvu", "CTS");
    pick("vstupuhla", "CTS");
    pick("vstupintervalu", "CTS");
    const struct {
        void (Form2::*tick)();
        const char* metres;
        const char* degrees;
        int knobPixels;
    } cases[] = {{&Form2::Timer1_Timer, "0,05", "10", 5},
                 {&Form2::Timer2_Timer, "0,1", "20", 9},
                 {&Form2::Timer3_Timer, "0,15", "30", 14}};
    for (const auto& c : cases) {
        pulses(comEvCTS, 5);
        (form.get()->*c.tick)();
        EXPECT_EQ(label("posuvx")->text(), QString::fromLatin1(c.metres));
        EXPECT_EQ(label("pootocenie")->text(), QString::fromLatin1(c.degrees));
        EXPECT_EQ(label("trvanie")->text(), QStringLiteral("5"));
        EXPECT_EQ(picture("posuvnik")->x() - picture("posuvadlo")->contentsRect().x(),
                  c.knobPixels);
    }
}

TEST_F(Form2CaptureTest, MarksThatDoNotGiveAShowableNumberKeepTheReadoutAndTurnRed)
{
    pick("vstupposuvu", "CTS");
    pick("vstupuhla", "CTS");
    pulse(comEvCTS);
    ASSERT_EQ(text("posuvx"), QStringLiteral("0,01"));
    ASSERT_EQ(text("pootocenie"), QStringLiteral("2"));
    const QColor normal = entry("znacka")->palette().color(QPalette::Base);

    // The last three read as numbers, but their results overflow or are too large to show.
    for (const char* bad : {"", "abc", "1e999", "1.5", "2,5,0", "1e308", "-1e308", "1e20"}) {
        SCOPED_TRACE(bad);
        entry("znacka")->setText(QString::fromUtf8(bad));
        entry("znackau")->setText(QString::fromUtf8(bad));
        const std::int64_t before = form->impulzyposuvu;
        pulse(comEvCTS);
        EXPECT_EQ(form->impulzyposuvu, before + 1);
        EXPECT_EQ(text("posuvx"), QStringLiteral("0,01"));
        EXPECT_EQ(text("pootocenie"), QStringLiteral("2"));
        EXPECT_EQ(entry("znacka")->palette().color(QPalette::Base), QColor(255, 0, 0));
        EXPECT_EQ(entry("znackau")->palette().color(QPalette::Base), QColor(255, 0, 0));
    }

    // Valid again: the colour returns at once, and the next pulse shows every pulse counted.
    entry("znacka")->setText(QStringLiteral("10"));
    entry("znackau")->setText(QStringLiteral("2"));
    EXPECT_EQ(entry("znacka")->palette().color(QPalette::Base), normal);
    EXPECT_EQ(entry("znackau")->palette().color(QPalette::Base), normal);
    pulse(comEvCTS);
    EXPECT_EQ(text("posuvx"), QStringLiteral("0,1"));
    EXPECT_EQ(text("pootocenie"), QStringLiteral("20"));
    // The knob stood still for the unreadable marks, and moves on from where it stood.
    EXPECT_EQ(knobLeft(), 2 * 2 * 7.0);
}

TEST_F(Form2CaptureTest, AnUnreadableMarkAtTheTurnDoesNotStopTheKnobWrapping)
{
    pick("vstupuhla", "DSR");
    pulses(comEvDSR, 179);
    entry("znackau")->setText(QStringLiteral("?"));
    pulse(comEvDSR);
    entry("znackau")->setText(QStringLiteral("2"));
    pulse(comEvDSR);
    EXPECT_EQ(text("pootocenie"), QStringLiteral("362"));
    EXPECT_EQ(knobLeft(), 2520.0);
    EXPECT_EQ(form->impulzyposuvnika, 0) << "the knob completed its turn and wraps";
    pulse(comEvDSR);
    EXPECT_EQ(knobLeft(), 14.0);
}

TEST_F(Form2CaptureTest, CountsOutliveAClosedWindow)
{
    pick("vstupposuvu", "CTS");
    pulses(comEvCTS, 20);
    EXPECT_EQ(text("posuvx"), QStringLiteral("0,2"));

    closeWindow();
    form->show(&area);
    EXPECT_EQ(text("posuvx"), QString());
    EXPECT_FALSE(lines().isOpen());
    EXPECT_EQ(list("vstupposuvu")->currentText(), QString());

    openPort();
    pick("vstupposuvu", "CTS");
    pulse(comEvCTS);
    EXPECT_EQ(text("posuvx"), QStringLiteral("0,21"));
}

} // namespace
} // namespace diagnostika::test
