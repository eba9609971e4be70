#include "form3.h"

#include "common/controls.h"
#include "common/picturebox.h"
#include "common/runningtrace.h"
#include "common/twips.h"

#include <QGroupBox>
#include <QLabel>
#include <QScrollBar>
#include <QTimer>
#include <array>

namespace diagnostika {
namespace {

constexpr ColourValue traceColour[3] = {colourValue(255, 15, 0), colourValue(86, 2, 0),
                                        colourValue(0, 0, 0)};
// Line2 lies where a reading of 23040 (48 x 480) is drawn.
constexpr QPointF line2From{0, 480};
constexpr QPointF line2To{3360, 480};
constexpr int initialInterval = 1000;
constexpr int initialPeriod = 500;

QString periodCaption(int ms)
{
    return QString::number(ms) + QStringLiteral(" ms");
}

} // namespace

Form3::Form3(Joystick& joystick, QObject* parent)
    : MeasurementForm(QStringLiteral("game"), QStringLiteral("Meranie cez Game port "),
                      QSize(3495, 2895), parent),
      joystick_(joystick)
{
    setObjectName(QStringLiteral("Form3"));
}

void Form3::buildControls(QWidget* client)
{
    client->setObjectName(QStringLiteral("Form3"));

    QGroupBox* frame1 = makeFrame(client, QStringLiteral("Frame1"),
                                  QStringLiteral("Game port - vstupné úrovne"), 120, 0, 3255, 1575);
    makeLabel(frame1, QStringLiteral("Label1"), QStringLiteral("Joystick A1:"), 120, 360, 1215,
              255);
    makeLabel(frame1, QStringLiteral("Label2"), QStringLiteral("JoystickA2:"), 120, 720, 1455, 255);
    makeLabel(frame1, QStringLiteral("Label3"), QStringLiteral("JoystickB1:"), 120, 1080, 1095,
              255);
    joy1_ = makeReadout(frame1, QStringLiteral("joy1"), readoutYellow, 1800, 360, 1215, 255);
    joy2_ = makeReadout(frame1, QStringLiteral("joy2"), readoutYellow, 1800, 720, 1215, 255);
    joy3_ = makeReadout(frame1, QStringLiteral("joy3"), readoutYellow, 1800, 1080, 1215, 255);

    picture1_ = new PictureBox(client);
    picture1_->setObjectName(QStringLiteral("Picture1"));
    picture1_->setGeometry(twipRect(120, 1680, 3255, 1095));
    picture1_->setBackColour(graphOlive);
    label4_ = makePictureLabel(picture1_, QStringLiteral("Label4"), periodCaption(initialPeriod),
                               2520, 0, 615, 255);
    setBackColour(label4_, syscolour::buttonFace);
    new LineElement(QStringLiteral("Line2"), line2From, line2To, referenceLine, picture1_);
    // Not a control of the layout: it tells why there is no reading. It stands between the top
    // edge and Line2, left of Label4, so it hides neither the top edge, where the traces of a
    // joystick never seen run, nor a centred stick's traces, which an unplugged one goes on
    // drawing.
    stavjoysticku_ = makeNotice(picture1_, QStringLiteral("stavjoysticku"), 60, 60, 2400, 390);

    vscroll1_ = makePeriodScrollBar(client, QStringLiteral("VScroll1"), 3240, 1680, 135, 1095,
                                    initialPeriod);
    connect(vscroll1_, &QScrollBar::valueChanged, this, &Form3::VScroll1_Change);
    connect(vscroll1_, &QScrollBar::valueChanged, this, &Form3::settingsToFeed);

    timer1_ = makeTimer(client, QStringLiteral("Timer1"), initialInterval);
    connect(timer1_, &QTimer::timeout, this, &Form3::Timer1_Timer);
    timer1_->start();
}

void Form3::formUnload()
{
    // The window is destroyed a little later: no tick may come in between and take a sample. The
    // joystick is held only while the window is open; the first tick after reopening opens it.
    timer1_->stop();
    releaseControls();
    joystick_.release();
}

void Form3::releaseControls()
{
    joy1_ = joy2_ = joy3_ = label4_ = stavjoysticku_ = nullptr;
    picture1_ = nullptr;
    vscroll1_ = nullptr;
    timer1_ = nullptr;
}

void Form3::Timer1_Timer()
{
    if (!picture1_)
        return;

    ++krok;
    // A failed query is not an error here: the readings stay as the record holds them, and the
    // window says why until a query succeeds.
    if (joystick_.getPos(0, joypos)) {
        setNotice(stavjoysticku_, QString());
    } else {
        const QString reason = joystick_.lastError();
        setNotice(stavjoysticku_,
                  reason.isEmpty() ? QStringLiteral("Joystick 1 nie je pripojený.") : reason);
    }

    joy1_->setText(QString::number(joypos.wXpos));
    joy2_->setText(QString::number(joypos.wYpos));
    joy3_->setText(QString::number(joypos.wZpos));

    const auto x = static_cast<std::int16_t>(sweepStepTwips * krok);
    const std::array traces{
        RunningTrace<std::int16_t>(xjoy1, yjoy1, traceColour[0]),
        RunningTrace<std::int16_t>(xjoy2, yjoy2, traceColour[1]),
        RunningTrace<std::int16_t>(xjoy3, yjoy3, traceColour[2]),
    };
    const std::uint32_t readings[] = {joypos.wXpos, joypos.wYpos, joypos.wZpos};
    for (std::size_t i = 0; i < traces.size(); ++i)
        traces[i].drawTo(*picture1_, x, readings[i] / readingsPerTwip);

    if (feed()->readingHeard()) {
        feed()->publishReading({"Timer1",
                                {
                                    {"x", "", static_cast<double>(joypos.wXpos), {}},
                                    {"y", "", static_cast<double>(joypos.wYpos), {}},
                                    {"z", "", static_cast<double>(joypos.wZpos), {}},
                                    {"tlacidla", "", static_cast<double>(joypos.wButtons), {}},
                                }});
    }

    endPageAt(*picture1_, krok, sweepSteps, traces);
}

void Form3::VScroll1_Change()
{
    if (!vscroll1_)
        return;
    const int period = vscroll1_->value();
    timer1_->setInterval(period);
    label4_->setText(periodCaption(period));
}

void Form3::settingsToFeed()
{
    if (!vscroll1_ || !feed()->isOpen())
        return;
    feed()->publishSettings({{"VScroll1", QString::number(vscroll1_->value())},
                             {"Timer1", QString::number(timer1_->interval())},
                             {"joystick", QStringLiteral("0")}});
}

} // namespace diagnostika
