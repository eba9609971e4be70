#pragma once
// Form1: the parallel-port window. It reads a TLC549 converter through the parallel port at a
// period the user sets, traces the voltage and shows it as the quantity the user picks.
//
// Its feed carries a reading after each tick that read the converter (both codes, the volts, the
// quantity picked with its value as shown and unit) and the settings: port, period, quantity, NEG
// and the angle range.

#include "common/measurementform.h"
#include "converterreader.h"
#include "platform/portio.h"

#include <cstdint>

class QCheckBox;
class QComboBox;
class QLabel;
class QRadioButton;
class QScrollBar;
class QTimer;

namespace diagnostika {

class PictureBox;

class Form1 : public MeasurementForm {
    Q_OBJECT
public:
    explicit Form1(PortIo& portIo, QObject* parent = nullptr);

    // State fields: they outlive the window's controls.
    ConverterReader prevodnik; // adresaportu, oneskorenie, pocetcitani, stavovybit, hodnotabitu,
                               // napatievstupu
    std::int16_t krok = 0;
    double xgrafu = 0, ygrafu = 0;
    double napatieuhla = 0;

    // While the port cannot be used: why, for the window to show; empty otherwise.
    QString portProblem() const { return portProblem_; }

public Q_SLOTS:
    void Form_Load();
    void takttimera_Change();
    void volba_Change();
    void Timer1_Timer();

protected:
    void buildControls(QWidget* client) override;
    void formLoad() override { Form_Load(); }
    void formUnload() override;
    void releaseControls() override;
    void settingsToFeed() override;

private:
    void readingToFeed();
    void citanieprevodnika();
    void showPortProblem(const QString& problem);
    int selectedDegreesPerVolt() const;

    PortIo& portIo_;
    QString portProblem_;
    // The address the port list stood for before the user's latest pick.
    std::uint16_t pickedAddress_ = 0;

    // The controls, while the window is open.
    QScrollBar* takttimera_ = nullptr;
    PictureBox* picture1_ = nullptr;
    QLabel* takt_ = nullptr;
    QLabel* stavportu_ = nullptr;
    QTimer* timer1_ = nullptr;
    QComboBox* port_ = nullptr;
    QComboBox* volba_ = nullptr;
    QLabel* teplotac_ = nullptr;
    QLabel* napatie_ = nullptr;
    QLabel* prud_ = nullptr;
    QLabel* pootocenie_ = nullptr;
    QCheckBox* neg_ = nullptr;
    QRadioButton* o45_ = nullptr;
    QRadioButton* o180_ = nullptr;
    QRadioButton* o290_ = nullptr;
    QRadioButton* o360_ = nullptr;
};

} // namespace diagnostika
