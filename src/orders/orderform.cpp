#include "orderform.h"

#include "common/controls.h"
#include "common/messages.h"
#include "common/numbertext.h"
#include "common/twips.h"
#include "common/vibrationsourcepick.h"
#include "trend/plotlibrary.h"
#include "vibration/analysis/scaling.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <algorithm>
#include <cmath>

namespace diagnostika {
namespace {

using orders::OrderFrame;

// The latest frames kept for the live charts.
constexpr std::size_t liveFrames = 1'000;
// A capture's frames at most: a run-up of an hour at a frame every few revolutions.
constexpr std::size_t runFrames = 50'000;
constexpr double lowestOrder = 0.5;
constexpr double highestOrder = 50.0;
// The map's cells: frequency across, speed up.
constexpr int mapColumns = 240;
constexpr int mapRows = 120;

// In the user's locale, never grouped, as every number the program writes.
QString fixed(double value, int decimals)
{
    return fixedNumber(value, decimals, QLocale());
}

const QColor trackColours[OrderForm::maxTracked] = {
    QColor(200, 40, 40),  QColor(40, 90, 200),  QColor(30, 150, 60),
    QColor(220, 130, 20), QColor(140, 50, 170), QColor(20, 150, 160),
};

// The recording's names for each tracked order's columns: its order, amplitude and phase.
const char* const orderNames[OrderForm::maxTracked][3] = {
    {"rad1", "a1", "faza1"}, {"rad2", "a2", "faza2"}, {"rad3", "a3", "faza3"},
    {"rad4", "a4", "faza4"}, {"rad5", "a5", "faza5"}, {"rad6", "a6", "faza6"},
};

bool inside(double speed, double a, double b)
{
    return speed >= std::min(a, b) && speed <= std::max(a, b);
}

} // namespace

OrderForm::OrderForm(VibrationInputProvider& inputs, SpeedInput& speed, QObject* parent)
    : MeasurementForm(QStringLiteral("ord"), QStringLiteral("Rádová analýza"), QSize(12600, 9000),
                      parent),
      inputs_(inputs), speed_(speed)
{
    setObjectName(QStringLiteral("OrderForm"));
}

OrderForm::~OrderForm()
{
    delete window();
}

const std::vector<OrderFrame>& OrderForm::shownFrames() const
{
    return capture_ == Capture::Live || (capture_ == Capture::Armed && run_.empty()) ? live_ : run_;
}

std::vector<double> OrderForm::trackedOrders() const
{
    return orders_;
}

void OrderForm::buildControls(QWidget* client)
{
    client->setObjectName(QStringLiteral("OrderForm"));
    const auto label = [client](const char* text, int left, int top, int width) {
        makeLabel(client, QString(), QString::fromUtf8(text), left, top + 30, width, 255);
    };
    const auto entry = [client](const char* name, const char* text, int left, int top, int width) {
        auto* e = new QLineEdit(QString::fromUtf8(text), client);
        e->setObjectName(QString::fromLatin1(name));
        e->setGeometry(twipRect(left, top, width, 315));
        return e;
    };
    const auto button = [client](const char* name, const char* text, int left, int top, int width) {
        auto* b = new QPushButton(QString::fromUtf8(text), client);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(twipRect(left, top, width, 375));
        return b;
    };

    label("Zdroj:", 120, 120, 600);
    zdroj_ = makeList(client, QStringLiteral("zdroj"), 720, 120, 3900, 315);
    label("Vzorkovanie:", 4750, 120, 1000);
    vzorkovanie_ = makeList(client, QStringLiteral("vzorkovanie"), 5750, 120, 1050, 315);
    label("Citlivosť [mV/g]:", 6950, 120, 1400);
    citlivost_ = entry("citlivost", "100", 8350, 120, 700);
    label("Rozsah [V]:", 9200, 120, 900);
    rozsah_ = entry("rozsah", "1", 10100, 120, 600);

    label("Rády:", 120, 500, 500);
    rady_ = entry("rady", "1; 2", 620, 500, 1700);
    label("Rozlíšenie:", 2450, 500, 900);
    rozlisenie_ = makeList(client, QStringLiteral("rozlisenie"), 3350, 500, 1000, 315);
    label("Spektrum z:", 4500, 500, 950);
    otackySpektra_ = makeList(client, QStringLiteral("otackySpektra"), 5450, 500, 1300, 315);
    label("Mapa do:", 6900, 500, 750);
    mapaRad_ = makeList(client, QStringLiteral("mapaRad"), 7650, 500, 1100, 315);

    label("Od [min^-1]:", 120, 880, 1000);
    od_ = entry("od", "600", 1120, 880, 800);
    label("do:", 2000, 880, 350);
    do_ = entry("do", "3000", 2350, 880, 800);
    rozsahButton_ = button("podlaOtacok", "Podľa &otáčok", 3300, 850, 1600);
    startButton_ = button("start", "Š&tart", 5000, 850, 1200);
    QPushButton* clear = button("vymazat", "&Vymazať", 6300, 850, 1200);

    stav_ = makeLabel(client, QStringLiteral("stav"), QString(), 120, 1300, 12360, 300);
    QFont bold = stav_->font();
    bold.setBold(true);
    stav_->setFont(bold);
    hodnoty_ = makeLabel(client, QStringLiteral("hodnoty"), QString(), 120, 1620, 12360, 255);

    const auto chart = [client](const char* name, int left, int top, int width, int height) {
        auto* plot = new QCustomPlot(client);
        plot->setObjectName(QString::fromLatin1(name));
        plot->setGeometry(twipRect(left, top, width, height));
        return plot;
    };
    spectrumPlot_ = chart("spektrum", 120, 1950, 6150, 3300);
    spectrumPlot_->xAxis->setLabel(QStringLiteral("rád"));
    spectrumPlot_->yAxis->setLabel(QStringLiteral("a [m/s^2]"));
    spectrumPlot_->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    spectrumPlot_->axisRect()->setRangeDrag(Qt::Horizontal);
    spectrumPlot_->axisRect()->setRangeZoom(Qt::Horizontal);
    spectrumGraph_ = spectrumPlot_->addGraph();
    spectrumGraph_->setPen(QPen(QColor(200, 40, 40), 1));
    spectrumPlot_->xAxis->setRange(0, 20);

    mapPlot_ = chart("mapa", 6330, 1950, 6150, 3300);
    mapPlot_->xAxis->setLabel(QStringLiteral("frekvencia [Hz]"));
    mapPlot_->yAxis->setLabel(QStringLiteral("otáčky [min^-1]"));
    map_ = new QCPColorMap(mapPlot_->xAxis, mapPlot_->yAxis);
    map_->data()->setSize(mapColumns, mapRows);
    map_->setGradient(QCPColorGradient::gpJet);
    map_->setInterpolate(false);

    amplitudePlot_ = chart("bodeAmplituda", 120, 5300, 12360, 1900);
    amplitudePlot_->yAxis->setLabel(QStringLiteral("a [m/s^2]"));
    amplitudePlot_->legend->setVisible(true);
    phasePlot_ = chart("bodeFaza", 120, 7200, 12360, 1450);
    phasePlot_->xAxis->setLabel(QStringLiteral("otáčky [min^-1]"));
    phasePlot_->yAxis->setLabel(QStringLiteral("fáza [°]"));
    phasePlot_->yAxis->setRange(0, 360);
    phasePlot_->yAxis->setTicker(QSharedPointer<QCPAxisTickerFixed>::create());
    qSharedPointerCast<QCPAxisTickerFixed>(phasePlot_->yAxis->ticker())->setTickStep(90);
    kurzor_ = makeLabel(client, QStringLiteral("kurzor"), QString(), 120, 8680, 12360, 255);

    // The cursors: each chart reads what lies under the mouse.
    connect(spectrumPlot_, &QCustomPlot::mouseMove, this, [this](QMouseEvent* event) {
        if (spectrum_.amplitude.empty() || spectrum_.orderStep <= 0)
            return;
        const double order = spectrumPlot_->xAxis->pixelToCoord(event->position().x());
        const auto line =
            static_cast<std::size_t>(std::clamp(std::lround(order / spectrum_.orderStep), 0L,
                                                static_cast<long>(spectrum_.amplitude.size()) - 1));
        kurzor_->setText(
            QStringLiteral("rád %1: a = %2 m/s^2")
                .arg(fixed(spectrum_.order(line), 3), fixed(spectrum_.amplitude[line], 4)));
    });
    for (QCustomPlot* bode : {amplitudePlot_, phasePlot_})
        connect(bode, &QCustomPlot::mouseMove, this, [this, bode](QMouseEvent* event) {
            const std::vector<OrderFrame>& frames = shownFrames();
            if (frames.empty())
                return;
            const double speed = bode->xAxis->pixelToCoord(event->position().x());
            const auto nearest = std::ranges::min_element(
                frames, {}, [speed](const OrderFrame& f) { return std::abs(f.speed - speed); });
            QString text = QStringLiteral("n = %1 min^-1").arg(fixed(nearest->speed, 1));
            for (const orders::OrderPoint& p : nearest->tracks)
                text += QStringLiteral(";  %1×: %2 m/s^2, %3°")
                            .arg(fixed(p.order, 2), fixed(p.amplitude, 4), fixed(p.phaseDeg, 1));
            kurzor_->setText(text);
        });
    connect(mapPlot_, &QCustomPlot::mouseMove, this, [this](QMouseEvent* event) {
        const double hz = mapPlot_->xAxis->pixelToCoord(event->position().x());
        const double speed = mapPlot_->yAxis->pixelToCoord(event->position().y());
        if (shownFrames().empty() || speed <= 0 || hz < 0)
            return;
        kurzor_->setText(QStringLiteral("f = %1 Hz, n = %2 min^-1: rád %3, a = %4 m/s^2")
                             .arg(fixed(hz, 1), fixed(speed, 0), fixed(hz * 60 / speed, 2),
                                  fixed(map_->data()->data(hz, speed), 4)));
    });

    connect(zdroj_, &QComboBox::activated, this, &OrderForm::zdroj_Click);
    connect(vzorkovanie_, &QComboBox::activated, this, &OrderForm::openInput);
    for (QComboBox* list : {rozlisenie_, otackySpektra_, mapaRad_})
        connect(list, &QComboBox::activated, this, [this, list] {
            if (list == rozlisenie_)
                restartTracking();
            framesDue_ = true;
            settingsToFeed();
        });
    for (QLineEdit* e : {citlivost_, rozsah_, od_, do_})
        connect(e, &QLineEdit::editingFinished, this, &OrderForm::settingsToFeed);
    connect(rady_, &QLineEdit::editingFinished, this, &OrderForm::readOrders);
    connect(rozsahButton_, &QPushButton::clicked, this, &OrderForm::rozsah_Click);
    connect(startButton_, &QPushButton::clicked, this, &OrderForm::start_Click);
    connect(clear, &QPushButton::clicked, this, &OrderForm::vymazat_Click);

    // The shaft: every edge of the speed line, as the serial window receives it.
    connect(&speed_, &SpeedInput::edge, client, [this](const LineEvent& event) {
        const SpeedInputSettings& s = speed_.settings();
        if (tracker_ && s.line && event.commEvent == commEventOf(*s.line))
            tracker_->addEdge(event.level, event.stampUs, event.timed);
    });
    connect(&speed_, &SpeedInput::settingsChanged, client, [this](const SpeedInputSettings& s) {
        // Another port, line or sensor: the pulses no longer continue those counted so far. (The
        // counting interval does not matter here.)
        if (s.commPort != followed_.commPort || s.line != followed_.line ||
            s.pulsesPerRevolution != followed_.pulsesPerRevolution ||
            s.captureMode != followed_.captureMode)
            restartTracking();
    });

    timer_ = makeTimer(client, QStringLiteral("Timer1"), refreshMs);
    connect(timer_, &QTimer::timeout, this, &OrderForm::refresh);
    timer_->start();
}

void OrderForm::formLoad()
{
    fillChoices(rozlisenie_, {"1/4 rádu", "1/8 rádu", "1/16 rádu", "1/32 rádu"}, 1);
    fillChoices(otackySpektra_, {"8 otáčok", "16 otáčok", "32 otáčok", "64 otáčok", "128 otáčok"},
                2);
    fillChoices(mapaRad_, {"5. rádu", "10. rádu", "20. rádu", "50. rádu"}, 1);
    rady_->setText(orderTexts());
    sources_ = inputs_.sources();
    for (const VibrationSource& source : sources_)
        zdroj_->addItem(source.name);
    zdroj_->setCurrentIndex(sources_.empty() ? -1 : 0);
    live_.clear();
    capture_ = run_.empty() ? Capture::Live : Capture::Done;
    restartTracking();
    if (!sources_.empty())
        zdroj_Click();
    updateReason();
}

void OrderForm::formUnload()
{
    if (input_)
        input_->close();
}

void OrderForm::releaseControls()
{
    input_.reset();
    zdroj_ = vzorkovanie_ = rozlisenie_ = otackySpektra_ = mapaRad_ = nullptr;
    citlivost_ = rozsah_ = rady_ = od_ = do_ = nullptr;
    rozsahButton_ = startButton_ = nullptr;
    stav_ = hodnoty_ = kurzor_ = nullptr;
    spectrumPlot_ = amplitudePlot_ = phasePlot_ = mapPlot_ = nullptr;
    spectrumGraph_ = nullptr;
    map_ = nullptr;
    timer_ = nullptr;
}

void OrderForm::zdroj_Click()
{
    const int index = zdroj_->currentIndex();
    if (index < 0 || index >= static_cast<int>(sources_.size()))
        return;
    QString problem;
    if (!offerVibrationSource(inputs_, sources_[index], vzorkovanie_, rozsah_, citlivost_,
                              &problem)) {
        stav_->setText(problem);
        return;
    }
    openInput();
}

void OrderForm::openInput()
{
    const int index = zdroj_ ? zdroj_->currentIndex() : -1;
    if (index < 0 || index >= static_cast<int>(sources_.size()) || vzorkovanie_->count() == 0)
        return;
    if (!input_)
        input_ = inputs_.create();
    VibrationSettings settings;
    settings.source = sources_[index].id;
    settings.rate = vzorkovanie_->currentData().toInt();
    VibrationError error;
    if (!input_->open(settings, &error)) {
        const QString text = QStringLiteral("Vstup %1 sa nepodarilo otvoriť: %2")
                                 .arg(sources_[index].name, error.reason);
        stav_->setText(text);
        showInformation(client(), applicationTitle(), text);
        return;
    }
    restartTracking();
    settingsToFeed();
}

void OrderForm::restartTracking()
{
    const SpeedInputSettings& s = speed_.settings();
    followed_ = s;
    tracker_.reset();
    spectrum_ = {};
    live_.clear();
    framesDue_ = true;
    if (!s.pulsesPerRevolution || *s.pulsesPerRevolution <= 0)
        return;
    orders::OrderSettings settings;
    settings.frameRevolutions = rozlisenie_ ? 4 << std::max(0, rozlisenie_->currentIndex()) : 8;
    settings.hopRevolutions = std::max(1, settings.frameRevolutions / 2);
    settings.maxOrder = highestOrder;
    settings.trackedOrders = orders_;
    tracker_ = std::make_unique<orders::OrderTracker>(*s.pulsesPerRevolution, settings);
}

void OrderForm::readOrders()
{
    // Orders as the user types them: "1; 2; 3,5" (the locale's decimal comma, so ';' or spaces
    // between them).
    std::vector<double> typed;
    const QStringList parts =
        rady_->text().split(QRegularExpression(QStringLiteral("[;\\s]+")), Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        bool ok = false;
        double v = QLocale().toDouble(part, &ok);
        if (!ok)
            v = QLocale::c().toDouble(part, &ok);
        if (ok && v >= lowestOrder && v <= highestOrder &&
            std::ranges::find(typed, v) == typed.end() &&
            typed.size() < static_cast<std::size_t>(maxTracked))
            typed.push_back(v);
    }
    if (!typed.empty() && typed != orders_) {
        orders_ = typed;
        // Frames keep the tracks of the orders they were made with: the charts start afresh.
        run_.clear();
        if (capture_ == Capture::Done || capture_ == Capture::Running)
            capture_ = Capture::Live;
        restartTracking();
        clearCharts();
    }
    rady_->setText(orderTexts());
    showCaptureState();
    settingsToFeed();
}

QString OrderForm::orderTexts() const
{
    QStringList texts;
    for (double o : orders_)
        texts << QLocale().toString(o, 'g', 6);
    return texts.join(QStringLiteral("; "));
}

void OrderForm::rozsah_Click()
{
    if (capture_ == Capture::Armed || (capture_ == Capture::Running && byRange_)) {
        capture_ = run_.empty() ? Capture::Live : Capture::Done;
    } else if (positiveEntry(od_) && positiveEntry(do_)) {
        byRange_ = true;
        capture_ = Capture::Armed;
        run_.clear();
    }
    framesDue_ = true;
    showCaptureState();
}

void OrderForm::start_Click()
{
    if (capture_ == Capture::Running) {
        capture_ = Capture::Done;
    } else {
        byRange_ = false;
        capture_ = Capture::Running;
        run_.clear();
    }
    framesDue_ = true;
    showCaptureState();
}

void OrderForm::vymazat_Click()
{
    run_.clear();
    live_.clear();
    capture_ = Capture::Live;
    clearCharts();
    showCaptureState();
}

void OrderForm::showCaptureState()
{
    if (!startButton_)
        return;
    startButton_->setText(capture_ == Capture::Running ? QStringLiteral("Sto&p")
                                                       : QStringLiteral("Š&tart"));
    rozsahButton_->setText(capture_ == Capture::Armed || (capture_ == Capture::Running && byRange_)
                               ? QStringLiteral("Zrušiť &otáčky")
                               : QStringLiteral("Podľa &otáčok"));
    if (!reason_.isEmpty()) {
        stav_->setStyleSheet(QStringLiteral("color: #b00000;"));
        stav_->setText(reason_);
        return;
    }
    stav_->setStyleSheet(QString());
    switch (capture_) {
    case Capture::Live:
        stav_->setText(QStringLiteral("Priebežne: posledné otáčky."));
        break;
    case Capture::Armed:
        stav_->setText(
            QStringLiteral("Čaká sa na otáčky od %1 do %2 min^-1.").arg(od_->text(), do_->text()));
        break;
    case Capture::Running:
        stav_->setText(QStringLiteral("Zaznamenáva sa nábeh/dobeh: %1 bodov.").arg(run_.size()));
        break;
    case Capture::Done:
        stav_->setText(QStringLiteral("Zaznamenaný nábeh/dobeh: %1 bodov, %2 až %3 min^-1.")
                           .arg(run_.size())
                           .arg(fixed(run_.empty() ? 0 : run_.front().speed, 0),
                                fixed(run_.empty() ? 0 : run_.back().speed, 0)));
        break;
    }
}

void OrderForm::updateReason()
{
    const SpeedInputSettings& s = speed_.settings();
    QString reason;
    if (!input_ || !input_->isOpen())
        reason = sources_.empty() ? QStringLiteral("Nenašiel sa žiadny vstup vibrácií.")
                                  : QStringLiteral("Vstup vibrácií nie je otvorený.");
    else if (s.commPort == 0)
        reason =
            QStringLiteral("Otáčky nie sú známe: v okne sériového portu nie je otvorený port.");
    else if (!s.line || !s.pulsesPerRevolution)
        reason = QStringLiteral("Otáčky nie sú známe: v okne sériového portu zvoľte vstup a počet "
                                "impulzov na otáčku.");
    else if (s.captureMode &&
             (*s.captureMode == CaptureMode::Levels || *s.captureMode == CaptureMode::Polled))
        reason = QStringLiteral("Port COM%1 nezachytáva čas každého impulzu (ovládač nepočíta "
                                "zmeny liniek); rádová analýza ho potrebuje.")
                     .arg(s.commPort);
    else if (!tracker_ || !tracker_->tachometer().lastPulseUs())
        reason = QStringLiteral("Čaká sa na impulzy otáčok.");
    else {
        // Pulses stopped: none for three of the last periods, or two seconds.
        const orders::Tachometer& tacho = tracker_->tachometer();
        const std::optional<std::int64_t> seen = speed_.timing().seenUntilUs;
        const std::optional<double> rpm = tacho.lastSpeed();
        const double periodUs = rpm && *rpm > 0 ? 60e6 / (*rpm * tacho.pulsesPerRevolution()) : 0;
        if (!seen ||
            static_cast<double>(*seen) - *tacho.lastPulseUs() > std::max(2e6, 3 * periodUs))
            reason = QStringLiteral("Impulzy otáčok neprichádzajú: hriadeľ stojí alebo snímač "
                                    "nedáva impulzy.");
    }
    if (reason != reason_) {
        reason_ = reason;
        if (!reason_.isEmpty())
            clearCharts();
        showCaptureState();
    }
}

void OrderForm::refresh()
{
    if (!input_)
        return;
    const std::vector<VibrationBlock> blocks = input_->takeBlocks();
    vibration::Scaling scale;
    scale.fullScaleVolts = citlivost_ ? positiveEntry(rozsah_).value_or(0) : 0;
    scale.sensitivity = citlivost_ ? positiveEntry(citlivost_).value_or(0) : 0;
    scale.sensitivityUnit = vibration::SensitivityUnit::MillivoltPerG;
    if (tracker_ && scale.valid()) {
        for (const VibrationBlock& block : blocks) {
            scratch_.resize(block.samples.size());
            vibration::toAcceleration(block.samples, scale,
                                      vibration::AccelerationUnit::MetrePerSecond2, scratch_);
            tracker_->addSamples(static_cast<double>(block.firstSampleUs), block.rate, scratch_);
        }
        for (OrderFrame& frame : tracker_->update())
            takeFrame(std::move(frame));
    }
    updateReason();
    if (++turns_ % drawEvery == 0)
        draw();
}

void OrderForm::takeFrame(OrderFrame frame)
{
    if (feed()->readingHeard()) {
        FeedReading reading{"ramec", {FeedValue{"otacky", "min^-1", frame.speed, {}}}};
        for (std::size_t i = 0; i < frame.tracks.size() && i < maxTracked; ++i) {
            const orders::OrderPoint& p = frame.tracks[i];
            reading.values.push_back({orderNames[i][0], "", p.order, {}});
            reading.values.push_back({orderNames[i][1], "m/s^2", p.amplitude, {}});
            reading.values.push_back({orderNames[i][2], "°", p.phaseDeg, {}});
        }
        feed()->publishReading(reading);
    }
    const std::optional<double> from = od_ ? positiveEntry(od_) : std::nullopt;
    const std::optional<double> to = do_ ? positiveEntry(do_) : std::nullopt;
    const bool inRange = from && to && inside(frame.speed, *from, *to);
    if (capture_ == Capture::Armed && inRange) {
        capture_ = Capture::Running;
        run_.clear();
    } else if (capture_ == Capture::Running && byRange_ && !inRange) {
        capture_ = Capture::Done;
    }
    if (capture_ == Capture::Running && run_.size() < runFrames)
        run_.push_back(frame);
    live_.push_back(std::move(frame));
    if (live_.size() > liveFrames)
        live_.erase(live_.begin(), live_.begin() + static_cast<std::ptrdiff_t>(liveFrames / 4));
    framesDue_ = true;
}

void OrderForm::clearCharts()
{
    if (!spectrumPlot_)
        return;
    spectrumGraph_->data()->clear();
    for (QCustomPlot* plot : {amplitudePlot_, phasePlot_})
        plot->clearGraphs();
    mapPlot_->clearGraphs();
    map_->data()->fill(0);
    hodnoty_->clear();
    for (QCustomPlot* plot : {spectrumPlot_, amplitudePlot_, phasePlot_, mapPlot_})
        plot->replot(QCustomPlot::rpQueuedReplot);
}

void OrderForm::draw()
{
    if (!spectrumPlot_ || !reason_.isEmpty())
        return;
    drawSpectrum();
    if (framesDue_) {
        framesDue_ = false;
        drawBode();
        drawMap();
        showCaptureState();
    }
}

void OrderForm::drawSpectrum()
{
    if (!tracker_)
        return;
    const int revolutions = 8 << std::max(0, otackySpektra_->currentIndex());
    if (tracker_->revolutionsHeld() < 2)
        return;
    spectrum_ = orders::orderSpectrum(tracker_->recent(revolutions),
                                      tracker_->settings().samplesPerRevolution, highestOrder);
    QVector<QCPGraphData> points;
    points.reserve(static_cast<int>(spectrum_.amplitude.size()));
    double top = 0;
    for (std::size_t k = 0; k < spectrum_.amplitude.size(); ++k) {
        points.append(QCPGraphData(spectrum_.order(k), spectrum_.amplitude[k]));
        if (spectrum_.order(k) >= lowestOrder)
            top = std::max(top, spectrum_.amplitude[k]);
    }
    spectrumGraph_->data()->set(points, true);
    spectrumPlot_->yAxis->setRange(0, std::max(top * 1.1, 1e-9));
    spectrumPlot_->replot(QCustomPlot::rpQueuedReplot);
}

void OrderForm::drawBode()
{
    const std::vector<OrderFrame>& frames = shownFrames();
    for (QCustomPlot* plot : {amplitudePlot_, phasePlot_})
        while (plot->graphCount() < static_cast<int>(orders_.size())) {
            QCPGraph* g = plot->addGraph();
            const QColor colour = trackColours[plot->graphCount() - 1];
            g->setPen(QPen(colour, 1.5));
            if (plot == phasePlot_) {
                // Phase wraps at 360: points, not a line across the chart.
                g->setLineStyle(QCPGraph::lsNone);
                g->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, colour, 3));
            }
        }
    double top = 0;
    for (std::size_t i = 0; i < orders_.size(); ++i) {
        QVector<QCPGraphData> amplitude, phase;
        amplitude.reserve(static_cast<int>(frames.size()));
        phase.reserve(static_cast<int>(frames.size()));
        for (const OrderFrame& f : frames) {
            if (i >= f.tracks.size())
                continue;
            amplitude.append(QCPGraphData(f.speed, f.tracks[i].amplitude));
            phase.append(QCPGraphData(f.speed, f.tracks[i].phaseDeg));
            top = std::max(top, f.tracks[i].amplitude);
        }
        amplitudePlot_->graph(static_cast<int>(i))->data()->set(amplitude);
        amplitudePlot_->graph(static_cast<int>(i))
            ->setName(QStringLiteral("%1×").arg(QLocale().toString(orders_[i], 'g', 6)));
        phasePlot_->graph(static_cast<int>(i))->data()->set(phase);
    }
    if (!frames.empty()) {
        const auto [lo, hi] = std::ranges::minmax(frames, {}, &OrderFrame::speed);
        const double margin = std::max(1.0, 0.02 * (hi.speed - lo.speed));
        for (QCustomPlot* plot : {amplitudePlot_, phasePlot_})
            plot->xAxis->setRange(lo.speed - margin, hi.speed + margin);
        amplitudePlot_->yAxis->setRange(0, std::max(top * 1.1, 1e-9));
        const OrderFrame& last = frames.back();
        QString text = QStringLiteral("n = %1 min^-1").arg(fixed(last.speed, 1));
        for (const orders::OrderPoint& p : last.tracks)
            text += QStringLiteral(";   %1×: %2 m/s^2, %3°")
                        .arg(QLocale().toString(p.order, 'g', 6), fixed(p.amplitude, 4),
                             fixed(p.phaseDeg, 1));
        hodnoty_->setText(text);
    }
    for (QCustomPlot* plot : {amplitudePlot_, phasePlot_})
        plot->replot(QCustomPlot::rpQueuedReplot);
}

