#include "common/messages.h"
#include "common/picturebox.h"
#include "common/twips.h"
#include "lpt/form1.h"
#include "support/fakeportio.h"
#include "support/widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QRadioButton>
#include <QScrollBar>
#include <QTimer>
#include <gtest/gtest.h>

namespace diagnostika {
namespace {

using test::control;
using test::FakePortIo;

struct Codes {
    std::uint8_t first, second;
};
constexpr Codes zeroVolts{0, 0}, halfScale{255, 0}, fullScale{255, 255};

class Form1Test : public testing::Test {
protected:
    void SetUp() override
    {
        QLocale::setDefault(QLocale(QLocale::Slovak, QLocale::Slovakia));
        previousPresenter_ =
            setInformationPresenter([this](QWidget*, const QString&, const QString& text,
                                           const QString&) { boxes.push_back(text); });
        area.resize(800, 600);
        form.show(&area);
    }

    void TearDown() override
    {
        form.close();
        setInformationPresenter(previousPresenter_);
        QLocale::setDefault(QLocale::c());
    }

    template <typename T> T* find(const char* name) { return control<T>(form.client(), name); }
    QString text(const char* label) { return find<QLabel>(label)->text(); }

    // Picks a list entry as the user does: the selection changes, then the list reports the pick.
    void pick(const char* list, const QString& entry)
    {
        auto* combo = find<QComboBox>(list);
        const int index = combo->findText(entry);
        ASSERT_GE(index, 0) << entry.toStdString();
        combo->setCurrentIndex(index);
        Q_EMIT combo->activated(index);
    }

    void tick(Codes codes)
    {
        io.scriptResults(codes.first, codes.second);
        form.Timer1_Timer();
    }

    const std::vector<Segment>& segments() { return find<PictureBox>("Picture1")->segments(); }

