#pragma once
// The speed trend ("Priebeh otáčok"): the serial window's speed input over time, measured two ways
// side by side. The precise speed comes from the times of the pulses (per pulse, and over a window
// of one second); the serial window's own counted speed (pulses per interval) is shown as points.
// The window follows the serial window's port, input and pulses per revolution through its typed
// speed input, and keeps what it has seen since it opened.

#include "common/measurementform.h"
#include "common/speedinput.h"
#include "platform/tickclock.h"
#include "speed/precisespeed.h"
#include "trendseries.h"

#include <optional>

class QCPGraph;
class QComboBox;
class QCustomPlot;
class QLabel;
class QPushButton;
class QTimer;

namespace diagnostika {

class TrendForm : public MeasurementForm {
    Q_OBJECT
public:
    // `input` is the serial window's speed input; `clock` the tick clock the edges are stamped on.
    TrendForm(SpeedInput& input, const TickClock& clock, QObject* parent = nullptr);
    ~TrendForm() override;

    // Redraws at most this often, and for long spans only as often as a pixel's worth of time.
    static constexpr int redrawMs = 50;

    // The most a per-pulse point may be off through its stamps' uncertainty, as a part of the
    // speed; points less certain are not drawn.
    static constexpr double maxPerPulseError = 0.02;

    // The span choices, in seconds; 0 is everything since opening.
    static constexpr double spans[] = {10, 60, 600, 0};

    // While open: the chart, for tests and benchmarks.
    QCustomPlot* chart() const { return plot_; }
    // The precise speed shown now, if any; min and max since "Vynulovať".
    std::optional<double> current() const { return current_; }
    std::optional<double> minimum() const { return min_; }
    std::optional<double> maximum() const { return max_; }
    // Every point each line has had since opening; the chart holds only what its pixels show.
    const TrendSeries& perPulsePoints() const { return perPulseSeries_; }
    const TrendSeries& windowedPoints() const { return windowedSeries_; }

public Q_SLOTS:
    // One turn of the display: the current speed, the windowed point, the chart when due.
    void refresh();
    void vynulovat_Click();
    void pause_Click();

protected:
    void buildControls(QWidget* client) override;
    void formLoad() override;
    void releaseControls() override;

private:
    void takeSettings(const SpeedInputSettings& settings);
    void takeEdge(const LineEvent& event);
    void takeCounted(const CountedSpeed& counted);
    void updateNote();
    void setFollowing(bool following);
    double secondsOf(std::int64_t us) const;
    void draw();
    std::int64_t nowUs() const { return clock_.milliseconds() * 1000; }

    SpeedInput& input_;
    const TickClock& clock_;
    SpeedInputSettings settings_;
    speed::PreciseSpeed speed_{4};
    std::int64_t originUs_ = 0;
    std::int64_t stampUncertaintyUs_ = 0;
    // Pulses since the input was chosen; those not timed by their own stamp; per-pulse speeds not
    // drawn because the stamps cannot time their period closely enough.
    std::int64_t pulses_ = 0, untimed_ = 0, unsure_ = 0;
    TrendSeries perPulseSeries_, windowedSeries_;
    double lastWindowedAt_ = 0;
    std::optional<double> current_, min_, max_;
    bool following_ = true;
    std::int64_t lastDrawUs_ = 0;
    bool dirty_ = false;

    QCustomPlot* plot_ = nullptr;
    QCPGraph* perPulse_ = nullptr;
    QCPGraph* windowed_ = nullptr;
    QCPGraph* counted_ = nullptr;
    QLabel* value_ = nullptr;
    QLabel* minText_ = nullptr;
    QLabel* maxText_ = nullptr;
    QLabel* note_ = nullptr;
    QComboBox* span_ = nullptr;
    QPushButton* pause_ = nullptr;
    QTimer* timer_ = nullptr;
};

} // namespace diagnostika
