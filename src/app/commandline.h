#pragma once
// The program's options. It needs none; they serve real hardware, simulation and demonstrations.

#include "platform/backends.h"
#include "publish/publishsettings.h"

#include <QString>
#include <QStringList>
#include <optional>

class QImage;

namespace diagnostika {

struct CommandLine {
    BackendOptions backends;
    QStringList openWindows; // "com", "lpt", "game", opened in this order at start
    QString screenshotPath;  // when set: save the main window there after `screenshotAfterMs`, quit
    int screenshotAfterMs = 3000;
    // When set: move the game window's period scroll bar there, as a user would.
    int gamePeriodMs = 0;
    QString recordFolder; // when set: record into this folder from the start
    // When set: write the measurement report there after `screenshotAfterMs`, then quit.
    QString reportPath;
    // When set: publish every open window's readings to this broker from the start.
    std::optional<publish::PublishSettings> publish;
    QString setupPath; // when set: open this setup at start, as "Otvoriť nastavenie..." does
    // When set: open this recording at start and play it all at once; a report is then of it.
    QString replayPath;
    // No display: Qt's offscreen platform, and what would be a box goes to standard error (and to
    // the recording's log).
    bool headless = false;
    // While recording: a new set of files every hour or every day, or one set throughout.
    enum class Split { None, Hour, Day } recordSplit = Split::None;
};

// Whether the arguments ask for no display; read before the application exists, to pick the
// platform.
bool wantsHeadless(int argc, const char* const* argv);

// Parses the application's arguments (as left by QApplication). --help and --version print and
// exit, as does an error, with a message on standard error: status 1 for an option it does not
// know or one missing its value, 2 for a value it cannot use (an empty one among them).
CommandLine parseCommandLine(int argc, const char* const* argv);

// The same before the application exists, so that --help, --version and mistakes are answered
// without a display. Returns nothing where the arguments hold an option of Qt's own (-platform,
// -style, ...), which only the application takes out: they are parsed after it, as before. Needs
// the application's name and version set.
std::optional<CommandLine> parseBeforeWindowSystem(int argc, const char* const* argv);

// The arguments as texts; bytes that are not UTF-8 are kept as devicepath.h describes.
QStringList argumentsOf(int argc, const char* const* argv);

// The same for an argument list (the first entry is the program); errors come back in `error`.
std::optional<CommandLine> parseArguments(const QStringList& arguments, QString* error);

// Writes `image` as a PNG to `path`; on failure `reason` is the system's reason.
bool saveScreenshot(const QImage& image, const QString& path, QString* reason);

} // namespace diagnostika
