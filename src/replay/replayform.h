#pragma once
// Opening a recording again ("Prehrávanie záznamu"): a small window that plays a recording into
// the windows that showed it live (the serial window, the speed trend, the vibration window), fed
// by sources that replay the files instead of the hardware. It plays at the recording's own pace,
// ten times faster, as fast as the machine can, or all at once, and its slider moves to any moment
// (back means playing again from the start up to there, as the windows keep what they have seen).
// Where a file stopped being whole, the window says which file and which row.

#include "common/measurementform.h"
#include "handtimers.h"
#include "recording.h"
#include "replaysources.h"

#include <functional>
#include <memory>

class QComboBox;
class QLabel;
class QMdiArea;
class QPushButton;
class QSlider;
class QTimer;

namespace diagnostika {
class Form2;
class SpeedInput;
class TrendForm;
class VibrationForm;
} // namespace diagnostika

namespace diagnostika::replay {

enum class Pace { RealTime, TenTimes, Fastest, AllAtOnce };

class ReplayForm : public MeasurementForm {
    Q_OBJECT
public:
    // The played windows open in `area` with the recording at its start, paused.
    ReplayForm(Recording recording, QMdiArea* area, QObject* parent = nullptr);
    ~ReplayForm() override;

    static constexpr int pumpMs = 20; // how often playing moves on, in wall time

    const Recording& recording() const { return recording_; }
    // The played windows (null where the recording has nothing for them).
    Form2* form2() const { return form2_.get(); }
    TrendForm* trend() const { return trend_.get(); }
    VibrationForm* vibration() const { return vibration_.get(); }
    // The clock the played windows run on: the recording's moments. Null before they are built.
    const TickClock* clock() const { return clock_.get(); }

    // Seconds from the recording's start.
    double positionS() const;
    bool playing() const { return playing_; }
    bool atEnd() const;

    // Plays every moment up to `s` (seconds from the recording's start) at once; an earlier moment
    // plays again from the start.
    void seek(double s);
    void setPace(Pace pace);
    void play();
    void pause();
    // One turn of playing, as the window's own timer runs it: moves on by the wall time since the
    // last turn times the pace.
    void pump();
    // The wall clock the real-time paces follow, in nanoseconds; the monotonic one unless set.
    void setWallClock(std::function<std::int64_t()> nanoseconds);
    // Everything that stopped short, one line per file, for the user.
    QString damageText() const;

Q_SIGNALS:
    // The played windows are new: at opening, and when playing again from the start.
    void windowsBuilt();

protected:
    void buildControls(QWidget* client) override;
    void formLoad() override;
    void formUnload() override;
    void releaseControls() override;

private:
    void build();
    void teardown();
    // Plays up to `positionUs` (from the recording's start), each window's timers and settings at
    // their moments.
    void advanceTo(std::int64_t positionUs);
    // Applies each window's recorded settings whose moment has come (the first at once); false
    // when none had.
    bool applySettings();
    void showPosition();

    Recording recording_;
    QMdiArea* area_;
    std::unique_ptr<Timeline> timeline_;
    std::unique_ptr<ReplayClock> clock_;
    std::unique_ptr<ReplaySerialLinesProvider> serial_;
    std::unique_ptr<ReplayVibrationInputProvider> vibrationInputs_;
    std::unique_ptr<SpeedInput> noSpeed_;
    std::unique_ptr<Form2> form2_;
    std::unique_ptr<TrendForm> trend_;
    std::unique_ptr<VibrationForm> vibration_;
    std::unique_ptr<HandTimers> timers_;
    std::size_t comSettingsApplied_ = 0, vibSettingsApplied_ = 0;
    Pace pace_ = Pace::RealTime;
    bool playing_ = false;
    std::function<std::int64_t()> wallNs_;
    std::int64_t lastWallNs_ = 0;
    double carryUs_ = 0;

    QLabel* position_ = nullptr;
    QLabel* note_ = nullptr;
    QComboBox* paceList_ = nullptr;
    QPushButton* play_ = nullptr;
    QSlider* slider_ = nullptr;
    QTimer* pumpTimer_ = nullptr;
};

} // namespace diagnostika::replay
