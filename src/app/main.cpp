#include "commandline.h"
#include "common/messages.h"
#include "game/form3.h"
#include "orderlyquit.h"
#include "platform/backends.h"
#include "publish/publisher.h"
#include "record/recorder.h"
#include "record/unattended.h"
#include "replay/replayform.h"
#include "shell/mdiform1.h"
#include "shell/qttexts.h"

#include <QApplication>
#include <QMdiArea>
#include <QScrollBar>
#include <QTimer>
#include <QTranslator>
#include <cstdio>

using namespace diagnostika;

int main(int argc, char* argv[])
{
    QApplication::setApplicationName(QStringLiteral("diagnostika"));
    QApplication::setApplicationVersion(QStringLiteral(DIAGNOSTIKA_VERSION));
    // What only prints and exits needs no window system: answered before it is started.
    // Without a display the offscreen platform stands in: nothing is shown, everything runs.
    if (wantsHeadless(argc, argv))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::optional<CommandLine> early = parseBeforeWindowSystem(argc, argv);

    QApplication app(argc, argv);
    // From the start: a signal before the event loop runs waits for it.
    QuitSignals quitSignals;
    QTranslator qtTexts;
    installQtTexts(app, qtTexts);
    // Lets the desktop match the window to the menu entry and its icon (Wayland needs it).
    QGuiApplication::setDesktopFileName(QStringLiteral(DIAGNOSTIKA_APP_ID));

    const CommandLine cl = early ? *early : parseCommandLine(argc, argv);
    Backends backends = makeBackends(cl.backends);

    MDIForm1 main(backends);
    main.show();
    // Recording starts before the windows open, so each records from its first reading.
    // Unattended runs are told on standard error, and into the recording's log, not by a box that
    // waits for someone.
    using record::UnattendedRecording;
    const UnattendedRecording::Split split =
        cl.recordSplit == CommandLine::Split::Hour  ? UnattendedRecording::Split::Hour
        : cl.recordSplit == CommandLine::Split::Day ? UnattendedRecording::Split::Day
                                                    : UnattendedRecording::Split::None;
    UnattendedRecording unattended(main.recorder(), *backends.clock, split);
    if (cl.headless)
        setInformationPresenter([&unattended](QWidget*, const QString&, const QString& text,
                                              const QString& detail) {
            unattended.tell(
                detail.isEmpty() ? text : text + QStringLiteral(" (") + detail + QLatin1Char(')'));
        });
    if (!cl.recordFolder.isEmpty()) {
        QString error;
        const bool started = cl.headless || cl.recordSplit != CommandLine::Split::None
                                 ? unattended.start(cl.recordFolder, &error)
                                 : main.recorder().start(cl.recordFolder, &error);
        if (!started) {
            std::fprintf(stderr, "diagnostika: %s\n", qPrintable(error));
            return 1;
        }
    }
    if (!cl.setupPath.isEmpty() && !main.openSetup(cl.setupPath) && cl.headless)
        return 1; // nothing to record unattended: told already
    // After the setup: the address given here wins over the one the setup holds.
    if (cl.publish)
        main.publisher().start(*cl.publish);
    for (const QString& name : cl.openWindows) {
        if (name == QLatin1String("com"))
            main.mnuSerialItem_Click();
        else if (name == QLatin1String("lpt"))
            main.mnuLPTItem_Click();
        else if (name == QLatin1String("game"))
            main.mnuZvlastItem_Click();
        else if (name == QLatin1String("trend"))
            main.mnuTrendItem_Click();
        else if (name == QLatin1String("vib"))
            main.mnuVibrationItem_Click();
        else if (name == QLatin1String("ord"))
            main.mnuOrdersItem_Click();
    }
    if (cl.gamePeriodMs > 0) {
        main.mnuZvlastItem_Click();
        if (auto* scroll =
                main.form3().client()->findChild<QScrollBar*>(QStringLiteral("VScroll1")))
            scroll->setValue(cl.gamePeriodMs);
    }

    // After the live windows: the recording's own open beside them, played to its end at once.
    if (!cl.replayPath.isEmpty()) {
        if (!main.openRecording(cl.replayPath)) {
            if (cl.headless || !cl.reportPath.isEmpty())
                return 1; // told already; a report of it cannot be made
        } else {
            main.replayForm()->setPace(replay::Pace::AllAtOnce);
            main.replayForm()->play();
        }
    }

    int status = 0;
    if (!cl.screenshotPath.isEmpty() || !cl.reportPath.isEmpty()) {
        QTimer::singleShot(cl.screenshotAfterMs, &main, [&] {
            QString reason;
            if (!cl.screenshotPath.isEmpty() &&
                !saveScreenshot(main.grab().toImage(), cl.screenshotPath, &reason)) {
                std::fprintf(stderr, "diagnostika: cannot write the screenshot to %s: %s\n",
                             qPrintable(cl.screenshotPath), qPrintable(reason));
                status = 1;
            }
            // The report is told on standard error in the user's language, as in the window.
            if (!cl.reportPath.isEmpty() && !main.writeReport(cl.reportPath, {}, &reason)) {
                std::fprintf(stderr, "diagnostika: %s\n", qPrintable(reason));
                status = 1;
            }
            main.close();
        });
    }
    const int rc = execUntilQuit(main, quitSignals);
    if (quitSignals.received() != 0 && !cl.recordFolder.isEmpty())
        unattended.tell(QStringLiteral("Koniec na signál %1: súbory záznamu sú zatvorené a celé.")
                            .arg(quitSignals.received()));
    return status != 0 ? status : rc;
}
