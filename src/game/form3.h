#pragma once
// Form3: the game-port window. It samples the first joystick's X, Y and Z axes at a period the user
// sets, shows the readings and draws them as three running traces.
//
// Its feed carries a reading after each tick (X, Y, Z and the buttons) and the period as its
// setting.

#include "common/measurementform.h"
#include "platform/joystick.h"

#include <cstdint>

class QLabel;
class QScrollBar;
class QTimer;

namespace diagnostika {

class PictureBox;

class Form3 : public MeasurementForm {
    Q_OBJECT
public:
    Form3(Joystick& joystick, QObject* parent = nullptr);

    // State fields: they outlive the window's controls.
    JoyInfo joypos;
    std::int16_t krok = 0;
    std::int16_t xjoy1 = 0, xjoy2 = 0, xjoy3 = 0;
    double yjoy1 = 0, yjoy2 = 0, yjoy3 = 0;

    // The traces: 10 twips per step across, a reading of 48 per twip down from the top edge;
    // 320 steps to a sweep.
    static constexpr int sweepStepTwips = 10;
    static constexpr double readingsPerTwip = 48.0;
    static constexpr int sweepSteps = 320;

public Q_SLOTS:
    void Timer1_Timer();
    void VScroll1_Change();

protected:
    void buildControls(QWidget* client) override;
    void formUnload() override;
    void releaseControls() override;
    void settingsToFeed() override;

private:
    Joystick& joystick_;

    // The controls, while the window is open.
    QLabel* joy1_ = nullptr;
    QLabel* joy2_ = nullptr;
    QLabel* joy3_ = nullptr;
    QLabel* label4_ = nullptr;
    QLabel* stavjoysticku_ = nullptr;
    PictureBox* picture1_ = nullptr;
    QScrollBar* vscroll1_ = nullptr;
    QTimer* timer1_ = nullptr;
};

} // namespace diagnostika
