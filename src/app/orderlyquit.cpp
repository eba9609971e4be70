#include "orderlyquit.h"

#include <QApplication>
#include <QWidget>

namespace diagnostika {

int execUntilQuit(QWidget& mainWindow, QuitSignals& quitSignals)
{
    // Closing from inside a modal box's loop would tear the box's window down under it: the loops
    // are left first, and the windows closed from the top.
    const QMetaObject::Connection quit = QObject::connect(&quitSignals, &QuitSignals::quitRequested,
                                                          qApp, [] { QCoreApplication::exit(0); });
    const int status = QApplication::exec();
    QObject::disconnect(quit);
    if (quitSignals.received() == 0)
        return status;
    mainWindow.close();
    return 128 + quitSignals.received();
}

} // namespace diagnostika
