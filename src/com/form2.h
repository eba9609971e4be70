#pragma once
// Form2: the serial-port window. Sensors switch the handshake inputs CTS, DSR and CD of a COM port;
// the window counts and times their pulses and derives displacement, rotation angle, pulse
// duration, frequency, speed, velocity, acceleration and the running average, and draws the speed
// graph.
//
// The object lives for the whole run and keeps the state fields below; the controls, the timers and
// the serial control `MSComm1` exist only while the window is open (closing it closes the port).
//
// Its feed carries every edge the handler receives, a reading after each of Timer1 (the speed
// evaluation), Timer2 and Timer3, and the settings: the port, its device and capture mode while
// open, and every list and entry.

#include "com/serialformulas.h"
#include "common/measurementform.h"
#include "common/speedinput.h"
#include "platform/seriallines.h"
#include "platform/tickclock.h"

#include <QPointer>
#include <array>
#include <cstdint>
#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QTimer;

namespace diagnostika {

class NumberEntry;
class PictureBox;

class Form2 : public MeasurementForm {
    Q_OBJECT
public:
    // `clock` is the tick clock the serial service stamps its edges with. Every time a pulse
    // measurement uses comes with the edge it belongs to, taken when the edge was seen, so a busy
    // window never stretches a pulse; the clock only tells how long Timer1's counts really
    // counted, for the feed.
    Form2(SerialLinesProvider& serial, const TickClock& clock, QObject* parent = nullptr);
    ~Form2() override;

    // The serial control while the window is open, else null.
    SerialLines* MSComm1() const { return mscomm1_; }
    // The speed input, for the windows that follow the shaft; lives as long as this object.
    SpeedInput* speedInput() const { return speedInput_; }

    // Shows the readouts that pulses changed (displacement, angle and its knob, duration) now.
    // Pulses keep their values exact but write them to the screen only at its pace, about 60 times
    // a second, and before each timer handler; a test that reads them right after a pulse calls
    // this first.
    void showPulseReadouts();

    // State fields: they outlive the window's controls. Counts are 64-bit so that no run of pulses
    // can overflow them.
    std::int64_t impulzycts = 0, impulzycd = 0, impulzydsr = 0;
    // Stamps of each line's latest activation and deactivation, indexed by Line: a duration runs
    // from the chosen line's own activation, never from another line's that came in between. None
    // after that line's duration is shown.
    std::array<std::optional<std::int64_t>, 3> zaciatokimpulzu, koniecimpulzu;
    std::int64_t impulzyposuvu = 0;
    std::int64_t impulzyuhla = 0;
    std::int64_t impulzyposuvnika = 0;
    // Empty until the first frequency pulse: the first reading before any pulse shows no number.
    std::optional<std::int64_t> impulzyfrekv;

    // Speed evaluation.
    std::int64_t sucetotacok = 0;
    std::int64_t pocetotacok = 0;
    std::int64_t priemer = 0;
    double podielteraz = 0;
    double podielpredtym = 0;

    // Speed graph: the last step drawn and each trace's previous point, in twips.
    int krokgrafu = 0;
    double xcts = 0, ycts = 0;
    double xcd = 0, ycd = 0;
    double xdsr = 0, ydsr = 0;

    // Displacement acceleration.
    std::int64_t posuvteraz = 0;
    std::int64_t posuvpredtym = 0;
    double rychlostposuvu = 0;

    // Timer periods at creation, in milliseconds.
    static constexpr int timer1Initial = 500;
    static constexpr int timer2Period = 5000;
    static constexpr int timer3Period = 1000;

public Q_SLOTS:
    void port_Click();
    void MSComm1_OnComm(const diagnostika::LineEvent& event);
    void nulovanieposuvu_Click();
    void nulovanieuhla_Click();
    void Timer1_Timer();
    void Timer2_Timer();
    void Timer3_Timer();
    void kresleniegrafu();

protected:
    void buildControls(QWidget* client) override;
    void formLoad() override;
    void formUnload() override;
    void releaseControls() override;
    void settingsToFeed() override;

private:
    struct PeriodCounts {
        std::int64_t cts, dsr, cd;
        // Timer1's only: how long the counts were counted (from the previous tick, or from the
        // port's opening), and whether that was the interval the speed is shown for.
        std::optional<std::int64_t> coveredMs;
        std::optional<bool> wholeInterval;
    };
    // Publishes every readout as shown after the handler `event`, with the speed counts it found.
    void readingToFeed(const char* event, PeriodCounts counts) const;

    void portLost(const SerialError& error);
    // Tells the speed input's followers what the lists and the port now say.
    void speedInputToFollowers();
    void moveKnob(float leftTwips);
    void closePort();
    void takePendingEdges();
    void showPulseReadoutsLater();

    SerialLinesProvider& serial_;
    const TickClock& clock_;
    SpeedInput* speedInput_;
    QPointer<SerialLines> mscomm1_;
    // When the speed counts began to count: the last Timer1 tick that ended a period, or the
    // port's opening; none before a port has opened.
    std::optional<std::int64_t> countingSinceMs_;

    // The controls, while the window is open.
    QLabel* otacky_ = nullptr;
    QLabel* rychlost_ = nullptr;
    QLabel* zrychlenie_ = nullptr;
    QLabel* priemerx_ = nullptr;
    QLineEdit* priemerobj_ = nullptr;
    QComboBox* snimace_ = nullptr;
    QComboBox* interval_ = nullptr;
    QComboBox* vstup_ = nullptr;
    PictureBox* graf_ = nullptr;
    QLabel* posuvx_ = nullptr;
    QLabel* zrych_ = nullptr;
    QLineEdit* znacka_ = nullptr;
    QComboBox* vstupposuvu_ = nullptr;
    QLabel* pootocenie_ = nullptr;
    QLineEdit* znackau_ = nullptr;
    NumberEntry* znackaNumber_ = nullptr;  // znacka_'s number
    NumberEntry* znackauNumber_ = nullptr; // znackau_'s number
    PictureBox* posuvadlo_ = nullptr;
    PictureBox* posuvnik_ = nullptr;
    QComboBox* vstupuhla_ = nullptr;
    QLabel* trvanie_ = nullptr;
    QComboBox* vstupintervalu_ = nullptr;
    QLabel* f_ = nullptr;
    QComboBox* vstupfrekv_ = nullptr;
    PictureBox* ctsx_ = nullptr;
    PictureBox* cdx_ = nullptr;
    PictureBox* dsrx_ = nullptr;
    QComboBox* port_ = nullptr;
    // The line each per-pulse measurement follows, as its list shows it, kept as the lists change:
    // asking four lists for their texts on every pulse cost more than the pulse's own work.
    struct PulseInputs {
        std::optional<Line> speed, displacement, angle, duration, frequency;
    } pulseInputs_;
    // What the pulses changed since the readouts were last shown.
    struct PulseReadouts {
        std::optional<double> metres;           // posuvx_
        std::optional<double> angle;            // pootocenie_
        std::optional<std::int64_t> durationMs; // trvanie_
        bool knob = false;                      // posuvnik_ to its leftTwips
    } pulseReadouts_;
    QTimer* pulseReadoutsTimer_ = nullptr;
    QTimer* timer1_ = nullptr;
    QTimer* timer2_ = nullptr;
    QTimer* timer3_ = nullptr;
};

} // namespace diagnostika
