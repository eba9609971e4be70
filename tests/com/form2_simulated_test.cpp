// The serial window on the simulated sensor box, as a user sees it with --simulate: the real reader
// thread, edge bookkeeping and queue, in real time. The test picks the lists as a user does, lets
// the shaft turn for two seconds and fires the timers' handlers itself at whole seconds, so every
// reading can be held against what the shaft really did. A picture of the window is left in the
// build folder.
#include "com/form2.h"
#include "com/serialformulas.h"
#include "common/messages.h"
#include "common/numbertext.h"
#include "common/picturebox.h"
#include "platform/sim/simseriallines.h"
#include "platform/tickclock.h"
#include "support/widgets.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPixmap>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <gtest/gtest.h>
#include <map>
#include <set>

namespace diagnostika {
namespace {

using test::control;

class Form2Simulated : public ::testing::Test {
protected:
    void SetUp() override
    {
        previousLocale_ = QLocale();
        QLocale::setDefault(QLocale(QLocale::Slovak, QLocale::Slovakia));
        previousPresenter_ =
            setInformationPresenter([this](QWidget*, const QString&, const QString& text,
                                           const QString&) { boxes.push_back(text); });
        area.resize(560, 340);
        area.show();
        form.show(&area);
        // The handlers are fired at chosen moments instead.
        for (const char* name : {"Timer1", "Timer2", "Timer3"})
            control<QTimer>(form.client(), name)->stop();
    }

    void TearDown() override
    {
        form.close();
        setInformationPresenter(previousPresenter_);
        QLocale::setDefault(previousLocale_);
    }

    void pick(const char* listName, const char* item)
    {
        auto* list = control<QComboBox>(form.client(), listName);
        ASSERT_NE(list, nullptr);
        const int index = list->findText(QString::fromUtf8(item));
        ASSERT_GE(index, 0) << item;
        list->setCurrentIndex(index);
        Q_EMIT list->activated(index);
    }

    // A readout as shown; what pulses changed is shown first, as the screen would by now.
    QString text(const char* name)
    {
        form.showPulseReadouts();
        return control<QLabel>(form.client(), name)->text();
    }
    // A readout's value; the patterns write zero as the separator alone.
    double number(const char* name)
    {
        const QString shown = text(name);
        if (shown == QLocale().decimalPoint())
            return 0.0;
        const std::optional<double> value = readNumber(shown, QLocale());
        EXPECT_TRUE(value) << name << ": \"" << text(name).toStdString() << '"';
        return value.value_or(std::nan(""));
    }

