#include "mdiform1.h"

#include "com/form2.h"
#include "common/appicon.h"
#include "common/colour.h"
#include "common/controls.h"
#include "common/messages.h"
#include "common/repaintlimiter.h"
#include "common/twips.h"
#include "game/form3.h"
#include "lpt/form1.h"
#include "orders/orderform.h"
#include "platform/backends.h"
#include "platform/sharedvibration.h"
#include "publish/publishdialog.h"
#include "publish/publisher.h"
#include "record/recorder.h"
#include "replay/replayform.h"
#include "report/measurementlog.h"
#include "report/reportdialog.h"
#include "setup/controlsection.h"
#include "setup/extrasections.h"
#include "setup/setup.h"
#include "shell/wrappingmenubar.h"
#include "trend/trendform.h"
#include "vibration/vibrationform.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QJsonDocument>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>
#include <stdexcept>

namespace diagnostika {
namespace {

QSettings settings()
{
    return QSettings(QStringLiteral("Diagnostika"), QStringLiteral("diagnostika"));
}

const QString lastFolderKey = QStringLiteral("zaznam/priecinok");
const QString publishKey = QStringLiteral("odosielanie/nastavenia");
const QString lastSetupKey = QStringLiteral("nastavenie/subor");

} // namespace

MDIForm1::MDIForm1(Backends& backends, QWidget* parent) : QMainWindow(parent), backends_(backends)
{
    setObjectName(QStringLiteral("MDIForm1"));
    QString title = QStringLiteral("Diagnostika točivých strojov");
    if (backends.simulated)
        title += QStringLiteral(" (simulované snímače)");
    title_ = title;
    setWindowTitle(title);
    setWindowIcon(appIcon());
    recorder_ = new record::Recorder(*backends.clock, QCoreApplication::applicationVersion(), this);
    connect(recorder_, &record::Recorder::recordingChanged, this, &MDIForm1::recordingChanged);
    // From the start, as the recorder: a report covers the whole measurement, not only what
    // happened after it was asked for.
    measurementLog_ = new report::MeasurementLog(*backends.clock, this);
    connect(recorder_, &record::Recorder::failed, this,
            [this](const QString& text) { showInformation(this, applicationTitle(), text); });
    publisher_ = new publish::Publisher(publish::Publisher::defaultOutboxFolder(), this);
    connect(publisher_, &publish::Publisher::statusChanged, this, &MDIForm1::updateCaption);
    connect(publisher_, &publish::Publisher::failed, this,
            [this](const QString& text) { showInformation(this, applicationTitle(), text); });
    // The windows are laid out in twips for a small 8-point face, as on the classic desktop.
    setFont(windowFont(8));

    mdiArea_ = new QMdiArea(this);
    mdiArea_->setObjectName(QStringLiteral("mdiArea"));
    mdiArea_->setBackground(toQColor(syscolour::appWorkspace, palette()));
    // A measurement window larger than the area, or moved partly out of it, stays reachable.
    mdiArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    mdiArea_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(mdiArea_);
    // Qt paints every window inside this one when this one is painted, so the screen's pace is
    // kept here for all of them: a readout changing with every edge of a fast pulse train is
    // drawn at most about 60 times a second, whichever window it is in.
    RepaintLimiter::install(this);

    // The entries need more than the window's width: the bar wraps onto a further row, as on the
    // classic desktop, instead of hiding entries behind an extension button.
    menuBar_ = new WrappingMenuBar(this);
    setMenuWidget(menuBar_);
    addMenuEntry(QStringLiteral("mnuExitItem"), QStringLiteral("U&končiť program"),
                 &MDIForm1::mnuExitItem_Click);
    addMenuEntry(QStringLiteral("mnuSerialItem"), QStringLiteral("&Meranie COM"),
                 &MDIForm1::mnuSerialItem_Click);
    addMenuEntry(QStringLiteral("mnuLPTItem"), QStringLiteral("M&eranie LPT"),
                 &MDIForm1::mnuLPTItem_Click);
    addMenuEntry(QStringLiteral("mnuZvlastItem"), QStringLiteral("Meranie &GAME"),
                 &MDIForm1::mnuZvlastItem_Click);
    addMenuEntry(QStringLiteral("mnuTrendItem"), QStringLiteral("&Priebeh otáčok"),
                 &MDIForm1::mnuTrendItem_Click);
    addMenuEntry(QStringLiteral("mnuVibrationItem"), QStringLiteral("&Vibrácie"),
                 &MDIForm1::mnuVibrationItem_Click);
    addMenuEntry(QStringLiteral("mnuOrdersItem"), QStringLiteral("&Rádová analýza"),
                 &MDIForm1::mnuOrdersItem_Click);
    // Recording is a drop-down of its own: three commands under one entry.
    recordMenu_ = menuBar_->addMenu(QStringLiteral("&Záznam"));
    recordMenu_->setObjectName(QStringLiteral("mnuRecord"));
    recordMenu_->menuAction()->setObjectName(QStringLiteral("mnuRecordItem"));
    const std::tuple<const char*, const char*, void (MDIForm1::*)()> recordEntries[] = {
        {"mnuRecordStart", "Spustiť záznam...", &MDIForm1::mnuRecordStart_Click},
        {"mnuRecordStop", "Zastaviť záznam", &MDIForm1::mnuRecordStop_Click},
        {"mnuRecordFolder", "Otvoriť priečinok záznamov", &MDIForm1::mnuRecordFolder_Click},
        {"mnuReplayOpen", "Otvoriť záznam...", &MDIForm1::mnuReplayOpen_Click},
        {"mnuPublish", "Odosielanie na server...", &MDIForm1::mnuPublish_Click},
    };
    for (const auto& [name, caption, slot] : recordEntries) {
        QAction* action = recordMenu_->addAction(QString::fromUtf8(caption));
        action->setObjectName(QString::fromLatin1(name));
        connect(action, &QAction::triggered, this, slot);
    }
    // The report is with the recording: both keep what was measured, and this is where a user
    // who wants the measurement on paper looks first. A further entry on the bar would add a row.
    recordMenu_->addSeparator();
    QAction* reportAction = recordMenu_->addAction(QStringLiteral("Protokol z merania..."));
    reportAction->setObjectName(QStringLiteral("mnuReport"));
    connect(reportAction, &QAction::triggered, this, &MDIForm1::mnuReport_Click);
    QMenu* setupMenu = menuBar_->addMenu(QStringLiteral("&Nastavenie"));
    setupMenu->setObjectName(QStringLiteral("mnuSetup"));
    setupMenu->menuAction()->setObjectName(QStringLiteral("mnuSetupItem"));
    const std::tuple<const char*, const char*, void (MDIForm1::*)()> setupEntries[] = {
        {"mnuSetupSave", "Uložiť nastavenie...", &MDIForm1::mnuSetupSave_Click},
        {"mnuSetupOpen", "Otvoriť nastavenie...", &MDIForm1::mnuSetupOpen_Click},
    };
    for (const auto& [name, caption, slot] : setupEntries) {
        QAction* action = setupMenu->addAction(QString::fromUtf8(caption));
        action->setObjectName(QString::fromLatin1(name));
        connect(action, &QAction::triggered, this, slot);
    }
    addSetupSections();
    addMenuEntry(QStringLiteral("mnuAboutItem"), QStringLiteral("&O programe..."),
                 &MDIForm1::mnuAboutItem_Click);

    recordingChanged();

    const QSize client = twipSize(7050, 5430);
    // The client area keeps its size; the window grows by the rows the menu bar needs at its width.
    resize(client.width(), client.height() + menuBar_->heightForWidth(client.width()));
}

// The windows (children) go after the members; the shared input's clients keep what they need.
MDIForm1::~MDIForm1() = default;

QAction* MDIForm1::addMenuEntry(const QString& name, const QString& caption,
                                void (MDIForm1::*slot)())
{
    QAction* action = menuBar_->addEntry(caption);
    action->setObjectName(name);
    connect(action, &QAction::triggered, this, slot);
    return action;
}

QString MDIForm1::aboutText()
{
    // The version is the build's own, the one --version and the package carry. The program is free
    // software, so the notice names its licence instead of reserving every right.
    return QStringLiteral("Program na meranie elektrických aj neelektrických veličín.\r\n"
                          "Verzia " DIAGNOSTIKA_VERSION ". © 2026 Vývojári programu Diagnostika. "
                          "Licencia GNU GPL 3 alebo novšia.");
}

Form2& MDIForm1::form2()
{
    if (!form2_) {
        if (!backends_.serial)
            throw std::logic_error("the serial window needs the serial-lines service");
        form2_ = new Form2(*backends_.serial, *backends_.clock, this);
        recorder_->addFeed(form2_->feed());
        measurementLog_->addFeed(form2_->feed());
        measurementLog_->followSpeed(form2_->speedInput());
        publisher_->addFeed(form2_->feed());
    }
    return *form2_;
}

Form1& MDIForm1::form1()
{
    if (!form1_) {
        form1_ = new Form1(*backends_.portIo, this);
        recorder_->addFeed(form1_->feed());
        measurementLog_->addFeed(form1_->feed());
        publisher_->addFeed(form1_->feed());
    }
    return *form1_;
}

Form3& MDIForm1::form3()
{
    if (!form3_) {
        form3_ = new Form3(*backends_.joystick, this);
        recorder_->addFeed(form3_->feed());
        measurementLog_->addFeed(form3_->feed());
        publisher_->addFeed(form3_->feed());
    }
    return *form3_;
}

TrendForm& MDIForm1::trendForm()
{
    if (!trendForm_) {
        trendForm_ = new TrendForm(*form2().speedInput(), *backends_.clock, this);
        recorder_->addFeed(trendForm_->feed());
        measurementLog_->addFeed(trendForm_->feed());
        publisher_->addFeed(trendForm_->feed());
    }
    return *trendForm_;
}

VibrationForm& MDIForm1::vibrationForm()
{
    if (!vibrationForm_) {
        SpeedInput* speed = backends_.serial ? form2().speedInput() : nullptr;
        if (!speed)
            speed = noSpeedInput_ = new SpeedInput(this);
        vibrationForm_ = new VibrationForm(sharedVibration(), *speed, this);
        recorder_->addFeed(vibrationForm_->feed());
        measurementLog_->addFeed(vibrationForm_->feed());
        publisher_->addFeed(vibrationForm_->feed());
    }
    return *vibrationForm_;
}

OrderForm& MDIForm1::orderForm()
{
    if (!orderForm_) {
        SpeedInput* speed = backends_.serial ? form2().speedInput() : nullptr;
        if (!speed)
            speed = noSpeedInput_ ? noSpeedInput_ : (noSpeedInput_ = new SpeedInput(this));
        orderForm_ = new OrderForm(sharedVibration(), *speed, this);
        recorder_->addFeed(orderForm_->feed());
        measurementLog_->addFeed(orderForm_->feed());
        publisher_->addFeed(orderForm_->feed());
    }
    return *orderForm_;
}

VibrationInputProvider& MDIForm1::sharedVibration()
{
    if (!sharedVibration_)
        sharedVibration_ = std::make_unique<SharedVibrationInputProvider>(*backends_.vibration);
    return *sharedVibration_;
}

void MDIForm1::mnuExitItem_Click()
{
    close();
}

void MDIForm1::mnuSerialItem_Click()
{
    // Without the serial-lines service there is no serial window to show.
    if (!backends_.serial)
        return;
    form2().show(mdiArea_);
}

void MDIForm1::mnuLPTItem_Click()
{
    form1().show(mdiArea_);
}

void MDIForm1::mnuZvlastItem_Click()
{
    form3().show(mdiArea_);
}

void MDIForm1::mnuTrendItem_Click()
{
    if (!backends_.serial)
        return;
    trendForm().show(mdiArea_);
}

void MDIForm1::mnuVibrationItem_Click()
{
    if (!backends_.vibration)
        return;
    vibrationForm().show(mdiArea_);
}

void MDIForm1::mnuOrdersItem_Click()
{
    if (!backends_.vibration)
        return;
    orderForm().show(mdiArea_);
}

void MDIForm1::mnuAboutItem_Click()
{
    showInformation(this, QStringLiteral("Informácia."), aboutText());
}

QString MDIForm1::defaultRecordingFolder()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
        .filePath(QStringLiteral("Diagnostika"));
}

