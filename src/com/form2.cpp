#include "form2.h"

#include "common/controls.h"
#include "common/messages.h"
#include "common/numbertext.h"
#include "common/picturebox.h"
#include "common/repaintlimiter.h"
#include "common/runningtrace.h"
#include "common/twips.h"
#include "platform/devicepath.h"
#include "serialformulas.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <array>
#include <functional>
#include <map>
#include <utility>

namespace diagnostika {
namespace {

constexpr ColourValue indicatorGrey = colourValue(64, 64, 64);
constexpr ColourValue invalidEntry = colourValue(255, 0, 0);
constexpr ColourValue dsrTrace = 302;

QLineEdit* makeTextBox(QWidget* parent, const QString& name, const QString& text, int left, int top,
                       int width, int height)
{
    auto* box = new QLineEdit(text, parent);
    box->setObjectName(name);
    box->setGeometry(twipRect(left, top, width, height));
    return box;
}

PictureBox* makePicture(QWidget* parent, const QString& name, ColourValue back, int left, int top,
                        int width, int height)
{
    auto* box = new PictureBox(parent);
    box->setObjectName(name);
    box->setGeometry(twipRect(left, top, width, height));
    box->setBackColour(back);
    // Picture boxes are tab stops of the window.
    box->setFocusPolicy(Qt::TabFocus);
    return box;
}

QPushButton* makeButton(QWidget* parent, const QString& name, const QString& caption, int left,
                        int top, int width, int height)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setGeometry(twipRect(left, top, width, height));
    return button;
}

void fillList(QComboBox* list, std::initializer_list<const char*> items)
{
    for (const char* item : items)
        list->addItem(QString::fromUtf8(item));
    // Adding to an empty list selects its first item; the lists start without a selection.
    list->setCurrentIndex(-1);
}

} // namespace

// A mark entry and the number it reads as. Pulses read it tens of thousands of times a second, so
// its text is parsed only when it changes (or the locale does). An entry that does not read
// as a usable number turns red until it reads as one again.
class NumberEntry : public QObject {
public:
    // `beforeChange` runs when the text has changed but before the new number is taken, so that
    // pulses seen earlier can still be reckoned with the old one.
    NumberEntry(QLineEdit* entry, std::function<void()> beforeChange)
        : QObject(entry), entry_(entry)
    {
        parse();
        connect(entry, &QLineEdit::textChanged, this, [this, beforeChange] {
            beforeChange();
            parse();
            if (invalid_)
                mark(!value_);
        });
    }

    // The entry's number, marking the entry invalid when there is none.
    std::optional<double> read()
    {
        if (QLocale() != locale_)
            parse();
        mark(!value_);
        return value_;
    }

    // Marks the entry valid or invalid; returns whether it is valid.
    bool mark(bool invalid)
    {
        if (invalid_ == invalid)
            return !invalid;
        invalid_ = invalid;
        if (invalid) {
            setBackColour(entry_, invalidEntry);
        } else {
            entry_->setPalette(QPalette());
            entry_->setAutoFillBackground(false);
        }
        return !invalid;
    }

private:
    // The text is parsed when it changes, not when it is read: a pulse reckoned just before a
    // change must still find the number the text stood for then.
    void parse()
    {
        locale_ = QLocale();
        value_ = readNumber(entry_->text(), locale_);
    }

    QLineEdit* entry_;
    QLocale locale_;
    std::optional<double> value_;
    bool invalid_ = false;
};

namespace {

QString portName(int commPort)
{
    return QStringLiteral("COM%1").arg(commPort);
}

QString withReason(QString text, const QString& reason)
{
    if (!reason.isEmpty())
        text += QStringLiteral(": ") + reason;
    return text;
}

// The speed pulse count of a line.
std::int64_t& speedCount(Form2& form, Line line)
{
    switch (line) {
    case Line::CTS:
        return form.impulzycts;
    case Line::DSR:
        return form.impulzydsr;
    case Line::CD:
        break;
    }
    return form.impulzycd;
}

const char* captureModeName(CaptureMode mode)
{
    switch (mode) {
    case CaptureMode::Counted:
        return "counted";
    case CaptureMode::Levels:
        return "levels";
    case CaptureMode::Polled:
        return "polled";
    case CaptureMode::Simulated:
        break;
    }
    return "simulated";
}

// Runs its function when the handler it lives in returns, whichever way it returns.
template <class Function> class OnReturn {
public:
    explicit OnReturn(Function function) : function_(std::move(function)) {}
    ~OnReturn() { function_(); }
    OnReturn(const OnReturn&) = delete;
    OnReturn& operator=(const OnReturn&) = delete;

private:
    Function function_;
};

} // namespace