    MonotonicClock clock;
    SimulatedSerialLinesProvider serial{clock};
    QMdiArea area;
    Form2 form{serial, clock};
    std::vector<QString> boxes;

private:
    QLocale previousLocale_;
    InformationPresenter previousPresenter_;
};

TEST_F(Form2Simulated, TheTurningShaftFillsEveryReadoutAndDrawsTheGraph)
{
    // The inputs first: the shaft turns in real time, and a pulse between opening the port and
    // picking its input would be the shaft's but not the window's.
    pick("vstupposuvu", "DSR");
    pick("vstupuhla", "CD");
    pick("vstupintervalu", "CTS");
    pick("vstupfrekv", "CTS");
    pick("vstup", "CTS");
    pick("snimace", "4");
    pick("port", "COM1");
    auto* lines = qobject_cast<SimulatedSerialLines*>(form.MSComm1());
    ASSERT_TRUE(lines && lines->isOpen());
    const SensorBox box = *lines->box();

    // What the user sees change, looked at after every edge the window has handled.
    std::map<QString, std::set<ColourValue>> indicatorColours;
    std::map<QString, std::set<QString>> readouts;
    std::set<double> knobPositions;
    QObject::connect(lines, &SerialLines::lineChanged, &form, [&] {
        for (const char* name : {"CTSx", "DSRx", "CDx"})
            indicatorColours[QString::fromLatin1(name)].insert(
                control<PictureBox>(form.client(), name)->backColour());
        for (const char* name : {"posuvx", "pootocenie", "trvanie"})
            readouts[QString::fromLatin1(name)].insert(text(name));
        knobPositions.insert(
            control<PictureBox>(form.client(), "posuvnik")->property("leftTwips").toDouble());
    });

    // Fires the speed and frequency handlers once the edges up to `due` have reached the window;
    // returns the moment they ran. The shaft turns on meanwhile: each handler takes the edges up
    // to its own moment, so a CTS pulse that comes between the two is counted by the frequency's
    // handler and not the speed's. `between` is how many pulses could have come so.
    std::vector<std::int64_t> between;
    auto tickAt = [&](std::int64_t due) {
        // A reading later than `due` means the ones before it are queued; then they are handed
        // over.
        EXPECT_TRUE(QTest::qWaitFor([&] { return lines->lastReadingMs() > due; }, 5000));
        QCoreApplication::processEvents();
        const std::int64_t now = clock.milliseconds();
        form.Timer1_Timer();
        form.Timer3_Timer();
        // From the millisecond the first handler may have read the box in (pulses stamped then
        // may have gone either way) to the moment the second had read it.
        between.push_back(box.pulsesBetween(now - 1, clock.milliseconds(), index(Line::CTS)));
        return now;
    };

    // No interval is chosen yet: this tick only starts the graph and the counting, so every speed
    // shown afterwards covers one whole second.
    const std::int64_t t0 = tickAt(lines->lastReadingMs());
    EXPECT_EQ(text("rychlost"), u"N/A");
    pick("interval", "1s");
    const std::int64_t t1 = tickAt(t0 + 1000);
    const double n1 = number("otacky");
    const double v1 = number("rychlost");
    const std::int64_t t2 = tickAt(t1 + 1000);
    form.Timer2_Timer();

    // The speed of each second is the shaft's within two pulses' worth (one for counting whole
    // pulses, one for the edges at the boundaries), and the readouts derived from it agree.
    const double pulseWorth = 60.0 / 4;
    EXPECT_NEAR(n1, box.meanSpeedBetween(t0, t1), 2 * pulseWorth);
    const double n2 = number("otacky");
    EXPECT_NEAR(n2, box.meanSpeedBetween(t1, t2), 2 * pulseWorth);
    EXPECT_NEAR(v1, com::velocity(n1), 0.006);
    EXPECT_NEAR(number("rychlost"), com::velocity(n2), 0.006);
    // Over a one-second period the acceleration is the change of velocity.
    EXPECT_NEAR(number("zrychlenie"), com::velocity(n2) - com::velocity(n1), 0.011);
    EXPECT_GE(number("priemerx"), std::floor(std::min(n1, n2)));
    EXPECT_LE(number("priemerx"), std::ceil(std::max(n1, n2)));
    // The frequency counted the same CTS pulses as the speed over the same second, but for those
    // that came between the two handlers: at this tick they are the frequency's alone, at the tick
    // before they were the speed's and not the frequency's. Nothing came in between, as usual:
    // the counts are equal.
    ASSERT_EQ(between.size(), 3u);
    EXPECT_GE(number("f") * pulseWorth, n2 - static_cast<double>(between[1]) * pulseWorth - 1e-9);
    EXPECT_LE(number("f") * pulseWorth, n2 + static_cast<double>(between[2]) * pulseWorth + 1e-9);
    // The displacement acceleration: the DSR pulses since the port opened, over 25.
    EXPECT_NEAR(number("zrych") * 25,
                static_cast<double>(box.pulsesBetween(lines->openedAtMs(), t2, index(Line::DSR))),
                1.0);
    EXPECT_GT(number("zrych"), 0.0);

    // Three steps of three traces, each trace in its colour; CTS stands at the last second's count.
    const std::vector<Segment>& graph = control<PictureBox>(form.client(), "graf")->segments();
    ASSERT_EQ(graph.size(), 9u);
    std::map<ColourValue, int> perColour;
    for (const Segment& s : graph)
        ++perColour[s.colour];
    EXPECT_EQ(perColour[syscolour::windowText], 3);
    EXPECT_EQ(perColour[syscolour::buttonFace], 3);
    EXPECT_EQ(perColour[302], 3);
    const Segment& lastCts = graph[6];
    EXPECT_EQ(lastCts.colour, syscolour::windowText);
    EXPECT_DOUBLE_EQ(lastCts.to.x(), 300.0);
    // The speed's handler draws it from its own count: the pulses the speed shows.
    EXPECT_NEAR(lastCts.to.y(), com::graphY(std::llround(n2 / pulseWorth), 4), 1e-3);
    EXPECT_LT(lastCts.to.y(), 1400.0 - 30.0 * 3) << "a few revolutions a second";

    // Every indicator blinked.
    for (const char* name : {"CTSx", "DSRx", "CDx"}) {
        const std::set<ColourValue>& seen = indicatorColours[QString::fromLatin1(name)];
        EXPECT_TRUE(seen.count(com::indicatorActive) && seen.count(com::indicatorInactive)) << name;
    }
    // The displacement, angle and duration readouts moved; the knob slid along its track.
    for (const char* name : {"posuvx", "pootocenie", "trvanie"}) {
        std::set<QString>& seen = readouts[QString::fromLatin1(name)];
        seen.erase(QString());
        EXPECT_GE(seen.size(), 2u) << name;
    }
    EXPECT_GE(knobPositions.size(), 3u);
    for (const QString& shown : readouts[QStringLiteral("trvanie")]) {
        const std::optional<double> ms = readNumber(shown, QLocale());
        ASSERT_TRUE(ms) << shown.toStdString();
        // A CTS pulse is some 25 ms long; no reading is a clock value or a wrong unit.
        EXPECT_GE(*ms, 0.0);
        EXPECT_LT(*ms, 1000.0);
    }

    const QString path = QDir(QStringLiteral(DIAGNOSTIKA_TEST_OUTPUT_DIR))
                             .filePath(QStringLiteral("com_form2_simulated.png"));
    EXPECT_TRUE(form.window()->grab().save(path, "PNG")) << path.toStdString();

    // Closing hands over the last edges: the window has then counted every displacement and angle
    // pulse the shaft made while the port was open, and shows them.
    lines->close();
    const std::int64_t first = lines->openedAtMs();
    const std::int64_t last = lines->lastReadingMs();
    EXPECT_EQ(form.impulzyposuvu, box.pulsesBetween(first, last, index(Line::DSR)));
    EXPECT_EQ(form.impulzyuhla, box.pulsesBetween(first, last, index(Line::CD)));
    EXPECT_GE(form.impulzyuhla, 3);
    EXPECT_NEAR(number("posuvx"), 0.01 * static_cast<double>(form.impulzyposuvu), 1e-9);
    EXPECT_DOUBLE_EQ(number("pootocenie"), 2.0 * static_cast<double>(form.impulzyuhla));
    EXPECT_TRUE(boxes.empty()) << boxes.front().toStdString();
}

} // namespace
} // namespace diagnostika
