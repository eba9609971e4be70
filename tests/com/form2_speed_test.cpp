// Speed, velocity, acceleration and average on Timer1, the speed graph, and the displacement
// acceleration and frequency timers, through the serial window.
#include "form2fixture.h"

#include <cmath>

namespace diagnostika::test {
namespace {

class Form2SpeedTest : public Form2Test {
protected:
    void SetUp() override
    {
        Form2Test::SetUp();
        stopTimers();
        openPort();
    }

    // The tests call the handlers themselves; the running timers must not tick in between.
    void stopTimers()
    {
        for (const char* name : {"Timer1", "Timer2", "Timer3"})
            timer(name)->stop();
    }

    void choose(const char* line, const char* interval, const char* p)
    {
        if (line)
            pick("vstup", QString::fromUtf8(line));
        if (interval)
            pick("interval", QString::fromUtf8(interval));
        if (p)
            pick("snimace", QString::fromUtf8(p));
    }

    static int codeOf(const QString& line)
    {
        return line == u"CTS" ? comEvCTS : line == u"DSR" ? comEvDSR : comEvCD;
    }

    const std::vector<Segment>& segments() const { return picture("graf")->segments(); }
};

// Texts written with the comma; the decimal-point run swaps the separator.
struct Evaluation {
    int pulses;
    const char* otacky;
    const char* rychlost;
    const char* zrychlenie;
    const char* priemerx;
    std::int64_t sum;
    std::int64_t count;
};

struct SpeedCase {
    const char* name;
    const char* line;
    const char* interval;
    const char* p;
    int period;
    std::vector<Evaluation> periods;
};

const SpeedCase speedCases[] = {
    {"CTS 1s p4, then fewer pulses",
     "CTS",
     "1s",
     "4",
     1000,
     {{10, "150,", "15,7", "15,7", "150", 150, 1}, {8, "120,", "12,56", "-3,14", "135", 270, 2}}},
    {"CD 10s p1", "CD", "10s", "1", 10000, {{25, "150,", "15,7", "1,57", "150", 150, 1}}},
    {"DSR 1min p4", "DSR", "1min", "4", 60000, {{7, "1,75", ",18", ",", "2", 2, 1}}},
    {"CTS 1s p8, the sum rounding half to even",
     "CTS",
     "1s",
     "8",
     1000,
     {{1, "7,5", ",79", ",79", "8", 8, 1}, {1, "7,5", ",79", ",", "8", 16, 2}}},
    {"a period without pulses changes nothing else, and the next compares with the last speed",
     "CTS",
     "1s",
     "4",
     1000,
     {{10, "150,", "15,7", "15,7", "150", 150, 1},
      {0, ",", "N/A", "N/A", "150", 150, 1},
      {10, "150,", "15,7", ",", "150", 300, 2}}},
    {"two equal speeds give acceleration 0",
     "CD",
     "1s",
     "6",
     1000,
     {{3, "30,", "3,14", "3,14", "30", 30, 1}, {3, "30,", "3,14", ",", "30", 60, 2}}},
    {"speeds beyond the old 16-bit average",
     "CTS",
     "1s",
     "1",
     1000,
     {{600, "36000,", "3768,", "3768,", "36000", 36000, 1},
      {700, "42000,", "4396,", "628,", "39000", 78000, 2}}},
};

class Form2SpeedTableTest : public Form2SpeedTest, public ::testing::WithParamInterface<bool> {};

TEST_P(Form2SpeedTableTest, EvaluatesEachPeriod)
{
    const bool decimalPoint = GetParam();
    if (decimalPoint)
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    auto localised = [decimalPoint](const char* text) {
        QString s = QString::fromUtf8(text);
        if (decimalPoint && s != u"N/A")
            s.replace(u',', u'.');
        return s;
    };

    for (const SpeedCase& c : speedCases) {
        SCOPED_TRACE(c.name);
        form = std::make_unique<Form2>(serial, clock);
        form->show(&area);
        stopTimers();
        openPort();
        choose(c.line, c.interval, c.p);
        for (const Evaluation& e : c.periods) {
            for (int i = 0; i < e.pulses; ++i)
                pulse(codeOf(QString::fromUtf8(c.line)));
            form->Timer1_Timer();
            EXPECT_EQ(text("otacky"), localised(e.otacky)) << e.pulses;
            EXPECT_EQ(text("rychlost"), localised(e.rychlost)) << e.pulses;
            EXPECT_EQ(text("zrychlenie"), localised(e.zrychlenie)) << e.pulses;
            EXPECT_EQ(text("priemerx"), localised(e.priemerx)) << e.pulses;
            EXPECT_EQ(form->sucetotacok, e.sum) << e.pulses;
            EXPECT_EQ(form->pocetotacok, e.count) << e.pulses;
            EXPECT_EQ(timer("Timer1")->interval(), c.period);
            EXPECT_EQ(form->impulzycts + form->impulzycd + form->impulzydsr, 0);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Locales, Form2SpeedTableTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& param) {
                             return param.param ? std::string("DecimalPoint")
                                                : std::string("DecimalComma");
                         });

TEST_F(Form2SpeedTest, BeforeAnyChoiceEveryTickShowsNoSpeed)
{
    pulses(comEvCTS, 4);
    for (int tick = 0; tick < 3; ++tick)
        form->Timer1_Timer();
    EXPECT_EQ(text("otacky"), QString());
    EXPECT_EQ(text("rychlost"), QStringLiteral("N/A"));
    EXPECT_EQ(text("zrychlenie"), QStringLiteral("N/A"));
    EXPECT_EQ(text("priemerx"), QString());
    EXPECT_EQ(timer("Timer1")->interval(), 500);
    // No line chosen: no graph step, and the counts keep growing.
    EXPECT_TRUE(segments().empty());
    EXPECT_EQ(form->impulzycts, 4);
    EXPECT_EQ(form->krokgrafu, 0);
}

TEST_F(Form2SpeedTest, TheFirstEvaluationCountsEverythingSinceTheCountsWereCleared)
{
    pulses(comEvCTS, 6);
    form->Timer1_Timer();
    choose("CTS", "1s", "4");
    pulses(comEvCTS, 4);
    form->Timer1_Timer();
    EXPECT_EQ(text("otacky"), QStringLiteral("150,"));
}

TEST_F(Form2SpeedTest, LineAndPulsesWithoutAnIntervalStillStepTheGraph)
{
    choose("CTS", nullptr, "4");
    for (int tick = 1; tick <= 2; ++tick) {
        pulses(comEvCTS, 10);
        form->Timer1_Timer();
        EXPECT_EQ(form->impulzycts, 0);
        EXPECT_EQ(form->krokgrafu, tick);
    }
    EXPECT_EQ(text("otacky"), QString());
    EXPECT_EQ(text("rychlost"), QStringLiteral("N/A"));
    EXPECT_EQ(text("zrychlenie"), QStringLiteral("N/A"));
    EXPECT_EQ(timer("Timer1")->interval(), 500);
    EXPECT_EQ(segments().size(), 6u);
}

TEST_F(Form2SpeedTest, WithoutPulsesPerRevolutionThereIsNoSpeedInAnyLocale)
{
    for (const QLocale& locale : {QLocale(QLocale::Slovak, QLocale::Slovakia),
                                  QLocale(QLocale::English, QLocale::UnitedStates)}) {
        SCOPED_TRACE(locale.name().toStdString());
        QLocale::setDefault(locale);
        choose("CTS", "1s", nullptr);
        pulses(comEvCTS, 10);
        form->Timer1_Timer();
        EXPECT_EQ(text("otacky"), QString());
        EXPECT_EQ(text("rychlost"), QStringLiteral("N/A"));
        EXPECT_EQ(text("zrychlenie"), QStringLiteral("N/A"));
        EXPECT_EQ(text("priemerx"), QString());
        EXPECT_EQ(form->pocetotacok, 0);
        // The interval is known, so the period is kept; the period's pulses are spent.
        EXPECT_EQ(timer("Timer1")->interval(), 1000);
        EXPECT_EQ(form->impulzycts, 0);
        EXPECT_TRUE(segments().empty());
        EXPECT_EQ(form->krokgrafu, 0);
    }

    // Once chosen, the next period is evaluated as usual.
    QLocale::setDefault(QLocale(QLocale::Slovak, QLocale::Slovakia));
    choose(nullptr, nullptr, "4");
    pulses(comEvCTS, 10);
    form->Timer1_Timer();
    EXPECT_EQ(text("otacky"), QStringLiteral("150,"));
    EXPECT_EQ(segments().size(), 3u);
}

TEST_F(Form2SpeedTest, HugeCountsNeitherOverflowNorShowInfinity)
{
    choose("CTS", "1s", "1");
    form->impulzycts = std::int64_t{1} << 40; // about 6.6e13 min^-1
    form->Timer1_Timer();
    const QString expected = QStringLiteral("65970697666560");
    EXPECT_EQ(text("otacky"), expected + u',');
    EXPECT_EQ(text("priemerx"), expected);
    EXPECT_EQ(form->sucetotacok, 65970697666560);
    for (const char* name : {"otacky", "rychlost", "zrychlenie", "priemerx"}) {
        EXPECT_FALSE(text(name).contains(u"Inf")) << name;
        EXPECT_FALSE(text(name).contains(u"NaN")) << name;
    }
}

TEST_F(Form2SpeedTest, DsrAsTheSpeedInputKeepsTheDsrTraceOnItsZeroLine)
{
    choose("DSR", "1s", "1");
    pulses(comEvDSR, 5);
    form->Timer1_Timer();
    EXPECT_EQ(text("otacky"), QStringLiteral("300,"));
    ASSERT_EQ(segments().size(), 3u);
    EXPECT_EQ(segments()[2].to, QPointF(100, 1400));

    pick("vstup", "CTS");
    pulses(comEvDSR, 5);
    form->Timer1_Timer();
    ASSERT_EQ(segments().size(), 6u);
    EXPECT_EQ(segments()[5].to, QPointF(200, 1250));
}

TEST_F(Form2SpeedTest, FirstGraphStepRunsFromTheCorner)
{
    choose("CTS", "1s", "4");
    pulses(comEvCTS, 10);
    form->Timer1_Timer();
    const std::vector<Segment> expected = {
        {{0, 0}, {100, 1325}, syscolour::windowText},
        {{0, 0}, {100, 1400}, syscolour::buttonFace},
        {{0, 0}, {100, 1400}, 302},
    };
    EXPECT_EQ(segments(), expected);
    EXPECT_EQ(form->impulzycts + form->impulzycd + form->impulzydsr, 0);
}

TEST_F(Form2SpeedTest, GraphPageClearsAfterStep42AndKeepsTheReferenceLine)
{
    choose("CD", "1s", "1");
    for (int step = 1; step <= 41; ++step)
        form->Timer1_Timer();
    EXPECT_EQ(form->krokgrafu, 41);
    EXPECT_EQ(segments().size(), 41u * 3);
    EXPECT_EQ(segments().back().to, QPointF(4100, 1400));

    form->Timer1_Timer();
    EXPECT_EQ(form->krokgrafu, 0);
    EXPECT_TRUE(segments().empty());
    EXPECT_NE(picture("graf")->findChild<LineElement*>("Line2"), nullptr);

    pulses(comEvCD, 47);
    form->Timer1_Timer();
    ASSERT_EQ(segments().size(), 3u);
    EXPECT_EQ(segments()[1], (Segment{{0, 0}, {100, -10}, syscolour::buttonFace}));
    EXPECT_EQ(segments()[0], (Segment{{0, 0}, {100, 1400}, syscolour::windowText}));
}

TEST_F(Form2SpeedTest, ReopeningStartsTheReadoutsAfreshButKeepsTheAverageAndGraph)
{
    choose("CTS", "1s", "4");
    pulses(comEvCTS, 10);
    form->Timer1_Timer();
    EXPECT_DOUBLE_EQ(form->podielpredtym, 15.7);

    closeWindow();
    form->show(&area);
    stopTimers();
    EXPECT_EQ(timer("Timer1")->interval(), 500);
    for (const char* name : {"otacky", "rychlost", "zrychlenie", "priemerx"})
        EXPECT_EQ(text(name), QString()) << name;
    EXPECT_TRUE(segments().empty());

    openPort();
    choose("CTS", "1s", "4");
    pulses(comEvCTS, 6);
    form->Timer1_Timer();
    EXPECT_EQ(text("otacky"), QStringLiteral("90,"));
    EXPECT_EQ(text("priemerx"), QStringLiteral("120"));
    EXPECT_EQ(text("zrychlenie"), QStringLiteral("-6,28"));
    EXPECT_EQ(form->pocetotacok, 2);
    // The graph carries on at step 2 from its previous point.
    ASSERT_EQ(segments().size(), 3u);
    EXPECT_EQ(segments()[0], (Segment{{100, 1325}, {200, 1355}, syscolour::windowText}));
}

TEST_F(Form2SpeedTest, DisplacementAccelerationEveryFiveSeconds)
{
    pick("vstupposuvu", "DSR");
    struct Tick {
        int pulses;
        bool zero; // zero the displacement before the tick
        const char* zrych;
    };
    const Tick ticks[] = {
        {3, false, "0,12"}, {1, false, "-0,08"}, {1, false, "0"}, {95, false, "3,76"},
        {0, false, "-3,8"}, {0, true, "-4"},     {0, false, "4"}, {0, false, "0"},
    };
    for (const Tick& t : ticks) {
        pulses(comEvDSR, t.pulses);
        if (t.zero)
            control<QPushButton>(client(), "nulovanieposuvu")->click();
        form->Timer2_Timer();
        EXPECT_EQ(text("zrych"), QString::fromUtf8(t.zrych)) << t.pulses << " " << t.zrych;
    }
}

TEST_F(Form2SpeedTest, DisplacementAccelerationInADecimalPointLocale)
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    pick("vstupposuvu", "CTS");
    pulses(comEvCTS, 3);
    form->Timer2_Timer();
    EXPECT_EQ(text("zrych"), QStringLiteral("0.12"));
    pulse(comEvCTS);
    form->Timer2_Timer();
    EXPECT_EQ(text("zrych"), QStringLiteral("-0.08"));
}

TEST_F(Form2SpeedTest, FrequencyEverySecondStartingEmpty)
{
    form->Timer3_Timer();
    EXPECT_EQ(text("f"), QString());
    form->Timer3_Timer();
    EXPECT_EQ(text("f"), QStringLiteral("0"));

    pick("vstupfrekv", "CD");
    pulses(comEvCD, 50);
    pulses(comEvCTS, 7);
    form->Timer3_Timer();
    EXPECT_EQ(text("f"), QStringLiteral("50"));
    form->Timer3_Timer();
    EXPECT_EQ(text("f"), QStringLiteral("0"));
}

TEST_F(Form2SpeedTest, FirstFrequencyPulseBeforeTheFirstTickShowsItsCount)
{
    pick("vstupfrekv", "CTS");
    pulse(comEvCTS);
    form->Timer3_Timer();
    EXPECT_EQ(text("f"), QStringLiteral("1"));
}

} // namespace
} // namespace diagnostika::test