Form2::Form2(SerialLinesProvider& serial, const TickClock& clock, QObject* parent)
    : MeasurementForm(QStringLiteral("com"),
                      QStringLiteral("Meranie cez sériový port, handshaking"), QSize(7575, 4350),
                      parent),
      serial_(serial), clock_(clock), speedInput_(new SpeedInput(this))
{
    setObjectName(QStringLiteral("Form2"));
    speedInput_->setTiming([this] {
        if (!mscomm1_ || !mscomm1_->isOpen())
            return CaptureTiming{};
        return CaptureTiming{mscomm1_->seenUntilUs(), mscomm1_->stampUncertaintyUs()};
    });
}

Form2::~Form2()
{
    // The window's teardown calls back into this object, so it has to go while this is whole.
    delete window();
}

void Form2::buildControls(QWidget* client)
{
    client->setObjectName(QStringLiteral("Form2"));

    // Speed.
    QGroupBox* frame1 =
        makeFrame(client, QStringLiteral("Frame1"), QStringLiteral("Otáčky"), 120, 0, 4335, 3135);
    makeLabel(frame1, QStringLiteral("Label4"), QStringLiteral("Výsledok, n ="), 120, 240, 975,
              255);
    otacky_ = makeReadout(frame1, QStringLiteral("otacky"), readoutYellow, 1200, 240, 855, 255);
    makeLabel(frame1, QStringLiteral("Label13"), QStringLiteral("min^-1"), 2160, 240, 615, 255);
    makeLabel(frame1, QStringLiteral("Label10"), QStringLiteral("Rýchlosť, v = "), 120, 480, 975,
              255);
    rychlost_ = makeReadout(frame1, QStringLiteral("rychlost"), readoutYellow, 1200, 480, 855, 255);
    makeLabel(frame1, QStringLiteral("Label15"), QStringLiteral("m/s"), 2160, 480, 495, 255);
    makeLabel(frame1, QStringLiteral("Label6"), QStringLiteral("Zrýchl,     a ="), 120, 720, 1095,
              255);
    zrychlenie_ =
        makeReadout(frame1, QStringLiteral("zrychlenie"), readoutYellow, 1200, 720, 855, 255);
    makeLabel(frame1, QStringLiteral("Label14"), QStringLiteral("m/s^2"), 2160, 720, 615, 255);
    makeLabel(frame1, QStringLiteral("Label35"), QStringLiteral("Priemer,   n ="), 120, 960, 1095,
              255);
    priemerx_ = makeReadout(frame1, QStringLiteral("priemerx"), readoutYellow, 1200, 960, 855, 255);
    makeLabel(frame1, QStringLiteral("Label5"), QStringLiteral("min^-1"), 2160, 960, 615, 255);
    makeLabel(frame1, QStringLiteral("Label12"), QStringLiteral("Priemer obj."), 120, 1200, 975,
              255);
    priemerobj_ = makeTextBox(frame1, QStringLiteral("priemerobj"), QStringLiteral("10"), 1200,
                              1200, 855, 285);
    makeLabel(frame1, QStringLiteral("Label43"), QStringLiteral("m"), 2160, 1200, 495, 255);
    makeLabel(frame1, QStringLiteral("Label2"), QStringLiteral("Snímače"), 2760, 240, 735, 255);
    snimace_ = makeList(frame1, QStringLiteral("snimace"), 3480, 240, 735, 315);
    makeLabel(frame1, QStringLiteral("Label3"), QStringLiteral("Inteval:"), 2760, 600, 735, 255);
    interval_ = makeList(frame1, QStringLiteral("interval"), 3480, 600, 735, 315);
    makeLabel(frame1, QStringLiteral("Label1"), QStringLiteral("Vstup:"), 2760, 960, 615, 255);
    vstup_ = makeList(frame1, QStringLiteral("vstup"), 3480, 960, 735, 315);
    graf_ = makePicture(frame1, QStringLiteral("graf"), graphOlive, 120, 1560, 4095, 1455);
    new LineElement(QStringLiteral("Line2"), {0, 720}, {4800, 720}, referenceLine, graf_);

    // Displacement.
    QGroupBox* frame3 = makeFrame(client, QStringLiteral("Frame3"),
                                  QStringLiteral("Meranie posuvu"), 4560, 0, 2895, 1575);
    makeLabel(frame3, QStringLiteral("Label29"), QStringLiteral("Posuv"), 120, 240, 855, 255);
    posuvx_ = makeReadout(frame3, QStringLiteral("posuvx"), readoutYellow, 1080, 240, 855, 255);
    makeLabel(frame3, QStringLiteral("Label31"), QStringLiteral("metrov"), 2040, 240, 735, 255);
    makeLabel(frame3, QStringLiteral("Label32"), QStringLiteral("Ok.zrých."), 120, 480, 855, 255);
    zrych_ = makeReadout(frame3, QStringLiteral("zrych"), readoutYellow, 1080, 480, 855, 255);
    makeLabel(frame3, QStringLiteral("Label34"), QStringLiteral("m.s^(-2)"), 2040, 480, 735, 255);
    makeLabel(frame3, QStringLiteral("Label26"), QStringLiteral("Značka"), 120, 720, 1575, 255);
    znacka_ =
        makeTextBox(frame3, QStringLiteral("znacka"), QStringLiteral("10"), 1080, 720, 855, 285);
    makeLabel(frame3, QStringLiteral("Label28"), QStringLiteral("milimetrov"), 2040, 720, 735, 255);
    makeLabel(frame3, QStringLiteral("Label37"), QStringLiteral("Vstup:"), 120, 1080, 735, 255);
    vstupposuvu_ = makeList(frame3, QStringLiteral("vstupposuvu"), 840, 1080, 735, 315);
    QPushButton* nulovanieposuvu = makeButton(frame3, QStringLiteral("nulovanieposuvu"),
                                              QStringLiteral("N&ulovanie"), 1800, 1080, 975, 375);

    // Rotation angle.
    QGroupBox* frame2 = makeFrame(client, QStringLiteral("Frame2"),
                                  QStringLiteral("Uhol pootočenia"), 4560, 1560, 2895, 1935);
    makeLabel(frame2, QStringLiteral("Label17"), QStringLiteral("Pootočenie"), 120, 240, 855, 255);
    pootocenie_ =
        makeReadout(frame2, QStringLiteral("pootocenie"), readoutYellow, 1080, 240, 855, 255);
    makeLabel(frame2, QStringLiteral("Label19"), QStringLiteral("stupňov"), 2040, 240, 735, 255);
    makeLabel(frame2, QStringLiteral("Label20"), QStringLiteral("Značka"), 120, 480, 975, 255);
    znackau_ =
        makeTextBox(frame2, QStringLiteral("znackau"), QStringLiteral("2"), 1080, 480, 855, 285);
    makeLabel(frame2, QStringLiteral("Label22"), QStringLiteral("stupne"), 2040, 480, 735, 255);
    posuvadlo_ =
        makePicture(frame2, QStringLiteral("posuvadlo"), syscolour::window, 120, 960, 2655, 135);
    posuvnik_ = makePicture(posuvadlo_, QStringLiteral("posuvnik"), 0, 0, 0, 135, 135);
    moveKnob(0);
    makeLabel(frame2, QStringLiteral("Label23"), QStringLiteral("0"), 120, 1200, 255, 255);
    makeLabel(frame2, QStringLiteral("Label24"), QStringLiteral("  180"), 1200, 1200, 495, 255);
    makeLabel(frame2, QStringLiteral("Label27"), QStringLiteral("360"), 2520, 1200, 375, 255);
    makeLabel(frame2, QStringLiteral("Label25"), QStringLiteral("Vstup:"), 120, 1440, 615, 255);
    vstupuhla_ = makeList(frame2, QStringLiteral("vstupuhla"), 840, 1440, 735, 315);
    QPushButton* nulovanieuhla = makeButton(frame2, QStringLiteral("nulovanieuhla"),
                                            QStringLiteral("&Nulovanie"), 1800, 1440, 975, 375);

    // Pulse duration.
    QGroupBox* frame4 = makeFrame(client, QStringLiteral("Frame4"),
                                  QStringLiteral("Časový interval"), 120, 3120, 2175, 1095);
    makeLabel(frame4, QStringLiteral("Label38"), QStringLiteral("Trvanie:"), 120, 240, 1095, 255);
    trvanie_ = makeReadout(frame4, QStringLiteral("trvanie"), readoutYellow, 960, 240, 855, 255);
    makeLabel(frame4, QStringLiteral("Label40"), QStringLiteral("ms"), 1920, 240, 255, 255);
    makeLabel(frame4, QStringLiteral("Label41"), QStringLiteral("Vstup:"), 120, 600, 735, 255);
    vstupintervalu_ = makeList(frame4, QStringLiteral("vstupintervalu"), 960, 600, 735, 315);

    // Pulse frequency.
    QGroupBox* frame5 = makeFrame(client, QStringLiteral("Frame5"), QStringLiteral("Frekvencia U"),
                                  2400, 3120, 2055, 1095);
    makeLabel(frame5, QStringLiteral("Label21"), QStringLiteral("Frekv:"), 120, 240, 855, 255);
    f_ = makeReadout(frame5, QStringLiteral("f"), readoutYellow, 720, 240, 855, 255);
    makeLabel(frame5, QStringLiteral("Label33"), QStringLiteral("Hz"), 1680, 240, 615, 255);
    makeLabel(frame5, QStringLiteral("Label36"), QStringLiteral("Vstup:"), 120, 600, 735, 255);
    vstupfrekv_ = makeList(frame5, QStringLiteral("vstupfrekv"), 720, 600, 735, 315);

    // Port choice and line indicators, in the order the caption names the lines.
    QGroupBox* frame6 =
        makeFrame(client, QStringLiteral("Frame6"),
                  QStringLiteral("Nastavenie portu (CTS, CD, DSR)"), 4560, 3480, 2895, 735);
    ctsx_ = makePicture(frame6, QStringLiteral("CTSx"), indicatorGrey, 240, 360, 255, 135);
    cdx_ = makePicture(frame6, QStringLiteral("CDx"), indicatorGrey, 720, 360, 255, 135);
    dsrx_ = makePicture(frame6, QStringLiteral("DSRx"), indicatorGrey, 1200, 360, 255, 135);
    // The port list belongs to the window, laid over the frame's right part.
    port_ = makeList(client, QStringLiteral("port"), 6360, 3720, 975, 315);
    port_->raise();

    // Tab order by the window's tab indices.
    const std::map<int, QWidget*> tabOrder = {
        {1, vstup_},           {3, snimace_},      {11, priemerobj_},     {17, graf_},
        {23, nulovanieuhla},   {24, posuvadlo_},   {28, vstupuhla_},      {32, znacka_},
        {42, nulovanieposuvu}, {44, vstupposuvu_}, {50, vstupintervalu_}, {51, port_},
        {53, posuvnik_},       {60, vstupfrekv_},  {62, ctsx_},           {63, cdx_},
        {64, dsrx_},           {66, interval_},    {67, znackau_},
    };
    QWidget* previous = nullptr;
    for (const auto& [index, widget] : tabOrder) {
        if (previous)
            QWidget::setTabOrder(previous, widget);
        previous = widget;
    }

    // Every user action takes the edges seen before it first, as the timer ticks do: a pulse seen
    // a moment before a change belongs to the settings before it.
    znackaNumber_ = new NumberEntry(znacka_, [this] { takePendingEdges(); });
    znackauNumber_ = new NumberEntry(znackau_, [this] { takePendingEdges(); });
    connect(port_, &QComboBox::activated, this, &Form2::port_Click);
    connect(nulovanieposuvu, &QPushButton::clicked, this, &Form2::nulovanieposuvu_Click);
    connect(nulovanieuhla, &QPushButton::clicked, this, &Form2::nulovanieuhla_Click);

    // The serial control: created closed with the window, and gone with it.
    SerialLines* mscomm = serial_.create().release();
    mscomm->setObjectName(QStringLiteral("MSComm1"));
    mscomm->setParent(client);
    mscomm1_ = mscomm;
    connect(mscomm, &SerialLines::lineChanged, this, &Form2::MSComm1_OnComm);
    connect(mscomm, &SerialLines::portLost, this, &Form2::portLost);

    // A pick changes which pulses a measurement follows only after the edges seen before it have
    // gone to the inputs as they were; then the feed hears of it.
    for (const auto& [list, input] : {std::pair{vstup_, &pulseInputs_.speed},
                                      {vstupposuvu_, &pulseInputs_.displacement},
                                      {vstupuhla_, &pulseInputs_.angle},
                                      {vstupintervalu_, &pulseInputs_.duration},
                                      {vstupfrekv_, &pulseInputs_.frequency}})
        connect(list, &QComboBox::currentTextChanged, this, [this, input](const QString& text) {
            takePendingEdges();
            *input = lineOfName(text);
        });
    connect(port_, &QComboBox::activated, this, &Form2::settingsToFeed);
    connect(mscomm, &SerialLines::portLost, this, &Form2::settingsToFeed);
    for (QComboBox* list :
         {snimace_, interval_, vstup_, vstupposuvu_, vstupuhla_, vstupintervalu_, vstupfrekv_})
        connect(list, &QComboBox::currentTextChanged, this, &Form2::settingsToFeed);
    for (QLineEdit* entry : {priemerobj_, znacka_, znackau_})
        connect(entry, &QLineEdit::textChanged, this, &Form2::settingsToFeed);

    pulseReadoutsTimer_ = new QTimer(client);
    pulseReadoutsTimer_->setSingleShot(true);
    pulseReadoutsTimer_->setInterval(RepaintLimiter::defaultIntervalMs);
    connect(pulseReadoutsTimer_, &QTimer::timeout, this, &Form2::showPulseReadouts);
    timer1_ = makeTimer(client, QStringLiteral("Timer1"), timer1Initial);
    timer2_ = makeTimer(client, QStringLiteral("Timer2"), timer2Period);
    timer3_ = makeTimer(client, QStringLiteral("Timer3"), timer3Period);
    connect(timer1_, &QTimer::timeout, this, &Form2::Timer1_Timer);
    connect(timer2_, &QTimer::timeout, this, &Form2::Timer2_Timer);
    connect(timer3_, &QTimer::timeout, this, &Form2::Timer3_Timer);
    timer1_->start();
    timer2_->start();
    timer3_->start();
}

