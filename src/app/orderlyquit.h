#pragma once

#include "platform/quitsignals.h"

class QWidget;

namespace diagnostika {

// Runs the event loop until the program ends: by its main window closing, or by one of the quit
// signals. A signal leaves every event loop at once (a message box's too), and then closes the main
// window as its close box would, so that the measurement windows release their ports and lock files
// before anything is destroyed. Returns the event loop's status, or 128 + the signal's number.
int execUntilQuit(QWidget& mainWindow, QuitSignals& quitSignals);

} // namespace diagnostika
