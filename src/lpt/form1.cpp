#include "form1.h"

#include "common/controls.h"
#include "common/numbertext.h"
#include "common/picturebox.h"
#include "common/runningtrace.h"
#include "common/twips.h"
#include "quantities.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QLocale>
#include <QRadioButton>
#include <QScrollBar>
#include <QTimer>
#include <array>

namespace diagnostika {
namespace {

constexpr ColourValue traceBlack = colourValue(0, 0, 0);
// Line1 marks 2.5 V only roughly: the trace draws 2.5 V at 700, the line lies at 720 as the window
// was laid out.
constexpr QPointF line1From{0, 720};
constexpr QPointF line1To{5880, 720};
constexpr int initialPeriod = 100;
constexpr int loadedPeriod = 750;

QFont readoutFont()
{
    QFont font = windowFont(8.25);
    font.setBold(true);
    return font;
}

QLabel* makeValueBox(QWidget* frame, const char* name, int left)
{
    QLabel* box = makeReadout(frame, QString::fromLatin1(name), readoutYellow, left, 240, 735, 255);
    box->setFont(readoutFont());
    return box;
}

// The picture's scale and period labels, all of one size.
QLabel* makePictureLabel(PictureBox* picture, const char* name, const QString& caption, int left,
                         int top)
{
    return diagnostika::makePictureLabel(picture, QString::fromLatin1(name), caption, left, top,
                                         375, 255);
}

QRadioButton* makeOption(QWidget* frame, const char* name, int left)
{
    auto* option = new QRadioButton(QString::fromLatin1(name).mid(1), frame);
    option->setObjectName(QString::fromLatin1(name));
    option->setGeometry(twipRect(left, 600, 615, 255));
    return option;
}

QComboBox* makeList(QWidget* parent, const char* name, int left, int top)
{
    return diagnostika::makeList(parent, QString::fromLatin1(name), left, top, 975, 315);
}

} // namespace

Form1::Form1(PortIo& portIo, QObject* parent)
    : MeasurementForm(QStringLiteral("lpt"),
                      QStringLiteral("Meranie cez paralelný port (TLC549, 8bit ADC)"),
                      QSize(6630, 3255), parent),
      portIo_(portIo)
{
    setObjectName(QStringLiteral("Form1"));
}

void Form1::buildControls(QWidget* client)
{
    client->setObjectName(QStringLiteral("Form1"));
    setBackColour(client, syscolour::menuBar);
    portProblem_.clear();

    // Top: the three value frames.
    QGroupBox* frame1 =
        makeFrame(client, QStringLiteral("Frame1"), QStringLiteral("Teplota"), 120, 0, 2055, 615);
    makeLabel(frame1, QStringLiteral("Label7"), QStringLiteral("C"), 1680, 240, 375, 255);
    makeLabel(frame1, QStringLiteral("Label1"), QStringLiteral("Teplota"), 120, 240, 855, 255);
    teplotac_ = makeValueBox(frame1, "teplotac", 840);

    QGroupBox* frame2 =
        makeFrame(client, QStringLiteral("Frame2"), QStringLiteral("Napätie"), 2280, 0, 2055, 615);
    makeLabel(frame2, QStringLiteral("Label18"), QStringLiteral("V"), 1680, 240, 375, 255);
    makeLabel(frame2, QStringLiteral("Label12"), QStringLiteral("Napätie"), 120, 240, 855, 255);
    napatie_ = makeValueBox(frame2, "napatie", 840);

    QGroupBox* frame3 =
        makeFrame(client, QStringLiteral("Frame3"), QStringLiteral("Prúd"), 4440, 0, 2055, 615);
    makeLabel(frame3, QStringLiteral("Label11"), QStringLiteral("A"), 1680, 240, 255, 255);
    makeLabel(frame3, QStringLiteral("Label20"), QStringLiteral("Prúd"), 120, 240, 615, 255);
    prud_ = makeValueBox(frame3, "prud", 840);

    // Middle: the trace with its scale and period.
    picture1_ = new PictureBox(client);
    picture1_->setObjectName(QStringLiteral("Picture1"));
    picture1_->setGeometry(twipRect(120, 720, 6375, 1455));
    picture1_->setBackColour(graphOlive);
    picture1_->setForegroundRole(QPalette::WindowText);
    for (auto [name, caption, left, top] :
         {std::tuple{"Label3", "ms", 5760, 0}, std::tuple{"Label15", "2.5V", 5880, 600},
          std::tuple{"Label10", "0V", 6000, 1200}, std::tuple{"Label8", "5V", 6000, 0}}) {
        QLabel* label = makePictureLabel(picture1_, name, QString::fromLatin1(caption), left, top);
        setBackColour(label, syscolour::buttonFace);
    }
    takt_ = makePictureLabel(picture1_, "takt", QString(), 5400, 0);
    setBackColour(takt_, graphOlive);
    new LineElement(QStringLiteral("Line1"), line1From, line1To, referenceLine, picture1_);

    // Not a control of its own in the layout: it tells, over the paused trace, why the port
    // cannot be read, and stays hidden while the port works.
    stavportu_ = makeNotice(picture1_, QStringLiteral("stavportu"), 60, 780, 5280, 600);

    takttimera_ = makePeriodScrollBar(client, QStringLiteral("takttimera"), 6360, 720, 135, 1455,
                                      initialPeriod);
    connect(takttimera_, &QScrollBar::valueChanged, this, &Form1::takttimera_Change);

    // Bottom: the angle frame and the settings frame with the two lists.
    QGroupBox* frame5 = makeFrame(client, QStringLiteral("Frame5"),
                                  QStringLiteral("Snímanie pootočenia"), 3480, 2160, 3015, 975);
    // The angle box lies over the blanks of this caption, so the row reads "Uhol: 145, stupňov".
    makeLabel(frame5, QStringLiteral("Label4"),
              QStringLiteral("Uhol:") + QString(20, u' ') + QStringLiteral("stupňov"), 120, 240,
              2175, 255);
    pootocenie_ = makeValueBox(frame5, "pootocenie", 600);
    neg_ = new QCheckBox(QStringLiteral("NEG"), frame5);
    neg_->setObjectName(QStringLiteral("NEG"));
    neg_->setGeometry(twipRect(2160, 240, 735, 255));
    o45_ = makeOption(frame5, "o45", 120);
    o180_ = makeOption(frame5, "o180", 720);
    o290_ = makeOption(frame5, "o290", 1440);
    o360_ = makeOption(frame5, "o360", 2160);
    o360_->setChecked(true);

    QGroupBox* frame4 = makeFrame(client, QStringLiteral("Frame4"), QStringLiteral("Nastavenie"),
                                  120, 2160, 3255, 975);
    makeLabel(frame4, QStringLiteral("Label6"), QStringLiteral("Vst.:"), 1680, 360, 495, 255);
    makeLabel(frame4, QStringLiteral("Label2"), QStringLiteral("Port:"), 120, 360, 615, 255);
    volba_ = makeList(frame4, "volba", 2160, 360);
    connect(volba_, &QComboBox::activated, this, &Form1::volba_Change);
    // The port list belongs to the window, over the settings frame beside its "Port:" label.
    port_ = makeList(client, "port", 720, 2520);
    port_->raise();
    pickedAddress_ = portAddressFor(port_->currentText());
    connect(port_, &QComboBox::activated, this, [this] {
        // A port no longer sampled is given back at once, for other programs, not only when the
        // window closes; the next tick opens the one picked.
        const std::uint16_t address = portAddressFor(port_->currentText());
        if (address != pickedAddress_)
            portIo_.release();
        pickedAddress_ = address;
    });

    // The feed hears of every setting after the handler that reacts to it.
    connect(port_, &QComboBox::activated, this, &Form1::settingsToFeed);
    connect(volba_, &QComboBox::currentTextChanged, this, &Form1::settingsToFeed);
    connect(takttimera_, &QScrollBar::valueChanged, this, &Form1::settingsToFeed);
    for (QAbstractButton* button :
         std::initializer_list<QAbstractButton*>{neg_, o45_, o180_, o290_, o360_})
        connect(button, &QAbstractButton::toggled, this, &Form1::settingsToFeed);

    timer1_ = makeTimer(client, QStringLiteral("Timer1"), initialPeriod);
    connect(timer1_, &QTimer::timeout, this, &Form1::Timer1_Timer);
    timer1_->start();
}

void Form1::releaseControls()
{
    takttimera_ = nullptr;
    picture1_ = nullptr;
    takt_ = stavportu_ = nullptr;
    timer1_ = nullptr;
    port_ = volba_ = nullptr;
    teplotac_ = napatie_ = prud_ = pootocenie_ = nullptr;
    neg_ = nullptr;
    o45_ = o180_ = o290_ = o360_ = nullptr;
}

void Form1::formUnload()
{
    // The controls are destroyed a little later; no tick may come in between and take the port
    // again. The port is held only while the window is open: other programs may use it meanwhile.
    timer1_->stop();
    releaseControls();
    portIo_.release();
}

void Form1::Form_Load()
{
    if (!port_)
        return;
    port_->addItem(QStringLiteral("LPT1"));
    port_->addItem(QStringLiteral("LPT2"));
    volba_->addItems(quantityEntries());
    // Filling a list selects its first entry; the lists start with nothing picked.
    port_->setCurrentIndex(-1);
    volba_->setCurrentIndex(-1);
    takttimera_->setValue(loadedPeriod);
    takt_->setText(QString::number(takttimera_->value()));
    timer1_->setInterval(loadedPeriod);
}

void Form1::takttimera_Change()
{
    if (!takttimera_)
        return;
    // Only the caption: the tick takes the new period over when its current wait is over.
    takt_->setText(QString::number(takttimera_->value()));
}

void Form1::volba_Change()
{
    // The picture is not cleared: the next segment runs back to the second step over the old trace.
    krok = 1;
}

void Form1::citanieprevodnika()
{
    prevodnik.citanieprevodnika(portIo_, port_->currentText());
}

void Form1::showPortProblem(const QString& problem)
{
    portProblem_ = problem;
    setNotice(stavportu_, problem);
}

int Form1::selectedDegreesPerVolt() const
{
    if (o45_->isChecked())
        return degreesPerVolt(AngleRange::o45);
    if (o180_->isChecked())
        return degreesPerVolt(AngleRange::o180);
    if (o290_->isChecked())
        return degreesPerVolt(AngleRange::o290);
    if (o360_->isChecked())
        return degreesPerVolt(AngleRange::o360);
    return 0;
}

void Form1::Timer1_Timer()
{
    if (!picture1_)
        return;

    // Assigning a period restarts the timer, which would stretch every period by this handler's
    // lateness: only a new period is assigned.
    if (timer1_->interval() != takttimera_->value())
        timer1_->setInterval(takttimera_->value());

    // A port that cannot be read does not end the program: the window says why, the value boxes
    // keep their texts and the trace waits; every tick tries again, so the reading resumes as soon
    // as the port can be used or another port is picked.
    try {
        citanieprevodnika();
    } catch (const PortIoError& error) {
        const QString name = prevodnik.adresaportu == static_cast<std::int16_t>(lpt1Address)
                                 ? QStringLiteral("LPT1")
                                 : QStringLiteral("LPT2");
        showPortProblem(QStringLiteral("%1 (adresa %2) nie je dostupný: %3")
                            .arg(name)
                            .arg(prevodnik.adresaportu)
                            .arg(QString::fromUtf8(error.what())));
        return;
    }
    if (!portProblem_.isEmpty())
        showPortProblem(QString());

    const double napatievstupu = prevodnik.napatievstupu;
    const RunningTrace<double> trace(xgrafu, ygrafu, traceBlack);
    ++krok;
    const QPointF point = tracePoint(krok, napatievstupu);
    trace.drawTo(*picture1_, point.x(), point.y());

    napatieuhla = angleVoltage(napatievstupu, neg_->isChecked());

    if (const std::optional<Quantity> quantity = quantityForEntry(volba_->currentText())) {
        const double value =
            quantityValue(*quantity, napatievstupu, napatieuhla, selectedDegreesPerVolt());
        QLabel* box = nullptr;
        switch (*quantity) {
        case Quantity::TeplotaD:
        case Quantity::TeplotaR:
            box = teplotac_;
            break;
        case Quantity::Napatie:
            box = napatie_;
            break;
        case Quantity::Prud:
            box = prud_;
            break;
        case Quantity::Pootocenie:
            box = pootocenie_;
            break;
        }
        box->setText(patternNumber(value, quantityPattern(*quantity), QLocale()));
    }
    readingToFeed();

    endPageAt(*picture1_, krok, traceSteps, std::array{trace});
}

void Form1::readingToFeed()
{
    if (!feed()->readingHeard())
        return;
    const QLocale locale;
    FeedReading reading{"Timer1",
                        {
                            {"kod1", "", static_cast<double>(prevodnik.kody[0]), {}},
                            {"kod2", "", static_cast<double>(prevodnik.kody[1]), {}},
                            {"napatievstupu", "V", prevodnik.napatievstupu, {}},
                        }};
    const QString entry = volba_->currentText();
    QString unit;
    std::optional<double> shown;
    if (const std::optional<Quantity> quantity = quantityForEntry(entry)) {
        const QLabel* boxes[] = {teplotac_, teplotac_, napatie_, prud_, pootocenie_};
        const QLabel* box = boxes[static_cast<int>(*quantity)];
        // A value box shows nothing for 0 under the whole-number pattern.
        shown = box->text().isEmpty() ? 0.0 : readoutNumber(box->text(), locale);
        unit = quantityUnit(*quantity);
    }
    reading.values.push_back({"velicina", "", std::nullopt, entry});
    reading.values.push_back({"hodnota", "", shown, {}});
    reading.values.push_back({"jednotka", "", std::nullopt, unit});
    feed()->publishReading(reading);
}

void Form1::settingsToFeed()
{
    // Setting up the controls while loading is not a change: the settings are told once open.
    if (!port_ || !feed()->isOpen())
        return;
    QString range;
    for (const QRadioButton* option : {o45_, o180_, o290_, o360_}) {
        if (option->isChecked())
            range = option->objectName();
    }
    feed()->publishSettings({
        {"port", port_->currentText()},
        {"adresa", QString::number(portAddressFor(port_->currentText()))},
        {"takttimera", QString::number(takttimera_->value())},
        {"volba", volba_->currentText()},
        {"NEG", neg_->isChecked() ? QStringLiteral("1") : QStringLiteral("0")},
        {"rozsah", range},
    });
}

} // namespace diagnostika