void Form2::formLoad()
{
    // The readouts and indicators may change with every edge; the screen need not show each. The
    // limit holds the whole top-level window this one is shown in (the main window keeps one for
    // all its windows already; shown on its own, the serial window brings its own).
    RepaintLimiter::install(client()->window());
    fillList(port_, {"COM1", "COM2", "COM3"});
    fillList(interval_, {"1s", "10s", "1min"});
    fillList(vstup_, {"CD", "DSR", "CTS"});
    fillList(vstupposuvu_, {"CD", "DSR", "CTS"});
    fillList(vstupuhla_, {"CD", "DSR", "CTS"});
    fillList(vstupintervalu_, {"CD", "DSR", "CTS"});
    fillList(vstupfrekv_, {"CD", "DSR", "CTS"});
    fillList(snimace_, {"1", "4", "6", "8"});
}

void Form2::formUnload()
{
    closePort();
    speedInput_->publishSettings({});
}

void Form2::closePort()
{
    if (!mscomm1_)
        return;
    // Closing hands over the edges seen up to now; the controls still exist, so they are counted.
    // After that no line event may reach the window while its controls are being torn down.
    mscomm1_->close();
    disconnect(mscomm1_, nullptr, this, nullptr);
}

void Form2::releaseControls()
{
    mscomm1_ = nullptr;
    otacky_ = rychlost_ = zrychlenie_ = priemerx_ = nullptr;
    posuvx_ = zrych_ = pootocenie_ = trvanie_ = f_ = nullptr;
    priemerobj_ = znacka_ = znackau_ = nullptr;
    znackaNumber_ = znackauNumber_ = nullptr;
    snimace_ = interval_ = vstup_ = vstupposuvu_ = vstupuhla_ = nullptr;
    vstupintervalu_ = vstupfrekv_ = port_ = nullptr;
    graf_ = posuvadlo_ = posuvnik_ = ctsx_ = cdx_ = dsrx_ = nullptr;
    timer1_ = timer2_ = timer3_ = pulseReadoutsTimer_ = nullptr;
    pulseInputs_ = {};
    pulseReadouts_ = {};
}