    FakePortIo io;
    QMdiArea area;
    Form1 form{io};
    std::vector<QString> boxes;

private:
    InformationPresenter previousPresenter_;
};

TEST_F(Form1Test, OpensWithItsControlsInTheirInitialState)
{
    EXPECT_EQ(form.window()->windowTitle(),
              QStringLiteral("Meranie cez paralelný port (TLC549, 8bit ADC)"));
    EXPECT_EQ(form.client()->size(), twipSize(6630, 3255));

    EXPECT_EQ(find<QComboBox>("port")->currentText(), QString());
    EXPECT_EQ(find<QComboBox>("volba")->currentText(), QString());
    const auto entries = [](QComboBox* combo) {
        QStringList items;
        for (int i = 0; i < combo->count(); ++i)
            items << combo->itemText(i);
        return items;
    };
    EXPECT_EQ(entries(find<QComboBox>("port")), (QStringList{"LPT1", "LPT2"}));
    EXPECT_EQ(entries(find<QComboBox>("volba")),
              (QStringList{QStringLiteral("TeplotaD"), QStringLiteral("TeplotaR"),
                           QStringLiteral("Napätie"), QStringLiteral("Prúd"),
                           QStringLiteral("Pootočenie")}));

    EXPECT_EQ(text("takt"), QStringLiteral("750"));
    EXPECT_EQ(find<QScrollBar>("takttimera")->value(), 750);
    EXPECT_EQ(find<QScrollBar>("takttimera")->minimum(), 10) << "the period is never 0";
    EXPECT_EQ(find<QScrollBar>("takttimera")->maximum(), 1000);
    EXPECT_EQ(find<QTimer>("Timer1")->interval(), 750);
    EXPECT_TRUE(find<QTimer>("Timer1")->isActive());

    EXPECT_TRUE(find<QRadioButton>("o360")->isChecked());
    for (const char* other : {"o45", "o180", "o290"})
        EXPECT_FALSE(find<QRadioButton>(other)->isChecked()) << other;
    EXPECT_FALSE(find<QCheckBox>("NEG")->isChecked());
    for (const char* box : {"teplotac", "napatie", "prud", "pootocenie"}) {
        SCOPED_TRACE(box);
        QLabel* label = find<QLabel>(box);
        EXPECT_EQ(label->text(), QString());
        EXPECT_EQ(label->palette().color(label->backgroundRole()), QColor(255, 255, 0));
        EXPECT_TRUE(label->font().bold());
        EXPECT_DOUBLE_EQ(label->font().pointSizeF(), 8.25);
    }
    EXPECT_FALSE(find<QLabel>("stavportu")->isVisibleTo(form.client()));
    EXPECT_EQ(io.log.size(), 0u) << "nothing is read before the first tick";
}

TEST_F(Form1Test, LaysOutTheControlsInTwips)
{
    struct Case {
        const char* name;
        const char* parent;
        int left, top, width, height;
        const char* caption;
    };
    const Case cases[] = {
        {"takttimera", "Form1", 6360, 720, 135, 1455, nullptr},
        {"Picture1", "Form1", 120, 720, 6375, 1455, nullptr},
        {"port", "Form1", 720, 2520, 975, 315, nullptr},
        {"Frame1", "Form1", 120, 0, 2055, 615, "Teplota"},
        {"Frame2", "Form1", 2280, 0, 2055, 615, "Napätie"},
        {"Frame3", "Form1", 4440, 0, 2055, 615, "Prúd"},
        {"Frame4", "Form1", 120, 2160, 3255, 975, "Nastavenie"},
        {"Frame5", "Form1", 3480, 2160, 3015, 975, "Snímanie pootočenia"},
        {"Label7", "Frame1", 1680, 240, 375, 255, "C"},
        {"teplotac", "Frame1", 840, 240, 735, 255, nullptr},
        {"Label1", "Frame1", 120, 240, 855, 255, "Teplota"},
        {"Label18", "Frame2", 1680, 240, 375, 255, "V"},
        {"napatie", "Frame2", 840, 240, 735, 255, nullptr},
        {"Label12", "Frame2", 120, 240, 855, 255, "Napätie"},
        {"Label11", "Frame3", 1680, 240, 255, 255, "A"},
        {"prud", "Frame3", 840, 240, 735, 255, nullptr},
        {"Label20", "Frame3", 120, 240, 615, 255, "Prúd"},
        {"NEG", "Frame5", 2160, 240, 735, 255, "NEG"},
        {"o45", "Frame5", 120, 600, 615, 255, "45"},
        {"o180", "Frame5", 720, 600, 615, 255, "180"},
        {"o290", "Frame5", 1440, 600, 615, 255, "290"},
        {"o360", "Frame5", 2160, 600, 615, 255, "360"},
        {"pootocenie", "Frame5", 600, 240, 735, 255, nullptr},
        {"Label4", "Frame5", 120, 240, 2175, 255, "Uhol:                    stupňov"},
        {"volba", "Frame4", 2160, 360, 975, 315, nullptr},
        {"Label6", "Frame4", 1680, 360, 495, 255, "Vst.:"},
        {"Label2", "Frame4", 120, 360, 615, 255, "Port:"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto* widget = find<QWidget>(c.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->parentWidget()->objectName(), QString::fromLatin1(c.parent));
        EXPECT_EQ(widget->geometry(), twipRect(c.left, c.top, c.width, c.height));
        if (!c.caption)
            continue;
        const QString caption = QString::fromUtf8(c.caption);
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            EXPECT_EQ(label->text(), caption);
        } else if (auto* frame = qobject_cast<QGroupBox*>(widget)) {
            EXPECT_EQ(frame->title(), caption);
        } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            EXPECT_EQ(button->text(), caption);
        }
    }
    // The angle box reads between the two words of its caption, over the 20 blanks.
    auto* angle = find<QWidget>("pootocenie");
    EXPECT_EQ(angle->parentWidget()->childAt(angle->geometry().center()), angle);
    auto* port = find<QWidget>("port");
    EXPECT_EQ(form.client()->childAt(port->geometry().center()), port)
        << "the port list lies above the settings frame";

