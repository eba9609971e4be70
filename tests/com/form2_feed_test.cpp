// The serial window's feed beyond what the recording tests read from it: the settings are told at
// opening and then only when they change, and a reading is built only while someone listens.
#include "form2fixture.h"

namespace diagnostika::test {
namespace {

TEST_F(Form2Test, FeedTellsSettingsOnlyWhenTheyChange)
{
    Feed* feed = form->feed();
    std::vector<FeedSettings> told;
    QObject::connect(feed, &Feed::settingsChanged, feed,
                     [&told](const FeedSettings& s) { told.push_back(s); });
    EXPECT_FALSE(feed->readingHeard());
    openPort();
    ASSERT_EQ(told.size(), 1u);
    const auto value = [&told](const char* name) {
        for (const FeedSetting& s : told.back()) {
            if (QLatin1StringView(s.name) == QLatin1StringView(name))
                return s.value;
        }
        return QStringLiteral("<missing>");
    };
    EXPECT_EQ(value("port"), u"COM1");
    EXPECT_EQ(value("captureMode"), u"counted");
    pick("snimace", QStringLiteral("4"));
    pick("snimace", QStringLiteral("4"));
    ASSERT_EQ(told.size(), 2u) << "an unchanged setting is not told again";
    EXPECT_EQ(value("snimace"), u"4");

    // Opening again tells the fresh window's settings at once.
    closeWindow();
    form->show(&area);
    EXPECT_EQ(told.size(), 3u);
    EXPECT_EQ(value("port"), u"") << "a fresh window has no port open";
}

} // namespace
} // namespace diagnostika::test