void Form2::port_Click()
{
    if (!port_ || !mscomm1_)
        return;

    int commPort = 0;
    const QString text = port_->currentText();
    for (int n = 1; n <= 3; ++n) {
        if (text == portName(n)) {
            commPort = n;
            break;
        }
    }
    if (commPort == 0)
        return;

    if (mscomm1_->isOpen())
        mscomm1_->close();

    SerialError error;
    if (mscomm1_->open(commPort, &error)) {
        countingSinceMs_ = clock_.milliseconds();
        return;
    }

    const QString title = applicationTitle();
    if (error.kind == SerialError::Kind::InUse) {
        // The described text stays as it is; who holds the port (a process and its lock file)
        // comes as the detail, so a stale lock can be found.
        showInformation(client(), title,
                        QStringLiteral("Port používa iný program alebo zariadenie"), error.reason);
        return;
    }
    // Every other failure is told too: silence would leave the user believing the port is open.
    const QString device =
        devicePathForDisplay(error.device.isEmpty() ? serial_.devicePath(commPort) : error.device);
    showInformation(
        client(), title,
        withReason(
            QStringLiteral("Port %1 (%2) sa nepodarilo otvoriť").arg(portName(commPort), device),
            error.reason));
}

void Form2::portLost(const SerialError& error)
{
    const int commPort = error.commPort;
    const QString device = devicePathForDisplay(
        error.device.isEmpty() && commPort > 0 ? serial_.devicePath(commPort) : error.device);
    const QString text = withReason(QStringLiteral("Spojenie s portom %1 (%2) sa prerušilo")
                                        .arg(portName(commPort), device),
                                    error.reason) +
                         QStringLiteral(". Port je zatvorený, namerané hodnoty zostávajú.");
    // Told once, after the serial control has finished reporting: a modal box must not run inside
    // its signal.
    QMetaObject::invokeMethod(
        this, [this, text] { showInformation(client(), applicationTitle(), text); },
        Qt::QueuedConnection);
}

