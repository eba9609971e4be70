// The serial window as built, and opening its port.
#include "common/twips.h"
#include "form2fixture.h"

#include <QApplication>
#include <QGroupBox>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QWheelEvent>

namespace diagnostika::test {
namespace {

using Kind = SerialError::Kind;

TEST_F(Form2Test, CaptionsKeepTheirBlanks)
{
    EXPECT_EQ(form->window()->windowTitle(),
              QStringLiteral("Meranie cez sériový port, handshaking"));
    EXPECT_EQ(client()->size(), twipSize(7575, 4350));

    const std::pair<const char*, const char*> captions[] = {
        {"Label4", "Výsledok, n ="},   {"Label10", "Rýchlosť, v = "}, {"Label6", "Zrýchl,     a ="},
        {"Label35", "Priemer,   n ="}, {"Label3", "Inteval:"},        {"Label24", "  180"},
        {"Label34", "m.s^(-2)"},       {"Label26", "Značka"},         {"Label19", "stupňov"},
    };
    for (const auto& [name, caption] : captions)
        EXPECT_EQ(text(name), QString::fromUtf8(caption)) << name;

    const std::pair<const char*, const char*> frames[] = {
        {"Frame1", "Otáčky"},         {"Frame2", "Uhol pootočenia"},
        {"Frame3", "Meranie posuvu"}, {"Frame4", "Časový interval"},
        {"Frame5", "Frekvencia U"},   {"Frame6", "Nastavenie portu (CTS, CD, DSR)"},
    };
    for (const auto& [name, caption] : frames)
        EXPECT_EQ(control<QGroupBox>(client(), name)->title(), QString::fromUtf8(caption)) << name;

    EXPECT_EQ(control<QPushButton>(client(), "nulovanieposuvu")->text(),
              QStringLiteral("N&ulovanie"));
    EXPECT_EQ(control<QPushButton>(client(), "nulovanieuhla")->text(),
              QStringLiteral("&Nulovanie"));
}

TEST_F(Form2Test, StartsEmptyClosedAndUnselected)
{
    const std::pair<const char*, QStringList> lists[] = {
        {"port", {"COM1", "COM2", "COM3"}},   {"interval", {"1s", "10s", "1min"}},
        {"vstup", {"CD", "DSR", "CTS"}},      {"vstupposuvu", {"CD", "DSR", "CTS"}},
        {"vstupuhla", {"CD", "DSR", "CTS"}},  {"vstupintervalu", {"CD", "DSR", "CTS"}},
        {"vstupfrekv", {"CD", "DSR", "CTS"}}, {"snimace", {"1", "4", "6", "8"}},
    };
    for (const auto& [name, items] : lists) {
        QComboBox* l = list(name);
        QStringList actual;
        for (int i = 0; i < l->count(); ++i)
            actual << l->itemText(i);
        EXPECT_EQ(actual, items) << name;
        EXPECT_EQ(l->currentText(), QString()) << name;
        EXPECT_FALSE(l->isEditable()) << name;
    }

    for (const char* name : {"otacky", "rychlost", "zrychlenie", "priemerx", "posuvx", "zrych",
                             "pootocenie", "trvanie", "f"}) {
        EXPECT_EQ(text(name), QString()) << name;
        EXPECT_EQ(label(name)->palette().color(label(name)->backgroundRole()), QColor(255, 255, 0))
            << name;
    }
    EXPECT_EQ(entry("znacka")->text(), QStringLiteral("10"));
    EXPECT_EQ(entry("znackau")->text(), QStringLiteral("2"));
    EXPECT_EQ(entry("priemerobj")->text(), QStringLiteral("10"));

    for (const char* name : {"CTSx", "CDx", "DSRx"})
        EXPECT_EQ(picture(name)->backColour(), colourValue(64, 64, 64)) << name;
    EXPECT_EQ(picture("graf")->backColour(), colourValue(128, 128, 0));
    EXPECT_EQ(knobLeft(), 0.0);

    const auto* line2 = control<LineElement>(picture("graf"), "Line2");
    EXPECT_EQ(line2->from(), QPointF(0, 720));
    EXPECT_EQ(line2->to(), QPointF(4800, 720));
    EXPECT_EQ(line2->colour(), colourValue(192, 192, 0));

    ASSERT_NE(form->MSComm1(), nullptr);
    EXPECT_EQ(form->MSComm1()->objectName(), QStringLiteral("MSComm1"));
    EXPECT_FALSE(form->MSComm1()->isOpen());
    EXPECT_TRUE(serial.log.empty());

    const std::pair<const char*, int> timers[] = {
        {"Timer1", 500}, {"Timer2", 5000}, {"Timer3", 1000}};
    for (const auto& [name, interval] : timers) {
        QTimer* t = timer(name);
        EXPECT_TRUE(t->isActive()) << name;
        EXPECT_EQ(t->interval(), interval) << name;
        EXPECT_EQ(t->timerType(), Qt::PreciseTimer) << name;
    }
}

TEST_F(Form2Test, PortListLiesOverTheFrameInWindowCoordinates)
{
    QComboBox* port = list("port");
    EXPECT_EQ(port->parentWidget(), client());
    EXPECT_EQ(port->geometry(), twipRect(6360, 3720, 975, 315));
    // Drawn above the frame it overlaps: later among the window's children.
    const QObjectList& children = client()->children();
    EXPECT_GT(children.indexOf(port), children.indexOf(control<QGroupBox>(client(), "Frame6")));
}

TEST_F(Form2Test, TabOrderFollowsTheWindowsIndices)
{
    const QStringList expected = {"vstup",       "snimace",        "priemerobj",
                                  "graf",        "nulovanieuhla",  "posuvadlo",
                                  "vstupuhla",   "znacka",         "nulovanieposuvu",
                                  "vstupposuvu", "vstupintervalu", "port",
                                  "posuvnik",    "vstupfrekv",     "CTSx",
                                  "CDx",         "DSRx",           "interval",
                                  "znackau"};
    QStringList actual;
    QWidget* w = list("vstup");
    for (int i = 0; i < expected.size() && w; ++i) {
        actual << w->objectName();
        do {
            w = w->nextInFocusChain();
        } while (w && w != list("vstup") && !expected.contains(w->objectName()));
    }
    EXPECT_EQ(actual, expected);
}

TEST_F(Form2Test, PickingAPortOpensIt)
{
    openPort("COM1");
    EXPECT_TRUE(lines().isOpen());
    EXPECT_EQ(lines().commPort(), 1);
    EXPECT_EQ(serial.log, (std::vector<std::string>{"open 1"}));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(Form2Test, TheWheelOverAListPicksOnlyOnceTheListHasTheFocus)
{
    QComboBox* port = list("port");
    auto wheel = [port] {
        QWheelEvent event(QPointF(5, 5), port->mapToGlobal(QPointF(5, 5)), QPoint(),
                          QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(port, &event);
    };
    wheel();
    EXPECT_EQ(port->currentIndex(), -1);
    EXPECT_FALSE(lines().isOpen()) << "scrolling over the window opened a port";

    area.show();
    QApplication::setActiveWindow(&area);
    port->setFocus();
    if (!port->hasFocus())
        GTEST_SKIP() << "this platform gives no focus to a widget";
    wheel();
    EXPECT_NE(port->currentIndex(), -1);
}

TEST_F(Form2Test, PickingAnotherPortClosesTheOpenOneFirst)
{
    openPort("COM1");
    openPort("COM2");
    EXPECT_EQ(serial.log, (std::vector<std::string>{"open 1", "close", "open 2"}));
    EXPECT_TRUE(lines().isOpen());
    EXPECT_EQ(lines().commPort(), 2);
}

TEST_F(Form2Test, PickingTheSamePortAgainReopensIt)
{
    openPort("COM3");
    openPort("COM3");
    EXPECT_EQ(serial.log, (std::vector<std::string>{"open 3", "close", "open 3"}));
    EXPECT_TRUE(lines().isOpen());
}

TEST_F(Form2Test, PortInUseGivesExactlyOneBox)
{
    serial.failOpen(2, Kind::InUse, QStringLiteral("Device or resource busy"));
    openPort("COM1");
    openPort("COM2");

    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, QStringLiteral("Port používa iný program alebo zariadenie"));
    EXPECT_EQ(boxes[0].detail, QStringLiteral("Device or resource busy"));
    EXPECT_EQ(boxes[0].title, applicationTitle());
    EXPECT_FALSE(lines().isOpen());
    EXPECT_EQ(lines().commPort(), 2);
    EXPECT_EQ(list("port")->currentText(), QStringLiteral("COM2"));

    // The user may pick again once the port is free.
    serial.succeedOpen(2);
    openPort("COM2");
    EXPECT_TRUE(lines().isOpen());
    EXPECT_EQ(boxes.size(), 1u);
}

TEST_F(Form2Test, OtherOpenFailuresNameThePortDeviceAndReason)
{
    const std::pair<Kind, const char*> failures[] = {
        {Kind::Other, "No such file or directory"},
        {Kind::Other, "Permission denied"},
        {Kind::Gone, "No such device"},
    };
    for (const auto& [kind, reason] : failures) {
        boxes.clear();
        serial.failOpen(3, kind, QString::fromUtf8(reason));
        openPort("COM3");
        ASSERT_EQ(boxes.size(), 1u) << reason;
        EXPECT_EQ(boxes[0].title, applicationTitle());
        EXPECT_TRUE(boxes[0].text.contains(QStringLiteral("COM3"))) << boxes[0].text.toStdString();
        EXPECT_TRUE(boxes[0].text.contains(QStringLiteral("/dev/ttyS2")))
            << boxes[0].text.toStdString();
        EXPECT_TRUE(boxes[0].text.contains(QString::fromUtf8(reason)))
            << boxes[0].text.toStdString();
        EXPECT_NE(boxes[0].text, QStringLiteral("Port používa iný program alebo zariadenie"));
        EXPECT_FALSE(lines().isOpen());
    }
}

TEST_F(Form2Test, AFailedReopenLeavesThePortClosed)
{
    openPort("COM1");
    serial.failOpen(1, Kind::InUse);
    openPort("COM1");
    EXPECT_EQ(serial.log, (std::vector<std::string>{"open 1", "close", "open 1"}));
    EXPECT_FALSE(lines().isOpen());
    EXPECT_FALSE(lines().edge(comEvCTS, true, 0));
}

TEST_F(Form2Test, ClosingTheWindowClosesAndDestroysThePort)
{
    openPort("COM2");
    closeWindow();
    EXPECT_FALSE(form->isOpen());
    EXPECT_EQ(serial.lines(), nullptr);
    EXPECT_EQ(form->MSComm1(), nullptr);
    EXPECT_EQ(serial.log, (std::vector<std::string>{"open 2", "close", "destroyed"}));

    // Reopened: a fresh control, closed, and the lists filled once more without a selection.
    form->show(&area);
    EXPECT_EQ(serial.created, 2);
    EXPECT_FALSE(lines().isOpen());
    EXPECT_EQ(list("port")->count(), 3);
    EXPECT_EQ(list("port")->currentText(), QString());
    EXPECT_EQ(timer("Timer1")->interval(), 500);
}

TEST_F(Form2Test, LosingThePortTellsOnceAndKeepsTheCounts)
{
    openPort("COM1");
    pick("vstupposuvu", "CTS");
    pulses(comEvCTS, 3);
    lines().unplug();
    EXPECT_TRUE(boxes.empty()) << "the box waits until the serial control has finished reporting";
    settle();

    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.contains(QStringLiteral("COM1")));
    EXPECT_TRUE(boxes[0].text.contains(QStringLiteral("/dev/ttyS0")));
    EXPECT_TRUE(boxes[0].text.contains(QStringLiteral("Input/output error")));
    EXPECT_EQ(form->impulzyposuvu, 3);
    EXPECT_EQ(form->impulzycts, 3);
    EXPECT_EQ(text("posuvx"), QStringLiteral("0,03"));

    // The port can be picked again, and counting carries on.
    openPort("COM1");
    pulse(comEvCTS);
    EXPECT_EQ(text("posuvx"), QStringLiteral("0,04"));
    EXPECT_EQ(boxes.size(), 1u);
}

} // namespace
} // namespace diagnostika::test
