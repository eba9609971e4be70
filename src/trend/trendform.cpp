#include "trendform.h"

#include "common/controls.h"
#include "common/twips.h"
#include "plotlibrary.h"

#include <QComboBox>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTimer>
#include <algorithm>

namespace diagnostika {
namespace {

const char* const unitText = "min^-1";

// One decimal in the user's locale, never grouped, as every number the program writes.
QString speedText(const std::optional<double>& v)
{
    if (!v)
        return QStringLiteral("–");
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    return locale.toString(*v, 'f', 1);
}

void setTextIfChanged(QLabel* label, const QString& text)
{
    if (label->text() != text)
        label->setText(text);
}

} // namespace

TrendForm::TrendForm(SpeedInput& input, const TickClock& clock, QObject* parent)
    : MeasurementForm(QStringLiteral("trend"), QStringLiteral("Priebeh otáčok"), QSize(10800, 6600),
                      parent),
      input_(input), clock_(clock)
{
    setObjectName(QStringLiteral("TrendForm"));
}

TrendForm::~TrendForm()
{
    delete window();
}

void TrendForm::buildControls(QWidget* client)
{
    client->setObjectName(QStringLiteral("TrendForm"));
    makeLabel(client, QStringLiteral("LabelN"), QStringLiteral("n ="), 120, 120, 500, 495);
    value_ = makeLabel(client, QStringLiteral("otacky"), QStringLiteral("–"), 600, 60, 2400, 600);
    QFont big = value_->font();
    big.setPointSize(22);
    big.setBold(true);
    value_->setFont(big);
    value_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    makeLabel(client, QStringLiteral("LabelUnit"), QString::fromLatin1(unitText), 3120, 240, 900,
              255);
    makeLabel(client, QStringLiteral("LabelMin"), QStringLiteral("Min:"), 4200, 120, 500, 255);
    minText_ =
        makeLabel(client, QStringLiteral("minimum"), QStringLiteral("–"), 4700, 120, 1000, 255);
    makeLabel(client, QStringLiteral("LabelMax"), QStringLiteral("Max:"), 4200, 420, 500, 255);
    maxText_ =
        makeLabel(client, QStringLiteral("maximum"), QStringLiteral("–"), 4700, 420, 1000, 255);
    auto* reset = new QPushButton(QStringLiteral("&Vynulovať"), client);
    reset->setObjectName(QStringLiteral("vynulovat"));
    reset->setGeometry(twipRect(5800, 150, 1100, 375));
    makeLabel(client, QStringLiteral("LabelSpan"), QStringLiteral("Zobraziť:"), 7050, 210, 750,
              255);
    span_ = makeList(client, QStringLiteral("rozsah"), 7800, 180, 1300, 315);
    pause_ = new QPushButton(QStringLiteral("&Pozastaviť"), client);
    pause_->setObjectName(QStringLiteral("pauza"));
    pause_->setGeometry(twipRect(9250, 150, 1400, 375));
    note_ = makeLabel(client, QStringLiteral("poznamka"), QString(), 120, 720, 10560, 255);

    plot_ = new QCustomPlot(client);
    plot_->setObjectName(QStringLiteral("graf"));
    plot_->setGeometry(twipRect(120, 1020, 10560, 5460));
    plot_->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    plot_->axisRect()->setRangeDrag(Qt::Horizontal | Qt::Vertical);
    plot_->axisRect()->setRangeZoom(Qt::Horizontal | Qt::Vertical);
    plot_->xAxis->setLabel(QStringLiteral("čas [s]"));
    plot_->yAxis->setLabel(QStringLiteral("otáčky [min^-1]"));
    plot_->legend->setVisible(true);
    plot_->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignLeft | Qt::AlignTop);
    perPulse_ = plot_->addGraph();
    perPulse_->setName(QStringLiteral("z času medzi impulzmi"));
    perPulse_->setPen(QPen(QColor(70, 130, 200), 1));
    windowed_ = plot_->addGraph();
    windowed_->setName(QStringLiteral("z času za 1 s"));
    windowed_->setPen(QPen(QColor(200, 40, 40), 2));
    counted_ = plot_->addGraph();
    counted_->setName(QStringLiteral("počítaním (Meranie COM)"));
    counted_->setLineStyle(QCPGraph::lsNone);
    counted_->setScatterStyle(
        QCPScatterStyle(QCPScatterStyle::ssDisc, QColor(20, 140, 40), QColor(20, 140, 40), 7));
    counted_->setPen(QPen(QColor(20, 140, 40)));
    // Taking the mouse to the chart stops it following the newest data, so that what the user
    // looks at stays put.
    connect(plot_, &QCustomPlot::mousePress, this, [this] { setFollowing(false); });
    connect(plot_, &QCustomPlot::mouseWheel, this, [this] { setFollowing(false); });