void Form2::moveKnob(float leftTwips)
{
    posuvnik_->setLeftTwips(leftTwips);
    // A knob parked absurdly far off the track is still placed where a widget can be.
    const double pixels = std::clamp(static_cast<double>(leftTwips) / twipsPerPixel, -1e6, 1e6);
    const QPoint at =
        posuvadlo_->contentsRect().topLeft() + QPoint(static_cast<int>(std::lround(pixels)), 0);
    // Most pulses move the knob less than a pixel.
    if (posuvnik_->pos() != at)
        posuvnik_->move(at);
}

void Form2::MSComm1_OnComm(const LineEvent& event)
{
    const std::optional<Line> line = lineOfEvent(event.commEvent);
    if (!line || !ctsx_)
        return;
    feed()->publishEdge(event);
    if (pulseInputs_.speed == *line)
        speedInput_->publishEdge(event);

    PictureBox* const indicators[] = {ctsx_, dsrx_, cdx_}; // in the order of Line
    PictureBox* indicator = indicators[static_cast<int>(*line)];

    const auto index = static_cast<std::size_t>(*line);
    if (event.level) {
        zaciatokimpulzu[index] = event.stampMs;
        indicator->setBackColour(com::indicatorActive);
        return;
    }

    ++speedCount(*this, *line);
    koniecimpulzu[index] = event.stampMs;
    indicator->setBackColour(com::indicatorInactive);

    if (pulseInputs_.displacement == *line) {
        ++impulzyposuvu;
        // A mark that does not read as a number, or gives a displacement the readout cannot show
        // ("1e308" overflows), leaves the readout as it was; the pulse counts.
        const std::optional<double> mm = znackaNumber_->read();
        const double metres = mm ? com::displacementMetres(impulzyposuvu, *mm) : 0.0;
        if (mm && znackaNumber_->mark(!isShowableReading(metres))) {
            pulseReadouts_.metres = metres;
            showPulseReadoutsLater();
        }
    }

    if (pulseInputs_.angle == *line) {
        ++impulzyuhla;
        // The knob's count follows the knob: a pulse that cannot move it (the mark does not read
        // as a number, or gives an angle the readout cannot show) does not advance it either, or
        // the count could step past the exact turn and never wrap again.
        const std::optional<double> degrees = znackauNumber_->read();
        const double angle = degrees ? *degrees * static_cast<double>(impulzyuhla) : 0.0;
        if (degrees && znackauNumber_->mark(!isShowableReading(angle))) {
            ++impulzyposuvnika;
            pulseReadouts_.angle = angle;
            posuvnik_->setLeftTwips(com::knobLeft(impulzyposuvnika, *degrees));
            pulseReadouts_.knob = true;
            showPulseReadoutsLater();
            if (com::knobCompletesTurn(impulzyposuvnika, *degrees))
                impulzyposuvnika = 0;
        }
    }

    if (pulseInputs_.duration == *line) {
        if (const std::optional<std::int64_t> d =
                com::pulseDuration(zaciatokimpulzu[index], event.stampMs)) {
            pulseReadouts_.durationMs = *d;
            showPulseReadoutsLater();
            zaciatokimpulzu[index].reset();
            koniecimpulzu[index].reset();
        }
    }

    if (pulseInputs_.frequency == *line)
        impulzyfrekv = impulzyfrekv.value_or(0) + 1;
}

