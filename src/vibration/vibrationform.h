#pragma once
// The vibration window ("Vibrácie"): an accelerometer on a vibration input (a sound input, or the
// simulator), scaled to acceleration, with the values a machine is judged by (acceleration RMS and
// peak, crest factor, velocity RMS in mm/s and its ISO 20816-3 zone) about once a second, the time
// signal, and the averaged spectrum with its highest peaks; while the serial window measures speed,
// markers at 1x, 2x, 3x... of the shaft's frequency and each peak's order.
//
// The window takes the captured blocks on its own timer (20 times a second); the analysis is the
// pure code under analysis/. Its feed carries, for a recording, the overall values once a second,
// the raw samples as the input delivered them, and the averaged spectrum every 10 s.

#include "analysis/averager.h"
#include "analysis/overall.h"
#include "analysis/peaks.h"
#include "analysis/scaling.h"
#include "analysis/zones.h"
#include "common/measurementform.h"
#include "common/speedinput.h"
#include "orders/analysis/tachometer.h"
#include "platform/vibrationinput.h"

#include <QPointer>
#include <deque>
#include <memory>
#include <optional>

class QCPGraph;
class QCPItemStraightLine;
class QComboBox;
class QCustomPlot;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace diagnostika {

class VibrationForm : public MeasurementForm {
    Q_OBJECT
public:
    // `inputs` lists and makes the vibration inputs; `speed` is the serial window's speed input.
    VibrationForm(VibrationInputProvider& inputs, SpeedInput& speed, QObject* parent = nullptr);
    ~VibrationForm() override;

    static constexpr int refreshMs = 50;

    // While open: what the window shows, for tests and benchmarks.
    const std::optional<vibration::OverallValues>& overall() const { return overall_; }
    std::optional<vibration::Zone> zone() const { return zone_; }
    const vibration::Spectrum* spectrum() const;
    const std::vector<vibration::SpectrumPeak>& peaks() const { return peaks_; }
    // The shaft's frequency the markers stand at, if the serial window measures speed: from the
    // last revolution's stamped pulses, or where the port cannot time them, its counted speed.
    std::optional<double> shaftHz() const { return shaftHz_; }
    QCustomPlot* spectrumChart() const { return spectrumPlot_; }
    std::uint64_t lostSamples() const { return lost_; }

public Q_SLOTS:
    // One turn: takes the captured blocks, analyses them and shows what is new.
    void refresh();
    void zdroj_Click();
    void vynulovat_Click();
    void drzat_Click();

protected:
    void buildControls(QWidget* client) override;
    void formLoad() override;
    void formUnload() override;
    void releaseControls() override;
    void settingsToFeed() override;

private:
    void openInput();
    void restartAnalysis();
    void takeSamples(const VibrationBlock& block);
    void showOverall();
    void drawTime();
    void drawSpectrum();
    void inputLost(const VibrationError& error);
    void followShaft();
    vibration::Scaling scaling() const;
    vibration::SpectrumSettings spectrumSettings() const;
    vibration::AccelerationUnit unit() const;

    VibrationInputProvider& inputs_;
    SpeedInput& speed_;
    std::unique_ptr<VibrationInput> input_;
    std::vector<VibrationSource> sources_;
    int rate_ = 0;
    std::unique_ptr<vibration::OverallMeter> meter_;
    std::unique_ptr<vibration::SpectrumAnalyzer> analyzer_;
    std::optional<vibration::OverallValues> overall_;
    std::optional<vibration::Zone> zone_;
    std::vector<vibration::SpectrumPeak> peaks_;
    std::optional<double> shaftHz_;
    std::optional<double> countedHz_;                // the serial window's last whole count
    std::unique_ptr<orders::Tachometer> tachometer_; // the speed line's stamped pulses
    std::deque<float> recent_; // the last samples, in the chosen unit, for the time signal
    std::vector<float> scratch_;
    std::uint64_t lost_ = 0;
    std::uint64_t opening_ = 0;            // the input's openings, for the feed's samples
    std::optional<double> lastSpectrumUs_; // the last spectrum the feed carried
    std::vector<double> spectrumMs2_;      // that spectrum in m/s^2
    bool holding_ = false;
    bool spectrumDue_ = false, timeDue_ = false;
    bool spectrumSpanSet_ = false;

    QComboBox* zdroj_ = nullptr;
    QComboBox* vzorkovanie_ = nullptr;
    QComboBox* kanal_ = nullptr;
    QLineEdit* citlivost_ = nullptr;
    QLineEdit* rozsah_ = nullptr;
    QComboBox* jednotka_ = nullptr;
    QComboBox* skupina_ = nullptr;
    QComboBox* zaklad_ = nullptr;
    QComboBox* pasmo_ = nullptr;
    QComboBox* ciary_ = nullptr;
    QComboBox* okno_ = nullptr;
    QComboBox* priemerovanie_ = nullptr;
    QComboBox* pocet_ = nullptr;
    QComboBox* amplituda_ = nullptr;
    QComboBox* os_ = nullptr;
    QPushButton* drzat_ = nullptr;
    QLabel* arms_ = nullptr;
    QLabel* armsUnit_ = nullptr;
    QLabel* apeakUnit_ = nullptr;
    QLabel* apeak_ = nullptr;
    QLabel* crest_ = nullptr;
    QLabel* vrms_ = nullptr;
    QLabel* zona_ = nullptr;
    QLabel* note_ = nullptr;
    QLabel* peaksText_ = nullptr;
    QLabel* cursor_ = nullptr;
    QCustomPlot* timePlot_ = nullptr;
    QCustomPlot* spectrumPlot_ = nullptr;
    QCPGraph* timeGraph_ = nullptr;
    QCPGraph* spectrumGraph_ = nullptr;
    std::vector<QCPItemStraightLine*> markers_;
    QTimer* timer_ = nullptr;
};

} // namespace diagnostika