    connect(reset, &QPushButton::clicked, this, &TrendForm::vynulovat_Click);
    connect(pause_, &QPushButton::clicked, this, &TrendForm::pause_Click);
    connect(span_, &QComboBox::currentIndexChanged, this, [this] { setFollowing(true); });

    timer_ = makeTimer(client, QStringLiteral("Timer1"), redrawMs);
    connect(timer_, &QTimer::timeout, this, &TrendForm::refresh);
    timer_->start();

    // The serial window's speed input, for as long as this window is open.
    connect(&input_, &SpeedInput::settingsChanged, client,
            [this](const SpeedInputSettings& s) { takeSettings(s); });
    connect(&input_, &SpeedInput::edge, client, [this](const LineEvent& e) { takeEdge(e); });
    connect(&input_, &SpeedInput::counted, client,
            [this](const CountedSpeed& c) { takeCounted(c); });
}

void TrendForm::formLoad()
{
    for (const char* item : {"10 s", "1 min", "10 min", "všetko"})
        span_->addItem(QString::fromUtf8(item));
    span_->setCurrentIndex(0);
    originUs_ = nowUs();
    lastDrawUs_ = originUs_;
    speed_.reset();
    perPulseSeries_.clear();
    windowedSeries_.clear();
    pulses_ = untimed_ = unsure_ = 0;
    current_.reset();
    min_.reset();
    max_.reset();
    following_ = true;
    takeSettings(input_.settings());
}

void TrendForm::releaseControls()
{
    plot_ = nullptr;
    perPulse_ = windowed_ = counted_ = nullptr;
    value_ = minText_ = maxText_ = note_ = nullptr;
    span_ = nullptr;
    pause_ = nullptr;
    timer_ = nullptr;
}

double TrendForm::secondsOf(std::int64_t us) const
{
    return static_cast<double>(us - originUs_) * 1e-6;
}

void TrendForm::takeSettings(const SpeedInputSettings& settings)
{
    // Another port, input or pulses-per-revolution starts the precise speed again: pulses of
    // different meaning must not share a period.
    const double p = settings.pulsesPerRevolution.value_or(0);
    if (settings.commPort != settings_.commPort || settings.line != settings_.line ||
        p != speed_.pulsesPerRevolution()) {
        speed_ = speed::PreciseSpeed(p > 0 ? p : 1);
        pulses_ = untimed_ = unsure_ = 0;
    }
    settings_ = settings;
    stampUncertaintyUs_ = input_.timing().stampUncertaintyUs;
    updateNote();
}

void TrendForm::takeEdge(const LineEvent& event)
{
    // A pulse ends at the change to inactive, as the serial window counts it.
    if (!settings_.complete() || event.level || !perPulse_)
        return;
    ++pulses_;
    if (!event.timed)
        ++untimed_;
    const std::optional<double> v = speed_.addPulse(event.stampUs, event.timed);
    if (!v)
        return;
    // Where the stamps' uncertainty is more than a small part of the period, the point would
    // draw the capture's timing as speed. The windowed speed, over many periods, stays exact.
    const double periodUs = 60e6 / (speed_.pulsesPerRevolution() * *v);
    if (static_cast<double>(stampUncertaintyUs_) > maxPerPulseError * periodUs) {
        ++unsure_;
        return;
    }
    perPulseSeries_.add(secondsOf(event.stampUs), *v);
    dirty_ = true;
}

void TrendForm::takeCounted(const CountedSpeed& counted)
{
    // A count of another period than the interval it is shown for (the first after a port is
    // picked, or after the interval changed) is not a speed.
    if (!counted_ || !settings_.complete() || !counted.wholeInterval)
        return;
    // The count covers the period that ends now; its mean belongs to its middle.
    counted_->addData(secondsOf(nowUs()) - static_cast<double>(counted.coveredMs) / 2000,
                      counted.speed);
    dirty_ = true;
}

void TrendForm::updateNote()
{
    if (!note_)
        return;
    QString text;
    if (!settings_.complete()) {
        text = QStringLiteral("Otvorte okno „Meranie COM“, vyberte port, vstup a počet snímačov.");
    } else if (settings_.captureMode == CaptureMode::Levels ||
               settings_.captureMode == CaptureMode::Polled) {
        text = QStringLiteral("Tento port nezaznamená čas jednotlivých impulzov: presná rýchlosť "
                              "je len taká presná, ako často sa port číta.");
    } else if (pulses_ >= 10 && untimed_ * 10 > pulses_) {
        text = QStringLiteral("Impulzy prichádzajú rýchlejšie, ako ich port stihne časovať "
                              "jednotlivo: rýchlosť za impulz chýba, za 1 s zostáva presná.");
    } else if (pulses_ >= 10 && unsure_ * 10 > pulses_) {
        QLocale locale;
        locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
        text =
            QStringLiteral("Čas impulzu je známy na %1 ms, čo je pri tejto rýchlosti priveľa "
                           "na rýchlosť za impulz: ukazuje sa len rýchlosť za 1 s, tá je presná.")
                .arg(locale.toString(static_cast<double>(stampUncertaintyUs_) / 1000.0, 'f', 1));
    }
    setTextIfChanged(note_, text);
}

