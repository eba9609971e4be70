#pragma once
// The order analysis window ("Rádová analýza"): the vibration input set against the shaft's turning
// as the serial window's stamped pulses give it. It shows the order spectrum of the last
// revolutions, the chosen orders' amplitude and phase against speed (a Bode plot), and a map of the
// spectrum against speed with the orders drawn over it; a run-up or coast-down is captured by a
// speed range or by hand. Without a speed to follow it says why instead of drawing.
//
// The window takes the captured blocks on its own timer, as the vibration window does; the
// arithmetic is the pure code under analysis/. Its feed carries, for a recording, one reading per
// frame of the shaft's turning: the speed and each tracked order's amplitude and phase.

#include "analysis/orderanalysis.h"
#include "common/measurementform.h"
#include "common/speedinput.h"
#include "platform/vibrationinput.h"

#include <deque>
#include <memory>
#include <optional>
#include <vector>

class QCPColorMap;
class QCPGraph;
class QComboBox;
class QCustomPlot;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace diagnostika {

class OrderForm : public MeasurementForm {
    Q_OBJECT
public:
    // `inputs` lists and makes the vibration inputs; `speed` is the serial window's speed input.
    OrderForm(VibrationInputProvider& inputs, SpeedInput& speed, QObject* parent = nullptr);
    ~OrderForm() override;

    static constexpr int refreshMs = 50;
    // The charts are drawn every this many turns of refresh(): the eye needs no more, and the map
    // costs the most.
    static constexpr int drawEvery = 5;
    // Orders the tracks and the recording hold at most.
    static constexpr int maxTracked = 6;

    enum class Capture {
        Live,    // no capture: the charts show the last frames as they come
        Armed,   // waiting for the speed to enter the range
        Running, // capturing
        Done,    // captured; the charts hold the run
    };

    // While open: what the window shows, for tests and benchmarks.
    Capture capture() const { return capture_; }
    // Whether the capture armed, running or last made was by the speed range (else by hand).
    bool capturesByRange() const { return byRange_; }
    // The frames the Bode plot and the map show: the run captured (or being captured), else the
    // latest ones.
    const std::vector<orders::OrderFrame>& shownFrames() const;
    const orders::OrderSpectrum& orderSpectrum() const { return spectrum_; }
    std::vector<double> trackedOrders() const;
    // Why the window cannot follow the shaft now; empty while it can.
    const QString& noSpeedReason() const { return reason_; }
    const orders::OrderTracker* tracker() const { return tracker_.get(); }
    QCustomPlot* spectrumChart() const { return spectrumPlot_; }
    QCustomPlot* amplitudeChart() const { return amplitudePlot_; }
    QCustomPlot* phaseChart() const { return phasePlot_; }
    QCustomPlot* mapChart() const { return mapPlot_; }

public Q_SLOTS:
    // One turn: takes the captured blocks, analyses them and, every drawEvery turns, draws.
    void refresh();
    void draw();
    void zdroj_Click();
    // Waits for the speed to enter the range "od".."do", captures while it stays there.
    void rozsah_Click();
    // Starts a capture at once, or stops the one running.
    void start_Click();
    void vymazat_Click();

protected:
    void buildControls(QWidget* client) override;
    void formLoad() override;
    void formUnload() override;
    void releaseControls() override;
    void settingsToFeed() override;

private:
    void openInput();
    void restartTracking();
    void takeFrame(orders::OrderFrame frame);
    void updateReason();
    void showCaptureState();
    void drawSpectrum();
    void drawBode();
    void drawMap();
    void clearCharts();
    void readOrders();
    QString orderTexts() const;

    VibrationInputProvider& inputs_;
    SpeedInput& speed_;
    std::unique_ptr<VibrationInput> input_;
    std::vector<VibrationSource> sources_;
    std::unique_ptr<orders::OrderTracker> tracker_;
    SpeedInputSettings followed_; // the speed input's settings the tracker was made for
    std::vector<double> orders_{1.0, 2.0};
    std::vector<orders::OrderFrame> live_; // the latest frames, oldest first
    std::vector<orders::OrderFrame> run_;  // the capture's
    Capture capture_ = Capture::Live;
    bool byRange_ = false;
    orders::OrderSpectrum spectrum_;
    QString reason_;
    std::vector<float> scratch_;
    int turns_ = 0;
    bool framesDue_ = false;

    QComboBox* zdroj_ = nullptr;
    QComboBox* vzorkovanie_ = nullptr;
    QLineEdit* citlivost_ = nullptr;
    QLineEdit* rozsah_ = nullptr;
    QLineEdit* rady_ = nullptr;
    QComboBox* rozlisenie_ = nullptr;
    QComboBox* otackySpektra_ = nullptr;
    QComboBox* mapaRad_ = nullptr;
    QLineEdit* od_ = nullptr;
    QLineEdit* do_ = nullptr;
    QPushButton* rozsahButton_ = nullptr;
    QPushButton* startButton_ = nullptr;
    QLabel* stav_ = nullptr;
    QLabel* hodnoty_ = nullptr;
    QLabel* kurzor_ = nullptr;
    QCustomPlot* spectrumPlot_ = nullptr;
    QCustomPlot* amplitudePlot_ = nullptr;
    QCustomPlot* phasePlot_ = nullptr;
    QCustomPlot* mapPlot_ = nullptr;
    QCPGraph* spectrumGraph_ = nullptr;
    QCPColorMap* map_ = nullptr;
    QTimer* timer_ = nullptr;
};

} // namespace diagnostika
