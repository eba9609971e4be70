#include "commandline.h"
#include "game/form3.h"
#include "platform/backends.h"
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
    QApplication app(argc, argv);
    QTranslator qtTexts;
    installQtTexts(app, qtTexts);
    QApplication::setApplicationName(QStringLiteral("diagnostika"));
    QApplication::setApplicationVersion(QStringLiteral(DIAGNOSTIKA_VERSION));

    const CommandLine cl = parseCommandLine(app);
    Backends backends = makeBackends(cl.backends);

    MDIForm1 main(backends);
    main.show();
    for (const QString& name : cl.openWindows) {
        if (name == QLatin1String("com"))
            main.mnuSerialItem_Click();
        else if (name == QLatin1String("lpt"))
            main.mnuLPTItem_Click();
        else if (name == QLatin1String("game"))
            main.mnuZvlastItem_Click();
        else if (name == QLatin1String("trend"))
            main.mnuTrendItem_Click();
    }
    if (cl.gamePeriodMs > 0) {
        main.mnuZvlastItem_Click();
        if (auto* scroll =
                main.form3().client()->findChild<QScrollBar*>(QStringLiteral("VScroll1")))
            scroll->setValue(cl.gamePeriodMs);
    }

    int status = 0;
    if (!cl.screenshotPath.isEmpty()) {
        QTimer::singleShot(cl.screenshotAfterMs, &main, [&] {
            if (!main.grab().save(cl.screenshotPath, "PNG")) {
                std::fprintf(stderr, "diagnostika: cannot write the screenshot to %s\n",
                             qPrintable(cl.screenshotPath));
                status = 1;
            }
            main.close();
        });
    }
    const int rc = QApplication::exec();
    return status != 0 ? status : rc;
}