    // The picture's scale sits inside its drawing area, with the reference line at 720 twips.
    auto* picture = find<PictureBox>("Picture1");
    EXPECT_EQ(picture->backColour(), colourValue(128, 128, 0));
    const QPoint inner = picture->contentsRect().topLeft();
    struct Scale {
        const char* name;
        const char* caption;
        int left, top;
    };
    for (const Scale& s : {Scale{"Label3", "ms", 5760, 0}, Scale{"takt", "750", 5400, 0},
                           Scale{"Label15", "2.5V", 5880, 600}, Scale{"Label10", "0V", 6000, 1200},
                           Scale{"Label8", "5V", 6000, 0}}) {
        SCOPED_TRACE(s.name);
        QLabel* label = find<QLabel>(s.name);
        EXPECT_EQ(label->parentWidget(), picture);
        EXPECT_EQ(label->text(), QString::fromLatin1(s.caption));
        EXPECT_EQ(label->pos(), twipRect(s.left, s.top, 375, 255).topLeft() + inner);
    }
    auto* line1 = control<LineElement>(picture, "Line1");
    EXPECT_EQ(line1->from(), QPointF(0, 720));
    EXPECT_EQ(line1->to(), QPointF(5880, 720));
    EXPECT_EQ(line1->colour(), colourValue(192, 192, 0));
}

TEST_F(Form1Test, ThePeriodShowsAtOnceAndTheTimerTakesItAtTheNextTick)
{
    auto* scroll = find<QScrollBar>("takttimera");
    scroll->setValue(300);
    EXPECT_EQ(text("takt"), QStringLiteral("300"));
    EXPECT_EQ(find<QTimer>("Timer1")->interval(), 750) << "the wait in progress is not shortened";
    tick(zeroVolts);
    EXPECT_EQ(find<QTimer>("Timer1")->interval(), 300);
    scroll->setValue(scroll->minimum());
    EXPECT_EQ(text("takt"), QStringLiteral("10"));
}

TEST_F(Form1Test, ATickWithAnUnchangedPeriodDoesNotRestartTheTimer)
{
    // A restart would add the handler's lateness to every period. The clock only has to move on a
    // little for a restart to show in the remaining time; the timer never fires meanwhile.
    QTimer* timer = find<QTimer>("Timer1");
    const int start = timer->remainingTime();
    while (timer->remainingTime() > start - 20) {
    }
    tick(zeroVolts);
    EXPECT_LE(timer->remainingTime(), start - 20);
}

TEST_F(Form1Test, ReadsTheConverterAtThePickedPort)
{
    tick(zeroVolts);
    EXPECT_EQ(io.log.front().address, 956) << "until LPT1 is picked";
    pick("port", "LPT1");
    io.log.clear();
    tick(zeroVolts);
    EXPECT_EQ(io.log.size(), 55u);
    EXPECT_EQ(io.log.front().address, 888);
    EXPECT_EQ(form.prevodnik.adresaportu, 888);
}

TEST_F(Form1Test, SwitchingPortsGivesTheOldOneBack)
{
    pick("port", "LPT1");
    tick(zeroVolts);
    const int before = io.releases; // picking LPT1 let go of the unpicked list's port
    pick("port", "LPT1");
    EXPECT_EQ(io.releases, before) << "the same port picked again is kept";
    pick("port", "LPT2");
    EXPECT_EQ(io.releases, before + 1);
    tick(zeroVolts);
    EXPECT_EQ(io.log.back().address, 956);
}

TEST_F(Form1Test, ShowsThePickedQuantityInItsBox)
{
    struct Case {
        const char* entry;
        Codes codes;
        const char* box;
        const char* text;
    };
    const Case cases[] = {
        {"TeplotaD", zeroVolts, "teplotac", "20,"},
        {"TeplotaD", halfScale, "teplotac", "32,8"},
        {"TeplotaD", fullScale, "teplotac", "45,6"},
        {"TeplotaR", zeroVolts, "teplotac", ""},
        {"TeplotaR", halfScale, "teplotac", "128"},
        {"TeplotaR", fullScale, "teplotac", "256"},
        {"TeplotaR", {1, 0}, "teplotac", "1"},
        {"Napätie", zeroVolts, "napatie", ","},
        {"Napätie", halfScale, "napatie", "12,8"},
        {"Napätie", fullScale, "napatie", "25,6"},
        {"Prúd", zeroVolts, "prud", ","},
        {"Prúd", halfScale, "prud", "12,8"},
        {"Prúd", fullScale, "prud", "25,6"},
        {"Pootočenie", zeroVolts, "pootocenie", ","},
        {"Pootočenie", halfScale, "pootocenie", "180,"},
        {"Pootočenie", fullScale, "pootocenie", "360,"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.entry << " " << int(c.codes.first) << "+" << int(c.codes.second));
        pick("volba", QString::fromUtf8(c.entry));
        for (const char* box : {"teplotac", "napatie", "prud", "pootocenie"})
            find<QLabel>(box)->setText(QStringLiteral("-"));
        tick(c.codes);
        for (const char* box : {"teplotac", "napatie", "prud", "pootocenie"}) {
            EXPECT_EQ(text(box), QString::fromUtf8(std::string_view(box) == c.box ? c.text : "-"))
                << box;
        }
    }
}

TEST_F(Form1Test, TheAngleFollowsTheRangeAndNeg)
{
    struct Case {
        const char* option;
        bool neg;
        Codes codes;
        const char* text;
    };
    const Case cases[] = {
        {"o45", false, zeroVolts, ","},     {"o45", false, halfScale, "22,5"},
        {"o45", false, fullScale, "45,"},   {"o45", true, zeroVolts, "45,"},
        {"o45", true, {51, 51}, "36,"},     {"o180", false, halfScale, "90,"},
        {"o180", true, fullScale, ","},     {"o290", false, halfScale, "145,"},
        {"o290", false, fullScale, "290,"}, {"o290", true, zeroVolts, "290,"},
        {"o360", false, fullScale, "360,"}, {"o360", true, zeroVolts, "360,"},
        {"o360", false, zeroVolts, ","},    {"o360", true, halfScale, "180,"},
    };
    pick("volba", QStringLiteral("Pootočenie"));
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.option << " NEG " << c.neg << " " << int(c.codes.first)
                                        << "+" << int(c.codes.second));
        find<QRadioButton>(c.option)->setChecked(true);
        find<QCheckBox>("NEG")->setChecked(c.neg);
        tick(c.codes);
        EXPECT_EQ(text("pootocenie"), QString::fromUtf8(c.text));
    }
}

