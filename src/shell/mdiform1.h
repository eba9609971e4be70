#pragma once
// MDIForm1: the main window. Its menu bar opens the measurement windows, shows the About box and
// ends the program; its client area holds the measurement windows.

#include <QMainWindow>

class QAction;
class QCloseEvent;
class QMdiArea;
class QMenu;

namespace diagnostika {

struct Backends;
namespace record {
class Recorder;
}
namespace replay {
class ReplayForm;
}
class Form2;
class Form1;
class Form3;
class TrendForm;
class VibrationForm;
class SpeedInput;
class WrappingMenuBar;

class MDIForm1 : public QMainWindow {
    Q_OBJECT
public:
    // `backends` outlives the window and has its clock set: the recorder keeps it from the start.
    explicit MDIForm1(Backends& backends, QWidget* parent = nullptr);

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

    static QString aboutText();

    // Recording: every open measurement window writes what it shows into `folder`. Returns false
    // and tells the user (a box) when the folder cannot be made or written.
    bool startRecording(const QString& folder);
    record::Recorder& recorder() const { return *recorder_; }
    // Where recordings go when the user has not picked a folder yet: Diagnostika in the documents.
    static QString defaultRecordingFolder();

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
    void mnuAboutItem_Click();
    void mnuRecordStart_Click();
    void mnuRecordStop_Click();
    void mnuRecordFolder_Click();
    void mnuReplayOpen_Click();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QAction* addMenuEntry(const QString& name, const QString& caption, void (MDIForm1::*slot)());

    void recordingChanged();
    QString lastRecordingFolder() const;

    Backends& backends_;
    QString title_;
    record::Recorder* recorder_ = nullptr;
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
};

} // namespace diagnostika
