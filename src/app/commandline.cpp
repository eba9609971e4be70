#include "commandline.h"

#include "platform/devicepath.h"
#include "platform/regularfile.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <cstdio>
#include <string_view>

namespace diagnostika {
namespace {

const QStringList windowNames = {QStringLiteral("com"),  QStringLiteral("lpt"),
                                 QStringLiteral("game"), QStringLiteral("trend"),
                                 QStringLiteral("vib"),  QStringLiteral("ord")};

struct Options {
    QCommandLineOption simulate{QStringLiteral("simulate"),
                                QStringLiteral("Back every port with simulated sensors: a turning "
                                               "machine on the serial lines, a TLC549 with a "
                                               "drifting input, a moving joystick.")};
    QCommandLineOption com[3] = {
        {QStringLiteral("com1"), QStringLiteral("Device for COM1 (default /dev/ttyS0)."),
         QStringLiteral("device")},
        {QStringLiteral("com2"), QStringLiteral("Device for COM2 (default /dev/ttyS1)."),
         QStringLiteral("device")},
        {QStringLiteral("com3"), QStringLiteral("Device for COM3 (default /dev/ttyS2)."),
         QStringLiteral("device")}};
    QCommandLineOption lpt[2] = {
        {QStringLiteral("lpt1"),
         QStringLiteral("Device for LPT1, address 888 (default: the parport at 0x378)."),
         QStringLiteral("device")},
        {QStringLiteral("lpt2"),
         QStringLiteral("Device for LPT2, address 956 (default: the parport at 0x3bc)."),
         QStringLiteral("device")}};
    QCommandLineOption open{QStringLiteral("open"),
                            QStringLiteral("Open these measurement windows at start: a comma "
                                           "separated list of com, lpt, game, trend, vib, ord."),
                            QStringLiteral("windows")};
    QCommandLineOption screenshot{QStringLiteral("screenshot"),
                                  QStringLiteral("Save a PNG of the main window to <file> after "
                                                 "--after milliseconds, then quit."),
                                  QStringLiteral("file")};
    QCommandLineOption gamePeriod{
        QStringLiteral("game-period"),
        QStringLiteral("For demonstrations: once the game window is open, "
                       "set its sampling period to <ms> (10 to 1000) "
                       "with its scroll bar."),
        QStringLiteral("ms")};
    QCommandLineOption record{QStringLiteral("record"),
                              QStringLiteral("Record every open measurement window into <folder> "
                                             "(made when missing) from the start."),
                              QStringLiteral("folder")};
    QCommandLineOption report{QStringLiteral("report"),
                              QStringLiteral("Write the measurement report (PDF) of the open "
                                             "windows to <file> after --after milliseconds, then "
                                             "quit."),
                              QStringLiteral("file")};
    QCommandLineOption publish{
        QStringLiteral("publish"),
        QStringLiteral("Publish every open window's readings to an MQTT broker: "
                       "mqtt://[user@]host[:port]/station, or mqtts:// for TLS with the "
                       "system's certificate authorities."),
        QStringLiteral("url")};
    QCommandLineOption publishPassword{
        QStringLiteral("publish-password-file"),
        QStringLiteral("The broker's password is the first line of <file>."),
        QStringLiteral("file")};
    QCommandLineOption setup{
        QStringLiteral("setup"),
        QStringLiteral("Open the setup <file> at start: its windows with their "
                       "settings, as \"Otvoriť nastavenie...\" does."),
        QStringLiteral("file")};
    QCommandLineOption replay{
        QStringLiteral("replay"),
        QStringLiteral("Open the recording <path> (its folder or a window's metadata file) at "
                       "start, as \"Otvoriť záznam...\" does, and play it all at once; --report "
                       "then writes the report of the recording."),
        QStringLiteral("path")};
    QCommandLineOption headless{
        QStringLiteral("headless"),
        QStringLiteral("Run without a display (Qt's offscreen platform); messages go to standard "
                       "error and to the recording's log. Ends on SIGTERM or SIGINT.")};
    QCommandLineOption recordSplit{
        QStringLiteral("record-split"),
        QStringLiteral("Start a new set of recording files every hour or day (default: day with "
                       "--headless, else never)."),
        QStringLiteral("hour|day|none")};
    QCommandLineOption after{QStringLiteral("after"),
                             QStringLiteral("Delay before the screenshot or the report "
                                            "(default 3000)."),
                             QStringLiteral("ms"), QStringLiteral("3000")};
};

void describe(QCommandLineParser& parser, Options& o)
{
    parser.setApplicationDescription(
        QStringLiteral("Diagnostika: measures rotating machines through the serial port's "
                       "handshake lines, a TLC549 converter on the parallel port and a joystick."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(o.simulate);
    for (auto& c : o.com)
        parser.addOption(c);
    for (auto& l : o.lpt)
        parser.addOption(l);
    parser.addOption(o.open);
    parser.addOption(o.screenshot);
    parser.addOption(o.after);
    parser.addOption(o.gamePeriod);
    parser.addOption(o.record);
    parser.addOption(o.report);
    parser.addOption(o.publish);
    parser.addOption(o.publishPassword);
    parser.addOption(o.setup);
    parser.addOption(o.replay);
    parser.addOption(o.headless);
    parser.addOption(o.recordSplit);
}

std::optional<CommandLine> interpret(const QCommandLineParser& parser, const Options& o,
                                     QString* error)
{
    // An empty value is a mistake (an unset variable in a script, say), not a choice: it would
    // name no device and no file, and be noticed only much later, if at all.
    // A value of blanks alone is taken for the same mistake: a folder or file named by spaces is
    // never what was meant.
    for (const QCommandLineOption* option :
         {&o.com[0], &o.com[1], &o.com[2], &o.lpt[0], &o.lpt[1], &o.open, &o.screenshot, &o.after,
          &o.gamePeriod, &o.record, &o.report, &o.publish, &o.publishPassword, &o.setup, &o.replay,
          &o.recordSplit}) {
        if (parser.isSet(*option) && parser.value(*option).trimmed().isEmpty()) {
            *error = QStringLiteral("--%1 needs a value, and the one given is empty")
                         .arg(option->names().constFirst());
            return std::nullopt;
        }
    }

    CommandLine cl;
    cl.backends.simulate = parser.isSet(o.simulate);
    for (int i = 0; i < 3; ++i) {
        if (parser.isSet(o.com[i]))
            cl.backends.comDevices[i + 1] = parser.value(o.com[i]);
    }
    for (int i = 0; i < 2; ++i) {
        if (parser.isSet(o.lpt[i]))
            cl.backends.lptDevices[i + 1] = parser.value(o.lpt[i]);
    }
    if (parser.isSet(o.open)) {
        for (const QString& name :
             parser.value(o.open).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            const QString w = name.trimmed().toLower();
            if (!windowNames.contains(w)) {
                *error = QStringLiteral(
                             "unknown window '%1' for --open (use com, lpt, game, trend, vib, ord)")
                             .arg(name);
                return std::nullopt;
            }
            cl.openWindows << w;
        }
        // Commas alone name no window: as much a mistake as an empty value.
        if (cl.openWindows.isEmpty()) {
            *error = QStringLiteral(
                         "--open names no window in '%1' (use com, lpt, game, trend, vib, ord)")
                         .arg(parser.value(o.open));
            return std::nullopt;
        }
    }
    cl.screenshotPath = parser.value(o.screenshot);
    cl.recordFolder = parser.value(o.record);
    cl.reportPath = parser.value(o.report);
    cl.setupPath = parser.value(o.setup);
    cl.replayPath = parser.value(o.replay);
    cl.headless = parser.isSet(o.headless);
    const QString split = parser.isSet(o.recordSplit) ? parser.value(o.recordSplit).trimmed()
                          : cl.headless               ? QStringLiteral("day")
                                                      : QStringLiteral("none");
    if (split == u"hour")
        cl.recordSplit = CommandLine::Split::Hour;
    else if (split == u"day")
        cl.recordSplit = CommandLine::Split::Day;
    else if (split != u"none") {
        *error = QStringLiteral("--record-split needs hour, day or none, not '%1'").arg(split);
        return std::nullopt;
    }
    bool ok = false;
    cl.screenshotAfterMs = parser.value(o.after).toInt(&ok);
    if (!ok || cl.screenshotAfterMs < 0) {
        *error = QStringLiteral("--after needs a number of milliseconds, not '%1'")
                     .arg(parser.value(o.after));
        return std::nullopt;
    }
    if (parser.isSet(o.gamePeriod)) {
        cl.gamePeriodMs = parser.value(o.gamePeriod).toInt(&ok);
        if (!ok || cl.gamePeriodMs < 10 || cl.gamePeriodMs > 1000) {
            *error = QStringLiteral("--game-period needs 10 to 1000 milliseconds, not '%1'")
                         .arg(parser.value(o.gamePeriod));
            return std::nullopt;
        }
    }
    if (parser.isSet(o.publish)) {
        QString why;
        cl.publish = publish::PublishSettings::fromUrl(parser.value(o.publish), &why);
        if (!cl.publish) {
            *error = QStringLiteral("--publish: %1").arg(why);
            return std::nullopt;
        }
        cl.publish->passwordFile = parser.value(o.publishPassword);
    } else if (parser.isSet(o.publishPassword)) {
        *error = QStringLiteral("--publish-password-file needs --publish");
        return std::nullopt;
    }
    const QStringList extra = parser.positionalArguments();
    if (!extra.isEmpty()) {
        *error = QStringLiteral("unexpected argument '%1'").arg(extra.first());
        return std::nullopt;
    }
    return cl;
}

} // namespace

std::optional<CommandLine> parseArguments(const QStringList& arguments, QString* error)
{
    QCommandLineParser parser;
    Options o;
    describe(parser, o);
    if (!parser.parse(arguments)) {
        *error = parser.errorText();
        return std::nullopt;
    }
    return interpret(parser, o, error);
}

QStringList argumentsOf(int argc, const char* const* argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << devicePathFromBytes(QByteArray(argv[i]));
    return arguments;
}

CommandLine parseCommandLine(int argc, const char* const* argv)
{
    QCommandLineParser parser;
    Options o;
    describe(parser, o);
    // From the bytes themselves: a device path that is not valid UTF-8 must still name its file.
    parser.process(argumentsOf(argc, argv)); // handles --help, --version and unknown options
    QString error;
    auto cl = interpret(parser, o, &error);
    if (!cl) {
        std::fprintf(stderr, "diagnostika: %s\n", qPrintable(error));
        std::exit(2);
    }
    return *cl;
}

std::optional<CommandLine> parseBeforeWindowSystem(int argc, const char* const* argv)
{
    // The options QApplication takes out of the arguments for itself; while one is there, only the
    // application can tell the rest apart.
    static const QStringList qtOptions = {QStringLiteral("platform"),
                                          QStringLiteral("platformpluginpath"),
                                          QStringLiteral("platformtheme"),
                                          QStringLiteral("plugin"),
                                          QStringLiteral("qwindowgeometry"),
                                          QStringLiteral("geometry"),
                                          QStringLiteral("qwindowtitle"),
                                          QStringLiteral("title"),
                                          QStringLiteral("qwindowicon"),
                                          QStringLiteral("icon"),
                                          QStringLiteral("reverse"),
                                          QStringLiteral("session"),
                                          QStringLiteral("testability"),
                                          QStringLiteral("display"),
                                          QStringLiteral("name"),
                                          QStringLiteral("style"),
                                          QStringLiteral("stylesheet"),
                                          QStringLiteral("widgetcount"),
                                          QStringLiteral("qmljsdebugger"),
                                          QStringLiteral("nograb"),
                                          QStringLiteral("dograb"),
                                          QStringLiteral("visual"),
                                          QStringLiteral("sync"),
                                          QStringLiteral("fontengine"),
                                          QStringLiteral("dialogs")};
    const QStringList arguments = argumentsOf(argc, argv);
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--"))
            break;
        if (!argument.startsWith(QLatin1Char('-')))
            continue;
        QString name = argument.mid(argument.startsWith(QLatin1String("--")) ? 2 : 1);
        name = name.section(QLatin1Char('='), 0, 0);
        if (qtOptions.contains(name))
            return std::nullopt;
        // Qt's own options are listed only by the application that knows them; no window is shown
        // for it, so any display does, the offscreen one too.
        if (name == QLatin1String("help-all")) {
            if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
                qputenv("QT_QPA_PLATFORM", "offscreen");
            return std::nullopt;
        }
    }
    // A core application, which needs no window system, gives the help its program name as the
    // GUI application would; it is gone before that one is made.
    int coreArgc = argc;
    QCoreApplication core(coreArgc, const_cast<char**>(argv));
    return parseCommandLine(argc, argv);
}

bool wantsHeadless(int argc, const char* const* argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument(argv[i]);
        if (argument == "--")
            break;
        if (argument == "--headless" || argument == "-headless")
            return true;
    }
    return false;
}

bool saveScreenshot(const QImage& image, const QString& path, QString* reason)
{
    // Written on the user-interface thread: a path that is a FIFO or a device is refused rather
    // than waited on, which would leave the program deaf to everything, quit signals included.
    const int fd = openRegularFileToWrite(path, reason);
    if (fd < 0)
        return false;
    QFile file;
    if (!file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        *reason = file.errorString();
        return false;
    }
    if (!image.save(&file, "PNG") || !file.flush()) {
        *reason = file.error() != QFileDevice::NoError
                      ? file.errorString()
                      : QStringLiteral("the image cannot be saved");
        return false;
    }
    return true;
}

} // namespace diagnostika