TEST_F(Form1Test, NumberTextsFollowTheLocale)
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    struct Case {
        const char* entry;
        Codes codes;
        const char* box;
        const char* text;
    };
    for (const Case& c : {Case{"TeplotaD", halfScale, "teplotac", "32.8"},
                          Case{"TeplotaD", zeroVolts, "teplotac", "20."},
                          Case{"Napätie", zeroVolts, "napatie", "."},
                          Case{"TeplotaR", halfScale, "teplotac", "128"},
                          Case{"Pootočenie", fullScale, "pootocenie", "360."}}) {
        SCOPED_TRACE(c.entry);
        pick("volba", QString::fromUtf8(c.entry));
        tick(c.codes);
        EXPECT_EQ(text(c.box), QString::fromLatin1(c.text));
    }
}

TEST_F(Form1Test, NothingPickedDrawsTheTraceButWritesNoBox)
{
    tick(halfScale);
    for (const char* box : {"teplotac", "napatie", "prud", "pootocenie"})
        EXPECT_EQ(text(box), QString()) << box;
    ASSERT_EQ(segments().size(), 1u);
    EXPECT_EQ(segments()[0], (Segment{{0, 0}, {10, 700}, colourValue(0, 0, 0)}));
    EXPECT_DOUBLE_EQ(form.napatieuhla, 2.5) << "computed on every tick";
}

TEST_F(Form1Test, SwitchingTheQuantityLeavesTheOldBoxStanding)
{
    pick("volba", QStringLiteral("Napätie"));
    tick(halfScale);
    pick("volba", QStringLiteral("Prúd"));
    tick(fullScale);
    EXPECT_EQ(text("napatie"), QStringLiteral("12,8"));
    EXPECT_EQ(text("prud"), QStringLiteral("25,6"));
}

TEST_F(Form1Test, TheTraceWrapsAfter590Steps)
{
    for (int i = 1; i <= 589; ++i)
        tick(i % 2 ? fullScale : zeroVolts);
    ASSERT_EQ(segments().size(), 589u);
    EXPECT_EQ(segments()[1], (Segment{{10, 0}, {20, 1400}, 0}));
    EXPECT_EQ(segments().back().to, QPointF(5890, 0));
    EXPECT_EQ(form.krok, 589);

    pick("volba", QStringLiteral("Napätie"));
    form.krok = 589; // the pick above restarted the count; carry on to the wrap
    tick(halfScale);
    EXPECT_TRUE(segments().empty()) << "the 590th segment is drawn and cleared in the same tick";
    EXPECT_EQ(form.krok, 0);
    EXPECT_EQ(text("napatie"), QStringLiteral("12,8")) << "the wrapping tick still shows its value";
    EXPECT_EQ(form.xgrafu, 0);
    EXPECT_EQ(form.ygrafu, 0);
    EXPECT_EQ(control<LineElement>(form.client(), "Line1")->from(), QPointF(0, 720))
        << "the reference line stays";

    tick(fullScale);
    ASSERT_EQ(segments().size(), 1u);
    EXPECT_EQ(segments()[0], (Segment{{0, 0}, {10, 0}, 0}));
}

TEST_F(Form1Test, PickingAnEntryRestartsTheTraceWithoutClearing)
{
    for (int i = 0; i < 10; ++i)
        tick(zeroVolts);
    pick("volba", QStringLiteral("TeplotaD"));
    EXPECT_EQ(form.krok, 1);
    tick(fullScale);
    ASSERT_EQ(segments().size(), 11u);
    EXPECT_EQ(segments().back(), (Segment{{100, 1400}, {20, 0}, 0}));
}