void Form2::takePendingEdges()
{
    // Edges reach the window in batches a few milliseconds apart: those seen before this tick
    // belong to the period it ends. The tick's reading holds what they showed.
    if (mscomm1_)
        mscomm1_->deliverPending();
    showPulseReadouts();
}

void Form2::showPulseReadoutsLater()
{
    // Formatting and setting a label's text costs more than the rest of a pulse's work, and a
    // screen shows at most about 60 pictures a second: the texts follow at that pace.
    if (pulseReadoutsTimer_ && !pulseReadoutsTimer_->isActive())
        pulseReadoutsTimer_->start();
}

void Form2::showPulseReadouts()
{
    PulseReadouts shown = std::exchange(pulseReadouts_, {});
    if (pulseReadoutsTimer_)
        pulseReadoutsTimer_->stop();
    if (!posuvx_)
        return;
    const QLocale locale;
    if (shown.metres)
        posuvx_->setText(generalNumber(*shown.metres, locale));
    if (shown.angle)
        pootocenie_->setText(generalNumber(*shown.angle, locale));
    if (shown.knob)
        moveKnob(posuvnik_->leftTwips());
    if (shown.durationMs)
        trvanie_->setText(integerText(*shown.durationMs));
}

void Form2::nulovanieposuvu_Click()
{
    takePendingEdges();
    impulzyposuvu = 0;
    pulseReadouts_.metres.reset(); // the zero replaces what pulses left to show
    if (posuvx_)
        posuvx_->setText(QStringLiteral("0"));
}

