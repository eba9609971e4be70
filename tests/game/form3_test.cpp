#include "common/picturebox.h"
#include "common/twips.h"
#include "game/form3.h"
#include "support/fakejoystick.h"
#include "support/widgets.h"

#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace diagnostika;
using diagnostika::test::control;

namespace {

class Form3Test : public ::testing::Test {
protected:
    QMdiArea area;
    test::FakeJoystick joystick;
    Form3 form{joystick};

    void SetUp() override
    {
        area.resize(470, 362);
        form.show(&area);
    }
    QWidget* client() const { return form.client(); }
    PictureBox* picture() const { return control<PictureBox>(client(), "Picture1"); }
    QString text(const char* name) const { return control<QLabel>(client(), name)->text(); }
    std::vector<Segment> lastSegments(std::size_t n) const
    {
        const auto& all = picture()->segments();
        return {all.end() - static_cast<std::ptrdiff_t>(std::min(n, all.size())), all.end()};
    }
};

TEST_F(Form3Test, OpensAsDescribed)
{
    EXPECT_EQ(form.window()->windowTitle(), QStringLiteral("Meranie cez Game port "));
    EXPECT_EQ(client()->size(), QSize(233, 193));
    EXPECT_FALSE(form.window()->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(form.window()->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(text("Label1"), QStringLiteral("Joystick A1:"));
    EXPECT_EQ(text("Label2"), QStringLiteral("JoystickA2:"));
    EXPECT_EQ(text("Label3"), QStringLiteral("JoystickB1:"));
    EXPECT_EQ(text("joy1"), QString());
    EXPECT_EQ(control<QLabel>(client(), "joy1")->palette().color(QPalette::Window),
              QColor(255, 255, 0));
    EXPECT_EQ(text("Label4"), QStringLiteral("500 ms"));
    EXPECT_EQ(picture()->backColour(), 0x00008080u);
    auto* line2 = control<LineElement>(client(), "Line2");
    EXPECT_EQ(line2->from(), QPointF(0, 480));
    EXPECT_EQ(line2->to(), QPointF(3360, 480));
    auto* scroll = control<QScrollBar>(client(), "VScroll1");
    EXPECT_EQ(scroll->value(), 500);
    EXPECT_EQ(scroll->minimum(), 10);
    EXPECT_EQ(scroll->maximum(), 1000);
    auto* timer = control<QTimer>(client(), "Timer1");
    EXPECT_EQ(timer->interval(), 1000);
    EXPECT_TRUE(timer->isActive());
}

TEST_F(Form3Test, TickShowsReadingsAndDrawsThreeTraces)
{
    joystick.position = JoyInfo{32767, 23040, 65535, 0};
    form.Timer1_Timer();
    EXPECT_EQ(form.krok, 1);
    EXPECT_EQ(text("joy1"), QStringLiteral("32767"));
    EXPECT_EQ(text("joy2"), QStringLiteral("23040"));
    EXPECT_EQ(text("joy3"), QStringLiteral("65535"));
    const auto first = lastSegments(3);
    ASSERT_EQ(first.size(), 3u);
    EXPECT_EQ(first[0].from, QPointF(0, 0));
    EXPECT_EQ(first[0].to, QPointF(10, static_cast<float>(32767 / 48.0))); // 682.6 twips
    EXPECT_NEAR(first[0].to.y(), 682.6, 0.05);
    EXPECT_EQ(first[0].colour, 0x00000FFFu);
    EXPECT_EQ(first[1].to, QPointF(10, 480)); // on the reference line
    EXPECT_EQ(first[1].colour, 0x00000256u);
    EXPECT_EQ(first[2].colour, 0x00000000u);

    joystick.position = JoyInfo{0, 0, 0, 0};
    form.Timer1_Timer();
    const auto second = lastSegments(3);
    EXPECT_EQ(second[0].from, first[0].to);
    EXPECT_EQ(second[0].to, QPointF(20, 0));
}

TEST_F(Form3Test, FailedQueryKeepsTheLastReading)
{
    form.Timer1_Timer(); // nothing attached yet: zeros, along the top edge
    EXPECT_EQ(text("joy1"), QStringLiteral("0"));
    EXPECT_EQ(lastSegments(3)[2].to, QPointF(10, 0));

    joystick.position = JoyInfo{100, 200, 300, 1};
    form.Timer1_Timer();
    joystick.position.reset(); // unplugged
    form.Timer1_Timer();
    EXPECT_EQ(text("joy3"), QStringLiteral("300"));
    EXPECT_EQ(form.joypos, (JoyInfo{100, 200, 300, 1}));
}

TEST_F(Form3Test, WithoutAJoystickTheTraceSaysWhyUntilOneAppears)
{
    auto* notice = control<QLabel>(client(), "stavjoysticku");
    EXPECT_TRUE(notice->isHidden());
    form.Timer1_Timer();
    EXPECT_TRUE(notice->isVisibleTo(client()));
    EXPECT_EQ(notice->text(), QStringLiteral("unplugged")); // the backend's reason
    joystick.error.clear();
    form.Timer1_Timer();
    EXPECT_EQ(notice->text(), QStringLiteral("Joystick 1 nie je pripojený."));
    joystick.position = JoyInfo{1, 2, 3, 0};
    form.Timer1_Timer();
    EXPECT_TRUE(notice->isHidden());
}

// While the notice shows, what is drawn still shows: the zeros of a joystick never seen along the
// top edge, and the traces a centred stick goes on drawing once unplugged, with Line2 and Label4.
TEST_F(Form3Test, TheNoticeHidesNeitherTheTracesOfAMissingJoystickNorTheControls)
{
    auto* notice = control<QLabel>(client(), "stavjoysticku");
    const QRect inner = picture()->contentsRect();
    const auto hidesRow = [&](double twips) {
        // A one-pixel line, anti-aliased over the rows on either side.
        const double row = inner.top() + twipPoint(0, twips).y();
        return row + 1 >= notice->geometry().top() && row - 1 <= notice->geometry().bottom();
    };

    form.Timer1_Timer(); // never seen: zeros
    ASSERT_TRUE(notice->isVisibleTo(client()));
    EXPECT_FALSE(hidesRow(lastSegments(1)[0].to.y()));
    joystick.position = JoyInfo{32767, 32768, 32767, 0};
    form.Timer1_Timer();
    joystick.position.reset(); // unplugged
    form.Timer1_Timer();
    ASSERT_TRUE(notice->isVisibleTo(client()));
    for (const Segment& s : lastSegments(3))
        EXPECT_FALSE(hidesRow(s.to.y())) << s.to.y();
    EXPECT_FALSE(hidesRow(control<LineElement>(client(), "Line2")->from().y()));
    EXPECT_FALSE(notice->geometry().intersects(control<QLabel>(client(), "Label4")->geometry()));
    EXPECT_TRUE(inner.contains(notice->geometry()));
}

TEST_F(Form3Test, ClosingStopsSamplingAtOnceAndLetsGoOfTheJoystick)
{
    joystick.position = JoyInfo{1, 2, 3, 0};
    form.Timer1_Timer();
    QTimer* timer = control<QTimer>(client(), "Timer1");
    form.close(); // the window itself goes only later
    EXPECT_FALSE(timer->isActive());
    form.Timer1_Timer(); // a tick before the window is gone takes no sample
    EXPECT_EQ(form.krok, 1);
    EXPECT_EQ(joystick.queries, 1);
    EXPECT_EQ(joystick.releases, 1);

    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    form.show(&area);
    form.Timer1_Timer(); // the first sample after reopening asks for the joystick again
    EXPECT_EQ(joystick.queries, 2);
    EXPECT_EQ(form.krok, 2);
}

TEST_F(Form3Test, SweepWrapsAfter320Ticks)
{
    joystick.position = JoyInfo{4800, 4800, 4800, 0};
    for (int i = 0; i < 319; ++i)
        form.Timer1_Timer();
    EXPECT_EQ(form.krok, 319);
    EXPECT_EQ(lastSegments(1)[0].to, QPointF(3190, 100));
    form.Timer1_Timer(); // the 320th draws to x = 3200, then clears
    EXPECT_EQ(form.krok, 0);
    EXPECT_TRUE(picture()->segments().empty());
    EXPECT_EQ(form.xjoy2, 0);
    EXPECT_EQ(form.yjoy3, 0.0);
    EXPECT_EQ(text("joy1"), QStringLiteral("4800"));
    form.Timer1_Timer(); // the 321st starts again from the corner
    const auto next = lastSegments(3);
    ASSERT_EQ(picture()->segments().size(), 3u);
    for (const Segment& s : next) {
        EXPECT_EQ(s.from, QPointF(0, 0));
        EXPECT_EQ(s.to, QPointF(10, 100));
    }
}

TEST_F(Form3Test, ScrollBarSetsThePeriod)
{
    auto* scroll = control<QScrollBar>(client(), "VScroll1");
    auto* timer = control<QTimer>(client(), "Timer1");
    scroll->setValue(200);
    EXPECT_EQ(timer->interval(), 200);
    EXPECT_EQ(text("Label4"), QStringLiteral("200 ms"));
    // The user's arrow click moves it by one step and the change applies at once.
    QTest::mouseClick(scroll, Qt::LeftButton, {}, QPoint(scroll->width() / 2, 3));
    EXPECT_EQ(timer->interval(), 190);
    EXPECT_EQ(text("Label4"), QStringLiteral("190 ms"));
    // Dragging reports nothing until release.
    scroll->setSliderDown(true);
    scroll->setSliderPosition(700);
    EXPECT_EQ(timer->interval(), 190);
    scroll->setSliderDown(false);
    EXPECT_EQ(timer->interval(), 700);
    // The ends keep the period positive.
    scroll->setValue(0);
    EXPECT_EQ(timer->interval(), 10);
}

TEST_F(Form3Test, ReopeningBuildsFreshControlsAndContinuesTheSweep)
{
    joystick.position = JoyInfo{960, 960, 960, 0};
    for (int i = 0; i < 150; ++i)
        form.Timer1_Timer();
    control<QScrollBar>(client(), "VScroll1")->setValue(50);
    QPointer<QWidget> oldClient = client();

    form.close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(form.isOpen());
    EXPECT_TRUE(oldClient.isNull()); // controls and timer are gone with the window
    form.Timer1_Timer();             // a stray tick after closing changes nothing
    EXPECT_EQ(form.krok, 150);

    form.show(&area);
    EXPECT_TRUE(picture()->segments().empty());
    EXPECT_EQ(control<QTimer>(client(), "Timer1")->interval(), 1000);
    EXPECT_EQ(text("Label4"), QStringLiteral("500 ms"));
    EXPECT_EQ(control<QScrollBar>(client(), "VScroll1")->value(), 500);
    EXPECT_EQ(text("joy1"), QString());

    joystick.position = JoyInfo{0, 0, 0, 0};
    form.Timer1_Timer();
    const auto s = lastSegments(3);
    EXPECT_EQ(s[0].from, QPointF(1500, 20));
    EXPECT_EQ(s[0].to, QPointF(1510, 0));
}

} // namespace