TEST_F(Form1Test, ReopeningStartsFreshControlsAndContinuesTheTrace)
{
    pick("port", "LPT1");
    pick("volba", QStringLiteral("TeplotaD"));
    find<QCheckBox>("NEG")->setChecked(true);
    find<QRadioButton>("o45")->setChecked(true);
    find<QScrollBar>("takttimera")->setValue(200);
    for (int i = 0; i < 5; ++i)
        tick(halfScale);
    ASSERT_EQ(form.krok, 6); // 1 from the pick, then five ticks

    const int releases = io.releases;
    form.close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // as the event loop would
    EXPECT_FALSE(form.isOpen());
    EXPECT_EQ(io.releases, releases + 1) << "closing lets go of the port";
    form.Timer1_Timer(); // a tick that arrives late finds no controls and does nothing
    EXPECT_EQ(form.krok, 6);
    EXPECT_EQ(io.releases, releases + 1);

    form.show(&area);
    EXPECT_EQ(find<QComboBox>("port")->currentText(), QString());
    EXPECT_EQ(find<QComboBox>("volba")->currentText(), QString());
    EXPECT_EQ(find<QComboBox>("volba")->count(), 5);
    EXPECT_EQ(text("takt"), QStringLiteral("750"));
    EXPECT_EQ(find<QTimer>("Timer1")->interval(), 750);
    EXPECT_FALSE(find<QCheckBox>("NEG")->isChecked());
    EXPECT_TRUE(find<QRadioButton>("o360")->isChecked());
    EXPECT_EQ(text("teplotac"), QString());
    EXPECT_TRUE(segments().empty());

    tick(fullScale);
    ASSERT_EQ(segments().size(), 1u);
    EXPECT_EQ(segments()[0], (Segment{{60, 700}, {70, 0}, 0})) << "from the last point drawn";
}

TEST_F(Form1Test, AnUnavailablePortPausesAndRecoversByItself)
{
    pick("volba", QStringLiteral("Napätie"));
    tick(halfScale);
    ASSERT_EQ(text("napatie"), QStringLiteral("12,8"));
    auto* status = find<QLabel>("stavportu");

    io.failure = "/dev/parport1: Permission denied";
    io.failFrom = io.log.size() + 7;
    for (int i = 0; i < 3; ++i) {
        tick(fullScale);
        io.failFrom = io.log.size();
    }
    EXPECT_TRUE(status->isVisibleTo(form.client()));
    EXPECT_TRUE(status->text().contains(QStringLiteral("LPT2"))) << status->text().toStdString();
    EXPECT_TRUE(status->text().contains(QStringLiteral("956")));
    EXPECT_TRUE(status->text().contains(QStringLiteral("/dev/parport1: Permission denied")));
    EXPECT_EQ(form.portProblem(), status->text());
    EXPECT_TRUE(boxes.empty()) << "no message box per tick";
    EXPECT_EQ(text("napatie"), QStringLiteral("12,8")) << "the box keeps its text";
    EXPECT_EQ(segments().size(), 1u) << "the trace pauses";
    EXPECT_EQ(form.krok, 2) << "1 from the pick, 2 from the one good tick";
    EXPECT_EQ(find<QTimer>("Timer1")->interval(), 750) << "the ticks go on, to try again";

    io.failFrom.reset();
    io.script.clear();
    tick(fullScale);
    EXPECT_FALSE(status->isVisibleTo(form.client()));
    EXPECT_EQ(form.portProblem(), QString());
    EXPECT_EQ(text("napatie"), QStringLiteral("25,6"));
    ASSERT_EQ(segments().size(), 2u);
    EXPECT_EQ(segments()[1], (Segment{{20, 700}, {30, 0}, 0})) << "on from where it paused";
}

TEST_F(Form1Test, PickingAWorkingPortRecovers)
{
    io.unavailable = {956, 957};
    pick("volba", QStringLiteral("TeplotaR"));
    tick(halfScale);
    EXPECT_TRUE(find<QLabel>("stavportu")->isVisibleTo(form.client()));
    EXPECT_EQ(text("teplotac"), QString());

    pick("port", "LPT1");
    io.script.clear();
    tick(halfScale);
    EXPECT_FALSE(find<QLabel>("stavportu")->isVisibleTo(form.client()));
    EXPECT_EQ(text("teplotac"), QStringLiteral("128"));

    pick("port", "LPT2");
    tick(halfScale);
    EXPECT_TRUE(find<QLabel>("stavportu")->text().contains(QStringLiteral("LPT2")));
}

} // namespace
} // namespace diagnostika
