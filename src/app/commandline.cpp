#include "commandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

namespace diagnostika {
namespace {

const QStringList windowNames = {QStringLiteral("com"), QStringLiteral("lpt"),
                                 QStringLiteral("game"), QStringLiteral("trend")};

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
                                           "separated list of com, lpt, game, trend."),
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
    QCommandLineOption after{QStringLiteral("after"),
                             QStringLiteral("Delay before the screenshot (default 3000)."),
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
}

std::optional<CommandLine> interpret(const QCommandLineParser& parser, const Options& o,
                                     QString* error)
{
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
                *error =
                    QStringLiteral("unknown window '%1' for --open (use com, lpt, game, trend)")
                        .arg(name);
                return std::nullopt;
            }
            cl.openWindows << w;
        }
    }
    cl.screenshotPath = parser.value(o.screenshot);
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

CommandLine parseCommandLine(const QCoreApplication& app)
{
    QCommandLineParser parser;
    Options o;
    describe(parser, o);
    parser.process(app); // handles --help, --version and unknown options
    QString error;
    auto cl = interpret(parser, o, &error);
    if (!cl) {
        std::fprintf(stderr, "diagnostika: %s\n", qPrintable(error));
        std::exit(2);
    }
    return *cl;
}

} // namespace diagnostika
