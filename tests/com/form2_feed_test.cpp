// The serial window's feed: edges as the handler received them, one reading per evaluation with the
// readouts as shown, and its settings at opening and at each change.
#include "common/numbertext.h"
#include "form2fixture.h"

namespace diagnostika::test {
namespace {

class Form2FeedTest : public Form2Test {
protected:
    void SetUp() override
    {
        Form2Test::SetUp();
        for (const char* name : {"Timer1", "Timer2", "Timer3"})
            timer(name)->stop();
        Feed* feed = form->feed();
        QObject::connect(feed, &Feed::edge, feed,
                         [this](const LineEvent& event) { edges.push_back(event); });
        QObject::connect(feed, &Feed::reading, feed,
                         [this](const FeedReading& reading) { readings.push_back(reading); });
        QObject::connect(feed, &Feed::settingsChanged, feed,
                         [this](const FeedSettings& settings) { told.push_back(settings); });
    }

    static QString setting(const FeedSettings& settings, const char* name)
    {
        for (const FeedSetting& s : settings) {
            if (QLatin1StringView(s.name) == QLatin1StringView(name))
                return s.value;
        }
        return QStringLiteral("<missing>");
    }
    static std::optional<double> value(const FeedReading& reading, const char* name)
    {
        for (const FeedValue& v : reading.values) {
            if (QLatin1StringView(v.name) == QLatin1StringView(name))
                return v.value;
        }
        ADD_FAILURE() << name;
        return std::nullopt;
    }

    std::vector<LineEvent> edges;
    std::vector<FeedReading> readings;
    std::vector<FeedSettings> told;
};

TEST_F(Form2FeedTest, PublishesEdgesReadingsAsShownAndSettings)
{
    openPort();
    ASSERT_FALSE(told.empty());
    EXPECT_EQ(setting(told.back(), "port"), u"COM1");
    EXPECT_EQ(setting(told.back(), "device"), u"/dev/ttyS0");
    EXPECT_EQ(setting(told.back(), "captureMode"), u"counted");
    pick("vstup", QStringLiteral("CTS"));
    pick("interval", QStringLiteral("1s"));
    pick("snimace", QStringLiteral("4"));
    EXPECT_EQ(setting(told.back(), "snimace"), u"4");
    const std::size_t toldBefore = told.size();
    pick("snimace", QStringLiteral("4"));
    EXPECT_EQ(told.size(), toldBefore) << "an unchanged setting is not told again";

    pulses(comEvCTS, 3);
    pulse(comEvDSR, 40, 45);
    ASSERT_EQ(edges.size(), 8u);
    EXPECT_EQ(edges[6].commEvent, comEvDSR);
    EXPECT_TRUE(edges[6].level);
    EXPECT_EQ(edges[7].stampMs, 45);

    form->Timer1_Timer();
    form->Timer3_Timer();
    ASSERT_EQ(readings.size(), 2u);
    EXPECT_STREQ(readings[0].event, "Timer1");
    // 3 pulses in 1 s at 4 per revolution: 45 min^-1, shown as "45,".
    EXPECT_EQ(text("otacky"), u"45,");
    EXPECT_EQ(value(readings[0], "otacky"), 45.0);
    EXPECT_EQ(value(readings[0], "rychlost"), readNumber(text("rychlost"), QLocale()));
    EXPECT_EQ(value(readings[0], "impulzycts"), 3.0);
    EXPECT_EQ(value(readings[0], "impulzydsr"), 1.0);
    EXPECT_EQ(value(readings[1], "impulzycts"), 0.0) << "Timer1 ended the period";
    EXPECT_EQ(value(readings[1], "f"), std::nullopt) << "no frequency input picked";

    closeWindow();
    EXPECT_FALSE(form->feed()->isOpen());
}

} // namespace
} // namespace diagnostika::test