void Form2::nulovanieuhla_Click()
{
    takePendingEdges();
    impulzyuhla = 0;
    impulzyposuvnika = 0;
    pulseReadouts_.angle.reset();
    pulseReadouts_.knob = false;
    if (!pootocenie_)
        return;
    pootocenie_->setText(QStringLiteral("0"));
    moveKnob(0);
}

void Form2::Timer1_Timer()
{
    if (!otacky_)
        return;
    takePendingEdges();
    const std::int64_t nowMs = clock_.milliseconds();
    PeriodCounts counts{impulzycts, impulzydsr, impulzycd, {}, {}};
    if (countingSinceMs_)
        counts.coveredMs = nowMs - *countingSinceMs_;
    const OnReturn published{[this, &counts] { readingToFeed("Timer1", counts); }};
    const QLocale locale;

    const std::optional<Line> line = lineOfName(vstup_->currentText());
    if (line) {
        const std::int64_t count = speedCount(*this, *line);
        if (const std::optional<com::SpeedInterval> interval =
                com::intervalOfText(interval_->currentText())) {
            // The count is shown under this interval's factor, as the window always has; a
            // recording and the trend must know when it covered another period (the first tick
            // after a port is picked, or after the interval changed, or a tick held up).
            counts.wholeInterval =
                counts.coveredMs &&
                std::abs(*counts.coveredMs - interval->periodMs) * 20 <= interval->periodMs;
            std::optional<double> counted;
            // Without a pulses-per-revolution value there is no speed to show: the readout stays
            // as it is rather than showing a division by zero.
            if (const std::optional<double> p =
                    com::pulsesPerRevolution(snimace_->currentText(), locale)) {
                const double speed = com::speed(count, *interval, *p);
                otacky_->setText(patternNumber(speed, u"##.##", locale));
                counted = speed;
            }
            if (counted && counts.coveredMs)
                speedInput_->publishCounted({*counted, *counts.coveredMs, *counts.wholeInterval});
            if (*line == Line::DSR)
                impulzydsr = 0;
            // Assigning an unchanged period would restart the timer and shift every later tick
            // by the handler's own run time.
            if (timer1_->interval() != interval->periodMs)
                timer1_->setInterval(interval->periodMs);
        }
        kresleniegrafu();
        if (countingSinceMs_)
            countingSinceMs_ = nowMs;
    }

    const QString shown = otacky_->text();
    const std::optional<double> v =
        com::isNoSpeedText(shown, locale) ? std::nullopt : readNumber(shown, locale);
    if (!v) {
        rychlost_->setText(QStringLiteral("N/A"));
        zrychlenie_->setText(QStringLiteral("N/A"));
        return;
    }
    sucetotacok = com::addToSpeedSum(sucetotacok, *v);
    ++pocetotacok;
    priemer = com::averageSpeed(sucetotacok, pocetotacok);
    priemerx_->setText(integerText(priemer));
    rychlost_->setText(patternNumber(com::velocity(*v), u"#.##", locale));
    podielteraz = com::velocityPerPeriod(*v, timer1_->interval());
    zrychlenie_->setText(patternNumber(podielteraz - podielpredtym, u"#.##", locale));
    podielpredtym = podielteraz;
}

void Form2::kresleniegrafu()
{
    if (!graf_)
        return;
    const std::optional<double> p = com::pulsesPerRevolution(snimace_->currentText(), QLocale());
    // No scale without pulses per revolution: no point is drawn and the step does not advance,
    // but the period still ends here, so the next count covers one period only.
    if (p) {
        ++krokgrafu;
        const double x = com::graphStepTwips * krokgrafu;
        const std::array traces{
            RunningTrace<double>(xcts, ycts, syscolour::windowText),
            RunningTrace<double>(xcd, ycd, syscolour::buttonFace),
            RunningTrace<double>(xdsr, ydsr, dsrTrace),
        };
        const std::int64_t counts[] = {impulzycts, impulzycd, impulzydsr};
        for (std::size_t i = 0; i < traces.size(); ++i)
            traces[i].drawTo(*graf_, x, com::graphY(counts[i], *p));
        endPageAt(*graf_, krokgrafu, com::graphStepsPerPage, traces);
    }
    impulzycts = impulzycd = impulzydsr = 0;
}