void TrendForm::refresh()
{
    if (!plot_)
        return;
    const std::int64_t now = nowUs();
    const double t = secondsOf(now);
    // The speed is known as far as the capture has looked at the lines, not up to now: edges come
    // in batches, and the time since the last one delivered is no wait for a pulse.
    // With no port open nothing more can come, and the wait runs on the clock.
    const CaptureTiming timing = input_.timing();
    stampUncertaintyUs_ = timing.stampUncertaintyUs;
    const std::int64_t seen = timing.seenUntilUs.value_or(now);
    current_ = settings_.complete() ? speed_.current(seen) : std::nullopt;
    if (current_) {
        min_ = std::min(min_.value_or(*current_), *current_);
        max_ = std::max(max_.value_or(*current_), *current_);
        // The window's mean belongs to the middle of the span it was measured over; a stopping
        // shaft's bound belongs to the moment it was known.
        const std::optional<std::int64_t> middle = speed_.windowMiddleUs(seen);
        const double at =
            middle && *current_ == speed_.windowed(seen) ? secondsOf(*middle) : secondsOf(seen);
        if (windowedSeries_.empty() || at > lastWindowedAt_) {
            windowedSeries_.add(at, *current_);
            lastWindowedAt_ = at;
        }
        dirty_ = true;
    }
    // For a recording: what the window shows, at its own pace.
    if (feed()->readingHeard()) {
        feed()->publishReading(
            {"refresh",
             {FeedValue{"otacky", unitText, current_, {}}, FeedValue{"minimum", unitText, min_, {}},
              FeedValue{"maximum", unitText, max_, {}}}});
    }
    setTextIfChanged(value_, speedText(current_));
    setTextIfChanged(minText_, speedText(min_));
    setTextIfChanged(maxText_, speedText(max_));
    updateNote();

    if (!following_ || !dirty_)
        return;
    const double span = spans[std::max(0, span_->currentIndex())];
    // A long span moves by a pixel only every few seconds: drawing it more often shows nothing new.
    const int columns = std::max(100, plot_->axisRect()->width());
    const double shown = span > 0 ? span : std::max(t, 10.0);
    const auto due =
        static_cast<std::int64_t>(std::max<double>(redrawMs * 1e3, shown / columns * 1e6));
    if (now - lastDrawUs_ < due)
        return;
    lastDrawUs_ = now;
    dirty_ = false;
    plot_->xAxis->setRange(span > 0 ? t - span : 0, std::max(t, span > 0 ? t : 10.0));
    draw();
}

void TrendForm::draw()
{
    // The chart gets what its pixel columns can show, never every point: its cost stays the same
    // however long the window has been open.
    const QCPRange x = plot_->xAxis->range();
    const int columns = std::max(100, plot_->axisRect()->width());
    std::optional<QCPRange> y;
    const auto widen = [&y](double low, double high) {
        y = y ? QCPRange(std::min(y->lower, low), std::max(y->upper, high)) : QCPRange(low, high);
    };
    for (const auto& [series, graph] :
         {std::pair{&perPulseSeries_, perPulse_}, std::pair{&windowedSeries_, windowed_}}) {
        QVector<QCPGraphData> points;
        for (const TrendSeries::Point& p : series->sample(x.lower, x.upper, columns)) {
            points.append(QCPGraphData(p.key, p.value));
            widen(p.value, p.value);
        }
        graph->data()->set(points, true);
    }
    bool found = false;
    const QCPRange r = counted_->getValueRange(found, QCP::sdBoth, x);
    if (found)
        widen(r.lower, r.upper);
    if (y) {
        // A steady shaft's speed wanders by thousandths of a percent: blown up to the chart's
        // height that would look like a rough run (and cost the most to draw). The axis spans at
        // least a percent of the speed.
        const double margin = std::max({1.0, 0.05 * y->size(), 0.005 * std::abs(y->upper)});
        plot_->yAxis->setRange(std::max(0.0, y->lower - margin), y->upper + margin);
    }
    plot_->replot(QCustomPlot::rpQueuedReplot);
}

void TrendForm::vynulovat_Click()
{
    min_.reset();
    max_.reset();
    if (minText_) {
        setTextIfChanged(minText_, speedText(min_));
        setTextIfChanged(maxText_, speedText(max_));
    }
}

void TrendForm::pause_Click()
{
    setFollowing(!following_);
}

void TrendForm::setFollowing(bool following)
{
    following_ = following;
    if (pause_)
        pause_->setText(following ? QStringLiteral("&Pozastaviť") : QStringLiteral("P&okračovať"));
    if (following) {
        dirty_ = true;
        lastDrawUs_ = 0;
    }
}

} // namespace diagnostika
