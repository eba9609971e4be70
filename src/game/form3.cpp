#include "form3.h"

#include "common/controls.h"
#include "common/picturebox.h"
#include "common/twips.h"

#include <QGroupBox>
#include <QLabel>
#include <QScrollBar>
#include <QTimer>

namespace diagnostika {
namespace {

constexpr ColourValue readoutYellow = 0x0000FFFF;
constexpr ColourValue traceColour[3] = {0x00000FFF, 0x00000256, 0x00000000};
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
    picture1_->setBackColour(0x00008080);
    label4_ = makeLabel(picture1_, QStringLiteral("Label4"), periodCaption(initialPeriod), 2520, 0,
                        615, 255);
    label4_->move(label4_->pos() + picture1_->contentsRect().topLeft());
    setBackColour(label4_, syscolour::buttonFace);
    new LineElement(QStringLiteral("Line2"), {0, 480}, {3360, 480}, 0x0000C0C0, picture1_);

    // Top is 10 ms, bottom 1000 ms: the period can never be 0, which would stop the sampling.
    vscroll1_ = new QScrollBar(Qt::Vertical, client);
    vscroll1_->setObjectName(QStringLiteral("VScroll1"));
    vscroll1_->setGeometry(twipRect(3240, 1680, 135, 1095));
    vscroll1_->setRange(10, 1000);
    vscroll1_->setSingleStep(10);
    vscroll1_->setPageStep(100);
    vscroll1_->setValue(initialPeriod);
    // No change while the thumb is dragged; the release reports the new position once.
    vscroll1_->setTracking(false);
    connect(vscroll1_, &QScrollBar::valueChanged, this, &Form3::VScroll1_Change);
    connect(vscroll1_, &QScrollBar::valueChanged, this, &Form3::settingsToFeed);

    timer1_ = makeTimer(client, QStringLiteral("Timer1"), initialInterval);
    connect(timer1_, &QTimer::timeout, this, &Form3::Timer1_Timer);
    timer1_->start();
}

void Form3::releaseControls()
{
    joy1_ = joy2_ = joy3_ = label4_ = nullptr;
    picture1_ = nullptr;
    vscroll1_ = nullptr;
    timer1_ = nullptr;
}

void Form3::Timer1_Timer()
{
    if (!picture1_)
        return;

    ++krok;
    // A failed query is not an error here: the readings stay as the record holds them.
    joystick_.getPos(0, joypos);

    joy1_->setText(QString::number(joypos.wXpos));
    joy2_->setText(QString::number(joypos.wYpos));
    joy3_->setText(QString::number(joypos.wZpos));

    const auto x = static_cast<std::int16_t>(10 * krok);
    struct Trace {
        std::uint32_t reading;
        std::int16_t& x;
        double& y;
    };
    const Trace traces[3] = {
        {joypos.wXpos, xjoy1, yjoy1}, {joypos.wYpos, xjoy2, yjoy2}, {joypos.wZpos, xjoy3, yjoy3}};
    for (int i = 0; i < 3; ++i) {
        const Trace& t = traces[i];
        const double y = t.reading / 48.0;
        // The drawing call takes single-precision coordinates.
        picture1_->line({static_cast<float>(t.x), static_cast<float>(t.y)},
                        {static_cast<float>(x), static_cast<float>(y)}, traceColour[i]);
        t.x = x;
        t.y = y;
    }

    if (feed()->readingHeard()) {
        feed()->publishReading({"Timer1",
                                {
                                    {"x", "", static_cast<double>(joypos.wXpos), {}},
                                    {"y", "", static_cast<double>(joypos.wYpos), {}},
                                    {"z", "", static_cast<double>(joypos.wZpos), {}},
                                    {"tlacidla", "", static_cast<double>(joypos.wButtons), {}},
                                }});
    }

    if (krok == sweepSteps) {
        picture1_->clear();
        krok = 0;
        xjoy1 = xjoy2 = xjoy3 = 0;
        yjoy1 = yjoy2 = yjoy3 = 0;
    }
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