void Form2::Timer2_Timer()
{
    if (!zrych_)
        return;
    takePendingEdges();
    const OnReturn published{[this] {
        readingToFeed("Timer2", {impulzycts, impulzydsr, impulzycd, {}, {}});
    }};
    posuvteraz = impulzyposuvu;
    const double d = com::displacementRate(posuvteraz, posuvpredtym);
    zrych_->setText(generalNumber(d - rychlostposuvu, QLocale()));
    rychlostposuvu = d;
    posuvpredtym = posuvteraz;
}

void Form2::Timer3_Timer()
{
    if (!f_)
        return;
    takePendingEdges();
    const OnReturn published{[this] {
        readingToFeed("Timer3", {impulzycts, impulzydsr, impulzycd, {}, {}});
    }};
    f_->setText(impulzyfrekv ? integerText(*impulzyfrekv) : QString());
    impulzyfrekv = 0;
}

void Form2::readingToFeed(const char* event, PeriodCounts counts) const
{
    if (!feed()->readingHeard() || !otacky_)
        return;
    const QLocale locale;
    const auto shown = [&locale](const char* name, const char* unit, const QLabel* readout) {
        return FeedValue{name, unit, readoutNumber(readout->text(), locale), {}};
    };
    const auto count = [](const char* name, std::int64_t value) {
        return FeedValue{name, "", static_cast<double>(value), {}};
    };
    const auto optional = [](auto value) {
        return value ? std::optional<double>(static_cast<double>(*value)) : std::nullopt;
    };
    feed()->publishReading({event,
                            {
                                shown("otacky", "min^-1", otacky_),
                                shown("rychlost", "m/s", rychlost_),
                                shown("zrychlenie", "m/s^2", zrychlenie_),
                                shown("priemer", "min^-1", priemerx_),
                                shown("posuv", "m", posuvx_),
                                shown("zrych", "m/s^2", zrych_),
                                shown("pootocenie", "°", pootocenie_),
                                shown("trvanie", "ms", trvanie_),
                                shown("f", "Hz", f_),
                                count("impulzycts", counts.cts),
                                count("impulzydsr", counts.dsr),
                                count("impulzycd", counts.cd),
                                FeedValue{"obdobie", "ms", optional(counts.coveredMs), {}},
                                FeedValue{"celeobdobie", "", optional(counts.wholeInterval), {}},
                            }});
}

void Form2::speedInputToFollowers()
{
    const bool open = mscomm1_ && mscomm1_->isOpen();
    const std::optional<com::SpeedInterval> interval =
        com::intervalOfText(interval_->currentText());
    speedInput_->publishSettings({
        open ? mscomm1_->commPort() : 0,
        lineOfName(vstup_->currentText()),
        com::pulsesPerRevolution(snimace_->currentText(), QLocale()),
        interval ? interval->periodMs : 0,
        open ? std::optional(mscomm1_->captureMode()) : std::nullopt,
    });
}

void Form2::settingsToFeed()
{
    // Filling the lists while loading is not a change: the settings are told once it has opened.
    if (!port_ || !feed()->isOpen())
        return;
    speedInputToFollowers();
    const bool open = mscomm1_ && mscomm1_->isOpen();
    feed()->publishSettings({
        {"port", open ? portName(mscomm1_->commPort()) : QString()},
        {"device", open ? serial_.devicePath(mscomm1_->commPort()) : QString()},
        {"captureMode",
         open ? QString::fromLatin1(captureModeName(mscomm1_->captureMode())) : QString()},
        {"snimace", snimace_->currentText()},
        {"interval", interval_->currentText()},
        {"vstup", vstup_->currentText()},
        {"priemerobj", priemerobj_->text()},
        {"vstupposuvu", vstupposuvu_->currentText()},
        {"znacka", znacka_->text()},
        {"vstupuhla", vstupuhla_->currentText()},
        {"znackau", znackau_->text()},
        {"vstupintervalu", vstupintervalu_->currentText()},
        {"vstupfrekv", vstupfrekv_->currentText()},
    });
}

} // namespace diagnostika
