#pragma once
// MDIForm1: the main window. Its menu bar opens the measurement windows, shows the About box and
// ends the program; its client area holds the measurement windows.

#include "report/reportcontent.h"

#include <QMainWindow>
#include <memory>

class QAction;
class QCloseEvent;
class QMdiArea;
class QMenu;

namespace diagnostika {

struct Backends;
namespace record {
class Recorder;
}
namespace report {
class MeasurementLog;
} // namespace report
namespace publish {
class Publisher;
struct PublishSettings;
} // namespace publish
namespace setup {
class Setup;
} // namespace setup
namespace replay {
class ReplayForm;
} // namespace replay
class Form2;
class Form1;
class Form3;
class TrendForm;
class VibrationForm;
class OrderForm;
class SharedVibrationInputProvider;
class VibrationInputProvider;
class SpeedInput;
class WrappingMenuBar;

class MDIForm1 : public QMainWindow {
    Q_OBJECT
public:
    // `backends` outlives the window and has its clock set: the recorder keeps it from the start.
    explicit MDIForm1(Backends& backends, QWidget* parent = nullptr);
    ~MDIForm1() override;

    QMdiArea* mdiArea() const { return mdiArea_; }
    // The menu bar, on as many rows as the width needs. (QMainWindow::menuBar() would make a new,
    // empty bar in its place.)
    WrappingMenuBar* wrappingMenuBar() const { return menuBar_; }

    // The measurement windows' objects, created at first use and kept for the whole run.
    // The serial window needs the serial-lines service: only while Backends has one.
    Form2& form2();
    Form1& form1();
    Form3& form3();
    // The speed trend follows the serial window: only while Backends has the serial service.
    TrendForm& trendForm();
    // The vibration window; its order markers follow the serial window's speed input where there is
    // one.
    VibrationForm& vibrationForm();
    // The order analysis window: the vibration input (shared with the vibration window) against the
    // serial window's pulses.
    OrderForm& orderForm();

    static QString aboutText();

    // Recording: every open measurement window writes what it shows into `folder`. Returns false
    // and tells the user (a box) when the folder cannot be made or written.
    bool startRecording(const QString& folder);
    record::Recorder& recorder() const { return *recorder_; }
    // Where recordings go when the user has not picked a folder yet: Diagnostika in the documents.
    static QString defaultRecordingFolder();

    // The measurement report of the open windows, as a PDF at `path`; while a recording is open,
    // of its played windows instead. False with a Slovak message naming the system's reason in
    // `error` when it cannot be written.
    bool writeReport(const QString& path, const report::Details& details, QString* error);
    const report::MeasurementLog& measurementLog() const { return *measurementLog_; }
    // Publishing every open window's readings to an MQTT broker; its state is in the caption.
    publish::Publisher& publisher() const { return *publisher_; }
    // Starts publishing and keeps the settings (never a password) for the dialog's next opening.
    void startPublishing(const publish::PublishSettings& settings);
    // Setups: the open windows and their settings. Opening applies them as a user would pick them
    // and tells in one box what was not applied; false when the file was not a setup at all.
    setup::Setup& setup() const { return *setup_; }
    bool openSetup(const QString& path);
    bool saveSetup(const QString& path);
    // Opens a recording (its folder or one window's metadata file) in windows of its own, with the
    // window that plays it; the one open before closes. False, with a box for the user, when there
    // is nothing in it to play.
    bool openRecording(const QString& path);
    replay::ReplayForm* replayForm() const { return replay_; }

public Q_SLOTS:
    void mnuExitItem_Click();
    void mnuSerialItem_Click();
    void mnuLPTItem_Click();
    void mnuZvlastItem_Click();
    void mnuTrendItem_Click();
    void mnuVibrationItem_Click();
    void mnuOrdersItem_Click();
    void mnuAboutItem_Click();
    void mnuRecordStart_Click();
    void mnuRecordStop_Click();
    void mnuRecordFolder_Click();
    void mnuReport_Click();
    void mnuPublish_Click();
    void mnuSetupSave_Click();
    void mnuSetupOpen_Click();
    void mnuReplayOpen_Click();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    VibrationInputProvider& sharedVibration();
    QAction* addMenuEntry(const QString& name, const QString& caption, void (MDIForm1::*slot)());

    void recordingChanged();
    void updateCaption();
    QString lastRecordingFolder() const;
    void addSetupSections();
    void followReplay();

    Backends& backends_;
    QString title_;
    record::Recorder* recorder_ = nullptr;
    report::MeasurementLog* measurementLog_ = nullptr;
    // What the opened recording's played windows published; made anew with them.
    report::MeasurementLog* replayLog_ = nullptr;
    report::Details reportDetails_; // the machine and the person stay for the run's next report
    publish::Publisher* publisher_ = nullptr;
    std::unique_ptr<setup::Setup> setup_;
    QMenu* recordMenu_ = nullptr;
    WrappingMenuBar* menuBar_ = nullptr;
    QMdiArea* mdiArea_ = nullptr;
    Form2* form2_ = nullptr;
    Form1* form1_ = nullptr;
    Form3* form3_ = nullptr;
    TrendForm* trendForm_ = nullptr;
    VibrationForm* vibrationForm_ = nullptr;
    replay::ReplayForm* replay_ = nullptr;
    SpeedInput* noSpeedInput_ = nullptr; // for the vibration window where no serial window can be
    OrderForm* orderForm_ = nullptr;
    // The vibration and order windows read one input through this, so both can follow one sound
    // card that only one program handle may hold.
    std::unique_ptr<SharedVibrationInputProvider> sharedVibration_;
};

} // namespace diagnostika
