#include "vibrationform.h"

#include "common/controls.h"
#include "common/messages.h"
#include "common/numbertext.h"
#include "common/twips.h"
#include "common/vibrationsourcepick.h"
#include "trend/plotlibrary.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cmath>

namespace diagnostika {
namespace {

using vibration::AccelerationUnit;
using vibration::Zone;

// How long a stretch the time signal shows.
constexpr double timeSignalSeconds = 0.2;
// How often the feed carries the averaged spectrum: a recording's spectra, not every one shown.
constexpr double spectrumPeriodS = 10.0;

// In the user's locale, never grouped, as every number the program writes.
QString fixed(double value, int decimals)
{
    return fixedNumber(value, decimals, QLocale());
}

QColor zoneColour(Zone zone)
{
    switch (zone) {
    case Zone::A:
        return QColor(40, 160, 60);
    case Zone::B:
        return QColor(150, 190, 40);
    case Zone::C:
        return QColor(235, 150, 30);
    case Zone::D:
        break;
    }
    return QColor(210, 40, 40);
}

QLabel* bigReadout(QWidget* parent, const char* name, int left, int top, int width)
{
    QLabel* label =
        makeLabel(parent, QString::fromLatin1(name), QStringLiteral("–"), left, top, width, 480);
    QFont big = label->font();
    big.setPointSize(14);
    big.setBold(true);
    label->setFont(big);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

const char* const unitTexts[] = {"m/s^2", "g"};

} // namespace

VibrationForm::VibrationForm(VibrationInputProvider& inputs, SpeedInput& speed, QObject* parent)
    : MeasurementForm(QStringLiteral("vib"), QStringLiteral("Vibrácie"), QSize(12600, 8400),
                      parent),
      inputs_(inputs), speed_(speed)
{
    setObjectName(QStringLiteral("VibrationForm"));
}

VibrationForm::~VibrationForm()
{
    delete window();
}

const vibration::Spectrum* VibrationForm::spectrum() const
{
    return analyzer_ && !analyzer_->spectrum().amplitude.empty() ? &analyzer_->spectrum() : nullptr;
}

void VibrationForm::buildControls(QWidget* client)
{
    client->setObjectName(QStringLiteral("VibrationForm"));
    const auto label = [client](const char* text, int left, int top, int width) {
        makeLabel(client, QString(), QString::fromUtf8(text), left, top + 30, width, 255);
    };
    // Each list with its caption before it, row by row.
    const struct {
        const char* caption;
        int left, top, width;
        const char* name;
        int listLeft, listWidth;
        QComboBox** list;
    } lists[] = {
        {"Zdroj:", 120, 120, 600, "zdroj", 720, 3700, &zdroj_},
        {"Vzorkovanie:", 4550, 120, 1000, "vzorkovanie", 5550, 1050, &vzorkovanie_},
        {"Kanál:", 6750, 120, 550, "kanal", 7300, 700, &kanal_},
        {"Jednotka:", 8150, 120, 800, "jednotka", 8950, 1000, &jednotka_},
        {"Stroj:", 4650, 500, 500, "skupina", 5150, 2000, &skupina_},
        {"Základ:", 7300, 500, 650, "zaklad", 7950, 1100, &zaklad_},
        {"Pásmo:", 9200, 500, 600, "pasmo", 9800, 1100, &pasmo_},
        {"Čiary:", 120, 880, 600, "ciary", 720, 900, &ciary_},
        {"Okno:", 1750, 880, 550, "okno", 2300, 1000, &okno_},
        {"Priemer:", 3450, 880, 700, "priemerovanie", 4150, 1500, &priemerovanie_},
        {"Počet:", 5800, 880, 550, "pocet", 6350, 650, &pocet_},
        {"Amplitúda:", 7150, 880, 900, "amplituda", 8050, 900, &amplituda_},
        {"Os:", 9100, 880, 350, "os", 9450, 1300, &os_},
    };
    for (const auto& l : lists) {
        label(l.caption, l.left, l.top, l.width);
        *l.list =
            makeList(client, QString::fromLatin1(l.name), l.listLeft, l.top, l.listWidth, 315);
    }
    const struct {
        const char* caption;
        int left, width;
        const char* name;
        const char* text;
        int entryLeft;
        QLineEdit** entry;
    } entries[] = {
        {"Citlivosť [mV/g]:", 120, 1400, "citlivost", "100", 1520, &citlivost_},
        {"Rozsah vstupu [V]:", 2350, 1450, "rozsah", "1", 3800, &rozsah_},
    };
    for (const auto& e : entries) {
        label(e.caption, e.left, 500, e.width);
        *e.entry = new QLineEdit(QString::fromLatin1(e.text), client);
        (*e.entry)->setObjectName(QString::fromLatin1(e.name));
        (*e.entry)->setGeometry(twipRect(e.entryLeft, 500, 700, 315));
    }

    drzat_ = new QPushButton(QStringLiteral("&Držať"), client);
    drzat_->setObjectName(QStringLiteral("drzat"));
    drzat_->setGeometry(twipRect(11000, 100, 1450, 375));
    auto* reset = new QPushButton(QStringLiteral("&Vynulovať"), client);
    reset->setObjectName(QStringLiteral("vynulovat"));
    reset->setGeometry(twipRect(11000, 500, 1450, 375));

    // The overall values large, each with its unit beside it.
    label("a RMS:", 120, 1420, 650);
    arms_ = bigReadout(client, "arms", 770, 1330, 1350);
    armsUnit_ = makeLabel(client, QStringLiteral("armsUnit"), QString(), 2150, 1450, 600, 255);
    label("a špička:", 2800, 1420, 800);
    apeak_ = bigReadout(client, "apeak", 3600, 1330, 1350);
    apeakUnit_ = makeLabel(client, QStringLiteral("apeakUnit"), QString(), 4980, 1450, 600, 255);
    label("činiteľ výkyvu:", 5650, 1420, 1300);
    crest_ = bigReadout(client, "crest", 6900, 1330, 900);
    label("v RMS:", 8000, 1420, 600);
    vrms_ = bigReadout(client, "vrms", 8600, 1330, 1100);
    label("mm/s", 9730, 1420, 500);
    zona_ = makeLabel(client, QStringLiteral("zona"), QStringLiteral("–"), 10350, 1330, 2100, 480);
    zona_->setAlignment(Qt::AlignCenter);
    QFont zoneFont = zona_->font();
    zoneFont.setBold(true);
    zoneFont.setPointSize(12);
    zona_->setFont(zoneFont);
    note_ = makeLabel(client, QStringLiteral("poznamka"), QString(), 120, 1900, 12360, 255);

    timePlot_ = new QCustomPlot(client);
    timePlot_->setObjectName(QStringLiteral("signal"));
    timePlot_->setGeometry(twipRect(120, 2200, 12360, 1900));
    timePlot_->xAxis->setLabel(QStringLiteral("čas [ms]"));
    timeGraph_ = timePlot_->addGraph();
    timeGraph_->setPen(QPen(QColor(70, 130, 200), 1));

    spectrumPlot_ = new QCustomPlot(client);
    spectrumPlot_->setObjectName(QStringLiteral("spektrum"));
    spectrumPlot_->setGeometry(twipRect(120, 4200, 9300, 3800));
    spectrumPlot_->xAxis->setLabel(QStringLiteral("frekvencia [Hz]"));
    spectrumPlot_->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    spectrumPlot_->axisRect()->setRangeDrag(Qt::Horizontal);
    spectrumPlot_->axisRect()->setRangeZoom(Qt::Horizontal);
    spectrumGraph_ = spectrumPlot_->addGraph();
    spectrumGraph_->setPen(QPen(QColor(200, 40, 40), 1));
    peaksText_ = makeLabel(client, QStringLiteral("spicky"), QString(), 9550, 4200, 2950, 3800);
    peaksText_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    peaksText_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    cursor_ = makeLabel(client, QStringLiteral("kurzor"), QString(), 120, 8050, 9300, 255);

    // The cursor reads the spectrum's line under the mouse.
    connect(spectrumPlot_, &QCustomPlot::mouseMove, this, [this](QMouseEvent* event) {
        const vibration::Spectrum* s = spectrum();
        if (!s || s->lineSpacing <= 0)
            return;
        const double f = spectrumPlot_->xAxis->pixelToCoord(event->position().x());
        const auto line = static_cast<std::size_t>(std::clamp(
            std::lround(f / s->lineSpacing), 1L, static_cast<long>(s->amplitude.size()) - 1));
        QString text = QStringLiteral("f = %1 Hz, A = %2 %3")
                           .arg(fixed(s->frequency(line), 2), fixed(s->amplitude[line], 4),
                                QString::fromLatin1(unitTexts[jednotka_->currentIndex() == 1]));
        if (shaftHz_ && *shaftHz_ > 0)
            text += QStringLiteral(", rád %1").arg(fixed(s->frequency(line) / *shaftHz_, 2));
        cursor_->setText(text);
    });

    connect(zdroj_, &QComboBox::activated, this, &VibrationForm::zdroj_Click);
    for (QComboBox* list : {vzorkovanie_, kanal_})
        connect(list, &QComboBox::activated, this, &VibrationForm::openInput);
    for (QComboBox* list : {jednotka_, skupina_, zaklad_, pasmo_, ciary_, okno_, priemerovanie_,
                            pocet_, amplituda_, os_})
        connect(list, &QComboBox::activated, this, [this] {
            restartAnalysis();
            settingsToFeed();
        });
    for (QLineEdit* entry : {citlivost_, rozsah_})
        connect(entry, &QLineEdit::editingFinished, this, [this] {
            restartAnalysis();
            settingsToFeed();
        });
    connect(drzat_, &QPushButton::clicked, this, &VibrationForm::drzat_Click);
    connect(reset, &QPushButton::clicked, this, &VibrationForm::vynulovat_Click);

    // The shaft's frequency for the order markers: from the stamped pulses of the speed line, so
    // the markers stay on their orders while the speed changes; the serial window's counted speed
    // (a mean over its interval) where the port cannot time its pulses.
    connect(&speed_, &SpeedInput::counted, client, [this](const CountedSpeed& counted) {
        if (counted.wholeInterval)
            countedHz_ = counted.speed / 60.0;
    });
    const auto follow = [this](const SpeedInputSettings& s) {
        countedHz_.reset();
        shaftHz_.reset();
        tachometer_.reset();
        if (s.complete())
            tachometer_ = std::make_unique<orders::Tachometer>(*s.pulsesPerRevolution);
    };
    connect(&speed_, &SpeedInput::settingsChanged, client, follow);
    // The serial window may have picked its port before this window opened.
    follow(speed_.settings());
    connect(&speed_, &SpeedInput::edge, client, [this](const LineEvent& event) {
        const SpeedInputSettings& s = speed_.settings();
        if (tachometer_ && s.line && event.commEvent == commEventOf(*s.line))
            tachometer_->addEdge(event.level, event.stampUs, event.timed);
    });

    timer_ = makeTimer(client, QStringLiteral("Timer1"), refreshMs);
    connect(timer_, &QTimer::timeout, this, &VibrationForm::refresh);
    timer_->start();
}

void VibrationForm::formLoad()
{
    fillChoices(jednotka_, {"m/s^2", "g"});
    fillChoices(skupina_, {"skupina 1: nad 300 kW", "skupina 2: 15 až 300 kW"}, 1);
    fillChoices(zaklad_, {"tuhý", "poddajný"});
    // The slower band is for machines below 600 min^-1.
    fillChoices(pasmo_, {"10 až 1000 Hz", "2 až 1000 Hz"});
    fillChoices(ciary_, {"400", "800", "1600", "3200", "6400", "12800", "25600"}, 2);
    fillChoices(okno_, {"Hann", "flat-top"});
    fillChoices(priemerovanie_, {"lineárny", "exponenciálny"});
    fillChoices(pocet_, {"1", "2", "4", "8", "16", "32"}, 2);
    fillChoices(amplituda_, {"RMS", "špička"});
    fillChoices(os_, {"lineárna", "logaritmická"});
    sources_ = inputs_.sources();
    for (const VibrationSource& source : sources_)
        zdroj_->addItem(source.name);
    zdroj_->setCurrentIndex(sources_.empty() ? -1 : 0);
    overall_.reset();
    zone_.reset();
    peaks_.clear();
    recent_.clear();
    holding_ = false;
    if (sources_.empty())
        note_->setText(QStringLiteral("Nenašiel sa žiadny zvukový vstup."));
    else
        zdroj_Click();
}

void VibrationForm::formUnload()
{
    if (input_)
        input_->close();
}

void VibrationForm::releaseControls()
{
    input_.reset();
    zdroj_ = vzorkovanie_ = kanal_ = jednotka_ = skupina_ = zaklad_ = pasmo_ = nullptr;
    ciary_ = okno_ = priemerovanie_ = pocet_ = amplituda_ = os_ = nullptr;
    citlivost_ = rozsah_ = nullptr;
    drzat_ = nullptr;
    arms_ = apeak_ = crest_ = vrms_ = zona_ = note_ = peaksText_ = cursor_ = nullptr;
    armsUnit_ = apeakUnit_ = nullptr;
    timePlot_ = spectrumPlot_ = nullptr;
    timeGraph_ = spectrumGraph_ = nullptr;
    markers_.clear();
    timer_ = nullptr;
}

void VibrationForm::zdroj_Click()
{
    const int index = zdroj_->currentIndex();
    if (index < 0 || index >= static_cast<int>(sources_.size()))
        return;
    kanal_->clear();
    QString problem;
    const std::optional<VibrationCapabilities> caps =
        offerVibrationSource(inputs_, sources_[index], vzorkovanie_, rozsah_, citlivost_, &problem);
    if (!caps) {
        note_->setText(problem);
        return;
    }
    for (int c = 0; c < caps->channels; ++c)
        kanal_->addItem(QString::number(c + 1));
    kanal_->setCurrentIndex(0);
    openInput();
}

void VibrationForm::openInput()
{
    const int index = zdroj_ ? zdroj_->currentIndex() : -1;
    if (index < 0 || index >= static_cast<int>(sources_.size()) || vzorkovanie_->count() == 0)
        return;
    if (!input_) {
        input_ = inputs_.create();
        connect(input_.get(), &VibrationInput::inputLost, this, &VibrationForm::inputLost);
    }
    VibrationSettings settings;
    settings.source = sources_[index].id;
    settings.rate = vzorkovanie_->currentData().toInt();
    settings.channel = std::max(0, kanal_->currentIndex());
    VibrationError error;
    if (!input_->open(settings, &error)) {
        const QString text = QStringLiteral("Vstup %1 sa nepodarilo otvoriť: %2")
                                 .arg(sources_[index].name, error.reason);
        note_->setText(text);
        showInformation(client(), applicationTitle(), text);
        return;
    }
    rate_ = input_->settings().rate;
    lost_ = 0;
    ++opening_;
    note_->clear();
    restartAnalysis();
    settingsToFeed();
}

void VibrationForm::inputLost(const VibrationError& error)
{
    // Told in the window, not by a box: what was measured stays on screen.
    if (note_)
        note_->setText(QStringLiteral("Vstup %1 sa odpojil: %2. Namerané hodnoty zostávajú.")
                           .arg(error.device, error.reason));
}

vibration::Scaling VibrationForm::scaling() const
{
    vibration::Scaling s;
    s.fullScaleVolts = positiveEntry(rozsah_).value_or(0);
    s.sensitivity = positiveEntry(citlivost_).value_or(0);
    s.sensitivityUnit = vibration::SensitivityUnit::MillivoltPerG;
    return s;
}

vibration::AccelerationUnit VibrationForm::unit() const
{
    return jednotka_ && jednotka_->currentIndex() == 1 ? AccelerationUnit::G
                                                       : AccelerationUnit::MetrePerSecond2;
}

vibration::SpectrumSettings VibrationForm::spectrumSettings() const
{
    vibration::SpectrumSettings s;
    s.sampleRate = rate_;
    s.lines = ciary_->currentText().toInt();
    s.window =
        okno_->currentIndex() == 1 ? vibration::WindowKind::FlatTop : vibration::WindowKind::Hann;
    s.overlap = 0.75;
    s.averaging = priemerovanie_->currentIndex() == 1 ? vibration::Averaging::Exponential
                                                      : vibration::Averaging::Linear;
    s.averages = std::max(1, pocet_->currentText().toInt());
    s.scale = amplituda_->currentIndex() == 1 ? vibration::AmplitudeScale::Peak
                                              : vibration::AmplitudeScale::Rms;
    return s;
}

void VibrationForm::restartAnalysis()
{
    if (!client() || rate_ <= 0)
        return;
    meter_ = std::make_unique<vibration::OverallMeter>(
        rate_, pasmo_->currentIndex() == 1 ? vibration::slowMachineVelocityBand
                                           : vibration::standardVelocityBand);
    analyzer_ = std::make_unique<vibration::SpectrumAnalyzer>(spectrumSettings());
    overall_.reset();
    zone_.reset();
    peaks_.clear();
    recent_.clear();
    spectrumGraph_->data()->clear();
    spectrumSpanSet_ = false;
    spectrumPlot_->yAxis->setScaleType(os_->currentIndex() == 1 ? QCPAxis::stLogarithmic
                                                                : QCPAxis::stLinear);
    if (os_->currentIndex() == 1)
        spectrumPlot_->yAxis->setTicker(QSharedPointer<QCPAxisTickerLog>::create());
    else
        spectrumPlot_->yAxis->setTicker(QSharedPointer<QCPAxisTicker>::create());
    const QString unitText = QString::fromLatin1(unitTexts[unit() == AccelerationUnit::G]);
    timePlot_->yAxis->setLabel(QStringLiteral("a [%1]").arg(unitText));
    spectrumPlot_->yAxis->setLabel(QStringLiteral("a [%1]").arg(unitText));
    showOverall();
    if (!scaling().valid())
        note_->setText(QStringLiteral("Zadajte citlivosť snímača a rozsah vstupu."));
}

void VibrationForm::vynulovat_Click()
{
    if (analyzer_)
        analyzer_->reset();
    if (meter_)
        meter_->reset();
}

void VibrationForm::drzat_Click()
{
    holding_ = !holding_;
    drzat_->setText(holding_ ? QStringLiteral("&Pokračovať") : QStringLiteral("&Držať"));
}

void VibrationForm::refresh()
{
    if (!input_ || !meter_)
        return;
    const bool recording = feed()->samplesHeard();
    const VibrationSettings opened = input_->settings();
    const vibration::Scaling scale = scaling();
    for (const VibrationBlock& block : input_->takeBlocks()) {
        lost_ = std::max<std::uint64_t>(lost_, block.lostBefore);
        // Raw, before any scaling, and even while the scaling is not set: a recording keeps what
        // the input gave.
        if (recording && !block.samples.empty())
            feed()->publishSamples({opened.source, opened.channel, block.rate, block.firstSampleUs,
                                    block.lostBefore, opening_,
                                    scale.valid() ? scale.fullScaleVolts : 0.0,
                                    scale.valid() ? scale.sensitivity : 0.0, block.samples});
        takeSamples(block);
    }
    lost_ = std::max(lost_, input_->lostSamples());
    followShaft();
    if (holding_)
        return;
    if (timeDue_)
        drawTime();
    if (spectrumDue_)
        drawSpectrum();
}

void VibrationForm::takeSamples(const VibrationBlock& block)
{
    const vibration::Scaling s = scaling();
    if (!s.valid() || block.samples.empty())
        return;
    scratch_.resize(block.samples.size());
    vibration::toAcceleration(block.samples, s, AccelerationUnit::MetrePerSecond2, scratch_);
    if (meter_->add(scratch_) > 0) {
        overall_ = meter_->values();
        zone_ = vibration::zoneOf(overall_->velocityRmsMmS,
                                  skupina_->currentIndex() == 0 ? vibration::MachineGroup::Group1
                                                                : vibration::MachineGroup::Group2,
                                  zaklad_->currentIndex() == 0 ? vibration::Foundation::Rigid
                                                               : vibration::Foundation::Flexible);
        if (feed()->readingHeard()) {
            feed()->publishReading(
                {"blok",
                 {FeedValue{"arms", "m/s^2", overall_->accelerationRms, {}},
                  FeedValue{"apeak", "m/s^2", overall_->accelerationPeak, {}},
                  FeedValue{"crest", "", overall_->crestFactor, {}},
                  FeedValue{"vrms", "mm/s", overall_->velocityRmsMmS, {}},
                  FeedValue{"zona", "", {}, QString::fromLatin1(vibration::zoneName(*zone_))},
                  FeedValue{"stratene", "", static_cast<double>(lost_), {}}}});
        }
        if (!holding_)
            showOverall();
    }
    if (unit() == AccelerationUnit::G) {
        for (float& v : scratch_)
            v = static_cast<float>(v / vibration::standardGravity);
    }
    if (analyzer_->add(scratch_) > 0) {
        spectrumDue_ = true;
        const double endUs = block.sampleUs(block.samples.size());
        if (feed()->spectrumHeard() &&
            (!lastSpectrumUs_ || endUs - *lastSpectrumUs_ >= spectrumPeriodS * 1e6)) {
            lastSpectrumUs_ = endUs;
            const vibration::Spectrum& done = analyzer_->spectrum();
            const double toMs2 = unit() == AccelerationUnit::G ? vibration::standardGravity : 1.0;
            spectrumMs2_.resize(done.amplitude.size());
            std::ranges::transform(done.amplitude, spectrumMs2_.begin(),
                                   [toMs2](double a) { return a * toMs2; });
            feed()->publishSpectrum({done.lineSpacing,
                                     done.scale == vibration::AmplitudeScale::Peak, done.averaged,
                                     spectrumMs2_});
        }
    }
    const auto keep = static_cast<std::size_t>(timeSignalSeconds * rate_);
    recent_.insert(recent_.end(), scratch_.begin(), scratch_.end());
    while (recent_.size() > keep)
        recent_.pop_front();
    timeDue_ = true;
}

void VibrationForm::followShaft()
{
    shaftHz_ = countedHz_;
    // A port that only sees levels may miss pulses: its stamped edges do not make a speed.
    const std::optional<CaptureMode> mode = speed_.settings().captureMode;
    if (!tachometer_ || (mode != CaptureMode::Counted && mode != CaptureMode::Simulated))
        return;
    const std::optional<double> lastUs = tachometer_->lastPulseUs();
    const std::optional<double> rpm = tachometer_->lastSpeed();
    if (!lastUs || !rpm || *rpm <= 0)
        return;
    tachometer_->forgetBefore(*lastUs);
    // Pulses that stopped (for three of their periods, or two seconds), or a port no longer
    // looked at, give no speed, not the last one.
    const std::optional<std::int64_t> seen = speed_.timing().seenUntilUs;
    const double periodUs = 60e6 / (*rpm * tachometer_->pulsesPerRevolution());
    if (!seen || static_cast<double>(*seen) - *lastUs > std::max(2e6, 3 * periodUs)) {
        shaftHz_.reset();
        return;
    }
    shaftHz_ = *rpm / 60.0;
}

void VibrationForm::showOverall()
{
    if (!arms_)
        return;
    const double perUnit = vibration::fromMetresPerSecond2(1.0, unit()); // m/s^2 -> the chosen unit
    const QString unitText = QString::fromLatin1(unitTexts[unit() == AccelerationUnit::G]);
    for (QLabel* label : {armsUnit_, apeakUnit_})
        label->setText(unitText);
    if (!overall_) {
        for (QLabel* l : {arms_, apeak_, crest_, vrms_, zona_})
            l->setText(QStringLiteral("–"));
        zona_->setStyleSheet(QString());
        return;
    }
    arms_->setText(fixed(overall_->accelerationRms * perUnit, 3));
    apeak_->setText(fixed(overall_->accelerationPeak * perUnit, 3));
    crest_->setText(fixed(overall_->crestFactor, 2));
    vrms_->setText(fixed(overall_->velocityRmsMmS, 2));
    zona_->setText(QStringLiteral("zóna %1").arg(QString::fromLatin1(vibration::zoneName(*zone_))));
    zona_->setStyleSheet(
        QStringLiteral("background: %1; color: white;").arg(zoneColour(*zone_).name()));
    QString note;
    if (lost_ > 0)
        note = QStringLiteral("Stratené vzorky: %1 (vstup nestihol odovzdať všetko).").arg(lost_);
    else if (!overall_->settled)
        note = QStringLiteral("Rýchlosť sa ešte ustaľuje.");
    note_->setText(note);
}

void VibrationForm::drawTime()
{
    timeDue_ = false;
    // At most about two points a pixel: the lowest and highest of each column.
    const int columns = std::max(100, timePlot_->axisRect()->width());
    const std::size_t n = recent_.size();
    QVector<QCPGraphData> points;
    points.reserve(2 * columns);
    const double msPerSample = 1000.0 / rate_;
    const std::size_t perColumn = std::max<std::size_t>(1, n / static_cast<std::size_t>(columns));
    for (std::size_t i = 0; i < n; i += perColumn) {
        const std::size_t end = std::min(n, i + perColumn);
        const auto [lo, hi] = std::minmax_element(recent_.begin() + static_cast<long>(i),
                                                  recent_.begin() + static_cast<long>(end));
        const double at = static_cast<double>(i) * msPerSample;
        points.append(QCPGraphData(at, *lo));
        if (hi != lo)
            points.append(QCPGraphData(at, *hi));
    }
    timeGraph_->data()->set(points, true);
    timePlot_->xAxis->setRange(0, timeSignalSeconds * 1000);
    timeGraph_->rescaleValueAxis();
    timePlot_->replot(QCustomPlot::rpQueuedReplot);
}

void VibrationForm::drawSpectrum()
{
    spectrumDue_ = false;
    const vibration::Spectrum* s = spectrum();
    if (!s)
        return;
    const bool logarithmic = os_->currentIndex() == 1;
    const int columns = std::max(100, spectrumPlot_->axisRect()->width());
    const std::size_t lines = s->amplitude.size();
    const std::size_t perColumn =
        std::max<std::size_t>(1, lines / static_cast<std::size_t>(columns));
    QVector<QCPGraphData> points;
    points.reserve(static_cast<int>(lines / perColumn + 1));
    double top = 0;
    for (std::size_t i = 1; i < lines; i += perColumn) {
        const std::size_t end = std::min(lines, i + perColumn);
        const auto peak = std::max_element(s->amplitude.begin() + static_cast<long>(i),
                                           s->amplitude.begin() + static_cast<long>(end));
        const double a = logarithmic ? std::max(*peak, 1e-7) : *peak;
        points.append(QCPGraphData(s->frequency(i), a));
        top = std::max(top, a);
    }
    spectrumGraph_->data()->set(points, true);
    const double maxHz = s->frequency(lines - 1);
    // The whole span at first; after that the user's zoom stays, within the span.
    const QCPRange shown = spectrumPlot_->xAxis->range();
    if (!spectrumSpanSet_ || shown.upper > maxHz * 1.01 || shown.lower < 0) {
        spectrumPlot_->xAxis->setRange(0, maxHz);
        spectrumSpanSet_ = true;
    }
    if (logarithmic)
        spectrumPlot_->yAxis->setRange(std::max(top * 1e-5, 1e-7), top * 2);
    else
        spectrumPlot_->yAxis->setRange(0, std::max(top * 1.1, 1e-9));

    // Markers at the shaft's orders, and the peaks with theirs.
    for (QCPItemStraightLine* marker : markers_)
        spectrumPlot_->removeItem(marker);
    markers_.clear();
    if (shaftHz_ && *shaftHz_ > 0) {
        for (int k = 1; k <= 10 && k * *shaftHz_ < maxHz; ++k) {
            auto* marker = new QCPItemStraightLine(spectrumPlot_);
            marker->point1->setCoords(k * *shaftHz_, 0);
            marker->point2->setCoords(k * *shaftHz_, 1);
            marker->setPen(QPen(QColor(20, 140, 40), 1, Qt::DashLine));
            markers_.push_back(marker);
        }
    }
    peaks_ = vibration::findPeaks(*s, 10, shaftHz_);
    const QString unitText = QString::fromLatin1(unitTexts[unit() == AccelerationUnit::G]);
    QString text = QStringLiteral("Najvyššie špičky\n f [Hz]     A [%1]   rád\n").arg(unitText);
    for (const vibration::SpectrumPeak& p : peaks_) {
        text += QStringLiteral("%1 %2 %3\n")
                    .arg(fixed(p.frequency, 1), 9)
                    .arg(fixed(p.amplitude, 4), 10)
                    .arg(p.order ? fixed(*p.order, 2) : QString(), 6);
    }
    peaksText_->setText(text);
    spectrumPlot_->replot(QCustomPlot::rpQueuedReplot);
}

void VibrationForm::settingsToFeed()
{
    if (!zdroj_ || !feed()->isOpen())
        return;
    feed()->publishSettings({
        {"zdroj", input_ && input_->isOpen() ? input_->settings().source : QString()},
        {"vzorkovanie", vzorkovanie_->currentText()},
        {"kanal", kanal_->currentText()},
        {"citlivost", citlivost_->text()},
        {"rozsah", rozsah_->text()},
        {"jednotka", jednotka_->currentText()},
        {"skupina", skupina_->currentText()},
        {"zaklad", zaklad_->currentText()},
        {"pasmo", pasmo_->currentText()},
        {"ciary", ciary_->currentText()},
        {"okno", okno_->currentText()},
        {"priemerovanie", priemerovanie_->currentText()},
        {"pocet", pocet_->currentText()},
        {"amplituda", amplituda_->currentText()},
    });
}

} // namespace diagnostika