void OrderForm::drawMap()
{
    const std::vector<OrderFrame>& frames = shownFrames();
    QCPColorMapData* data = map_->data();
    data->fill(0);
    mapPlot_->clearGraphs();
    if (frames.empty()) {
        mapPlot_->replot(QCustomPlot::rpQueuedReplot);
        return;
    }
    const auto [lo, hi] = std::ranges::minmax(frames, {}, &OrderFrame::speed);
    const double slow = lo.speed, fast = std::max(hi.speed, lo.speed + 1.0);
    static constexpr double spans[] = {5, 10, 20, 50};
    const double order = spans[std::clamp(mapaRad_->currentIndex(), 0, 3)];
    const double topHz = order * fast / 60.0;
    data->setRange(QCPRange(0, topHz), QCPRange(slow, fast));
    // Each frame into the row of its speed, each column the spectrum's line at that frequency's
    // order; where frames share a row the highest stands.
    for (const OrderFrame& f : frames) {
        if (f.spectrum.orderStep <= 0 || f.speed <= 0)
            continue;
        int column = 0, row = 0;
        data->coordToCell(0, f.speed, &column, &row);
        for (int x = 0; x < mapColumns; ++x) {
            double hz = 0, unused = 0;
            data->cellToCoord(x, row, &hz, &unused);
            const double at = hz * 60.0 / f.speed / f.spectrum.orderStep;
            const auto line = static_cast<std::size_t>(std::lround(at));
            if (line >= f.spectrum.amplitude.size())
                break;
            const double a = f.spectrum.amplitude[line];
            if (a > data->cell(x, row))
                data->setCell(x, row, a);
        }
    }
    map_->rescaleDataRange(true);
    // The tracked orders over the map: lines f = order * n / 60.
    for (std::size_t i = 0; i < orders_.size(); ++i) {
        QCPGraph* g = mapPlot_->addGraph();
        g->setPen(QPen(Qt::white, 1, Qt::DashLine));
        g->setData({orders_[i] * slow / 60.0, orders_[i] * fast / 60.0}, {slow, fast}, true);
    }
    mapPlot_->xAxis->setRange(0, topHz);
    mapPlot_->yAxis->setRange(slow, fast);
    mapPlot_->replot(QCustomPlot::rpQueuedReplot);
}

void OrderForm::settingsToFeed()
{
    if (!zdroj_ || !feed()->isOpen())
        return;
    feed()->publishSettings({
        {"zdroj", input_ && input_->isOpen() ? input_->settings().source : QString()},
        {"vzorkovanie", vzorkovanie_->currentText()},
        {"citlivost", citlivost_->text()},
        {"rozsah", rozsah_->text()},
        {"rady", rady_->text()},
        {"rozlisenie", rozlisenie_->currentText()},
        {"spektrum", otackySpektra_->currentText()},
        {"od", od_->text()},
        {"do", do_->text()},
    });
}

} // namespace diagnostika