QString MDIForm1::lastRecordingFolder() const
{
    return settings().value(lastFolderKey, defaultRecordingFolder()).toString();
}

bool MDIForm1::startRecording(const QString& folder)
{
    QString error;
    if (!recorder_->start(folder, &error)) {
        showInformation(this, applicationTitle(), error);
        return false;
    }
    settings().setValue(lastFolderKey, recorder_->folder());
    return true;
}

void MDIForm1::mnuRecordStart_Click()
{
    const QString last = lastRecordingFolder();
    // The first default is made, so that the dialog can open in it.
    if (last == defaultRecordingFolder())
        QDir().mkpath(last);
    const QString folder =
        QFileDialog::getExistingDirectory(this, QStringLiteral("Priečinok záznamu"), last);
    if (!folder.isEmpty())
        startRecording(folder);
}

void MDIForm1::mnuRecordStop_Click()
{
    recorder_->stop();
}

void MDIForm1::mnuRecordFolder_Click()
{
    const QString folder = recorder_->isRecording() ? recorder_->folder() : lastRecordingFolder();
    // Without a file manager nothing would happen at all: say so, and where the folder is.
    if (!QDir().mkpath(folder) || !QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
        showInformation(this, applicationTitle(),
                        QStringLiteral("Priečinok záznamov %1 sa nepodarilo otvoriť.")
                            .arg(QDir::toNativeSeparators(folder)));
}

bool MDIForm1::writeReport(const QString& path, const report::Details& details, QString* error)
{
    report::Windows windows{form2_, form1_, form3_, trendForm_, vibrationForm_, orderForm_};
    report::Circumstances circumstances{QCoreApplication::applicationVersion(),
                                        backends_.simulated,
                                        QDateTime::currentDateTime(),
                                        {},
                                        {}};
    const report::MeasurementLog* log = measurementLog_;
    // An opened recording is what the user looks at: its played windows, not the live ones.
    if (replay_ && replay_->isOpen() && replayLog_) {
        windows = {replay_->form2(),     nullptr, nullptr, replay_->trend(),
                   replay_->vibration(), nullptr};
        const replay::Recording& recording = replay_->recording();
        circumstances.recording = recording.folder;
        circumstances.recordingStarted = recording.started;
        circumstances.simulated = recording.captureMode == u"simulated";
        log = replayLog_;
    }
    const report::Document document =
        report::buildReport(details, windows, *log, circumstances, QLocale());
    QString reason;
    if (report::writePdf(document, path, &reason))
        return true;
    *error = QStringLiteral("Protokol z merania sa nepodarilo zapísať do súboru %1: %2.")
                 .arg(QDir::toNativeSeparators(path), reason);
    return false;
}

void MDIForm1::mnuReport_Click()
{
    const QString folder = recorder_->isRecording() ? recorder_->folder() : lastRecordingFolder();
    if (folder == defaultRecordingFolder())
        QDir().mkpath(folder);
    const QString name =
        QStringLiteral("protokol-%1.pdf")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    report::ReportDialog dialog(reportDetails_, QDir(folder).filePath(name), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    reportDetails_ = dialog.details();
    QString error;
    if (!writeReport(dialog.path(), reportDetails_, &error))
        showInformation(this, applicationTitle(), error);
}

void MDIForm1::mnuPublish_Click()
{
    std::optional<publish::PublishSettings> last;
    if (publisher_->isRunning())
        last = publisher_->settings();
    else
        last = publish::PublishSettings::fromJson(
            QJsonDocument::fromJson(settings().value(publishKey).toByteArray()).object(), nullptr);
    publish::PublishDialog dialog(last.value_or(publish::PublishSettings{}),
                                  publisher_->isRunning(), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (dialog.stopRequested())
        publisher_->stop();
    else
        startPublishing(dialog.settings());
}

void MDIForm1::startPublishing(const publish::PublishSettings& chosen)
{
    settings().setValue(publishKey, QJsonDocument(chosen.toJson()).toJson(QJsonDocument::Compact));
    publisher_->start(chosen);
}

void MDIForm1::updateCaption()
{
    QString caption = title_;
    if (recorder_->isRecording())
        caption += QStringLiteral(" – záznam: ") + QDir::toNativeSeparators(recorder_->folder());
    const QString publishing = publish::statusText(publisher_->status());
    if (!publishing.isEmpty())
        caption += QStringLiteral(" – ") + publishing;
    setWindowTitle(caption);
}

void MDIForm1::mnuReplayOpen_Click()
{
    // A window's metadata file stands for its recording; the folder of it is opened the same way.
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("Otvoriť záznam"), lastRecordingFolder(),
        QStringLiteral("Metadáta záznamu (*.json);;Všetky súbory (*)"));
    if (!path.isEmpty())
        openRecording(path);
}

bool MDIForm1::openRecording(const QString& path)
{
    QString error;
    std::optional<replay::Recording> recording = replay::readRecording(path, &error);
    if (!recording) {
        showInformation(this, applicationTitle(), error);
        return false;
    }
    delete replayLog_;
    replayLog_ = nullptr;
    delete replay_;
    replay_ = new replay::ReplayForm(std::move(*recording), mdiArea_, this);
    connect(replay_, &replay::ReplayForm::windowsBuilt, this, &MDIForm1::followReplay);
    replay_->show(mdiArea_);
    return true;
}

void MDIForm1::followReplay()
{
    // Played again from the start: new windows on a new clock, and a report of what they show.
    delete replayLog_;
    replayLog_ = new report::MeasurementLog(*replay_->clock(), this);
    for (MeasurementForm* form : {static_cast<MeasurementForm*>(replay_->form2()),
                                  static_cast<MeasurementForm*>(replay_->trend()),
                                  static_cast<MeasurementForm*>(replay_->vibration())}) {
        if (form)
            replayLog_->addFeed(form->feed());
    }
    if (Form2* played = replay_->form2())
        replayLog_->followSpeed(played->speedInput());
}

void MDIForm1::recordingChanged()
{
    const bool recording = recorder_->isRecording();
    updateCaption();
    setPictureFolder(recording ? recorder_->folder() : QString());
    for (QAction* action : recordMenu_->actions()) {
        if (action->objectName() == u"mnuRecordStop")
            action->setEnabled(recording);
    }
}

void MDIForm1::addSetupSections()
{
    using setup::ControlSection;
    setup_ = std::make_unique<setup::Setup>();
    // The serial window first: the trend and the vibration window follow its speed input.
    const auto section = [this](const char* key, const char* caption, auto form, auto open,
                                std::vector<setup::ControlSetting> settings) {
        setup_->add(std::make_unique<ControlSection>(
            QString::fromLatin1(key), QString::fromUtf8(caption),
            [this, form]() -> MeasurementForm* { return this->*form; },
            [this, open] { (this->*open)(); }, std::move(settings)));
    };
    section("com", "Meranie COM", &MDIForm1::form2_, &MDIForm1::mnuSerialItem_Click,
            setup::serialWindowSettings());
    section("trend", "Priebeh otáčok", &MDIForm1::trendForm_, &MDIForm1::mnuTrendItem_Click,
            setup::trendWindowSettings());
    section("vib", "Vibrácie", &MDIForm1::vibrationForm_, &MDIForm1::mnuVibrationItem_Click,
            setup::vibrationWindowSettings());
    setup_->add(std::make_unique<setup::OrderSection>([this] { return orderForm_; },
                                                      [this] { mnuOrdersItem_Click(); }));
    section("lpt", "Meranie LPT", &MDIForm1::form1_, &MDIForm1::mnuLPTItem_Click,
            setup::parallelWindowSettings());
    section("game", "Meranie GAME", &MDIForm1::form3_, &MDIForm1::mnuZvlastItem_Click,
            setup::gameWindowSettings());
    // Publishing last: the windows whose readings it sends are open by then.
    setup_->add(std::make_unique<setup::PublishSection>(
        *publisher_, [this](const publish::PublishSettings& s) { startPublishing(s); }));
}

bool MDIForm1::openSetup(const QString& path)
{
    bool applied = false;
    const QStringList notApplied = setup_->openFile(path, &applied);
    if (!notApplied.isEmpty())
        showInformation(
            this, applicationTitle(),
            QStringLiteral("Zo súboru nastavenia %1 sa nepoužilo:\r\n%2")
                .arg(QDir::toNativeSeparators(path), notApplied.join(QStringLiteral("\r\n"))));
    if (applied)
        settings().setValue(lastSetupKey, path);
    return applied;
}

bool MDIForm1::saveSetup(const QString& path)
{
    QString error;
    if (!setup_->saveFile(path, &error)) {
        showInformation(this, applicationTitle(), error);
        return false;
    }
    settings().setValue(lastSetupKey, path);
    return true;
}

void MDIForm1::mnuSetupSave_Click()
{
    const QString last =
        settings()
            .value(lastSetupKey,
                   QDir(lastRecordingFolder()).filePath(QStringLiteral("nastavenie.json")))
            .toString();
    QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Uložiť nastavenie"), last,
                                                setup::fileFilter());
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".json");
    saveSetup(path);
}

void MDIForm1::mnuSetupOpen_Click()
{
    const QString last = settings().value(lastSetupKey, lastRecordingFolder()).toString();
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Otvoriť nastavenie"),
                                                      last, setup::fileFilter());
    if (!path.isEmpty())
        openSetup(path);
}

void MDIForm1::closeEvent(QCloseEvent* event)
{
    // Every measurement window closes first, so its timers stop and its devices are released.
    mdiArea_->closeAllSubWindows();
    // The windows have handed over their last rows; the files are closed now, not at exit.
    recorder_->stop();
    event->accept();
}

} // namespace diagnostika
