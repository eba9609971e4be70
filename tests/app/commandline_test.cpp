#include "app/commandline.h"
#include "platform/devicepath.h"

#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace diagnostika;

namespace {

std::optional<CommandLine> parse(QStringList args, QString* error)
{
    args.prepend(QStringLiteral("diagnostika"));
    return parseArguments(args, error);
}

TEST(CommandLineTest, OptionsReachTheBackendsAndTheDemonstration)
{
    QString error;
    auto none = parse({}, &error);
    ASSERT_TRUE(none);
    EXPECT_FALSE(none->backends.simulate);
    EXPECT_TRUE(none->openWindows.isEmpty());
    EXPECT_TRUE(none->screenshotPath.isEmpty());

    auto cl = parse({QStringLiteral("--simulate"), QStringLiteral("--com2"),
                     QStringLiteral("/dev/ttyUSB0"), QStringLiteral("--lpt1"),
                     QStringLiteral("/dev/parport1"), QStringLiteral("--open"),
                     QStringLiteral("game,COM"), QStringLiteral("--screenshot"),
                     QStringLiteral("x.png"), QStringLiteral("--after"), QStringLiteral("250")},
                    &error);
    ASSERT_TRUE(cl) << error.toStdString();
    EXPECT_TRUE(cl->backends.simulate);
    EXPECT_EQ(cl->backends.comDevices.at(2), QStringLiteral("/dev/ttyUSB0"));
    EXPECT_EQ(cl->backends.comDevices.count(1), 0u);
    EXPECT_EQ(cl->backends.lptDevices.at(1), QStringLiteral("/dev/parport1"));
    EXPECT_EQ(cl->openWindows, (QStringList{QStringLiteral("game"), QStringLiteral("com")}));
    EXPECT_EQ(cl->screenshotPath, QStringLiteral("x.png"));
    EXPECT_EQ(cl->screenshotAfterMs, 250);
}

TEST(CommandLineTest, MistakesAreReportedNotGuessed)
{
    const QStringList wrong[] = {
        {QStringLiteral("--open"), QStringLiteral("game,printer")},
        {QStringLiteral("--after"), QStringLiteral("soon")},
        {QStringLiteral("--after"), QStringLiteral("-5")},
        {QStringLiteral("--game-period"), QStringLiteral("0")},
        {QStringLiteral("--game-period"), QStringLiteral("5000")},
        {QStringLiteral("--screenshot"), QString()},
        {QStringLiteral("--com1"), QString()},
        {QStringLiteral("--lpt2"), QStringLiteral(" ")},
        {QStringLiteral("--bogus")},
        {QStringLiteral("stray")},
    };
    for (const QStringList& args : wrong) {
        QString error;
        EXPECT_FALSE(parse(args, &error)) << args.join(u' ').toStdString();
        EXPECT_FALSE(error.isEmpty());
    }
}

TEST(CommandLineTest, DevicePathsKeepTheBytesGiven)
{
    const char* const argv[] = {"diagnostika", "--com1", "/dev/tty\xff\xc0\xaf", "--lpt1",
                                "/dev/parport\xc5\xbe\xf0\x90\x82\x80"};
    QString error;
    const auto cl = parseArguments(argumentsOf(5, argv), &error);
    ASSERT_TRUE(cl) << error.toStdString();
    EXPECT_EQ(devicePathBytes(cl->backends.comDevices.at(1)), QByteArray(argv[2]));
    EXPECT_EQ(devicePathForDisplay(cl->backends.comDevices.at(1)),
              QStringLiteral("/dev/tty\uFFFD\uFFFD\uFFFD"));
    // Valid UTF-8 is plain text.
    EXPECT_EQ(cl->backends.lptDevices.at(1), QStringLiteral("/dev/parportž\U00010080"));
    EXPECT_EQ(devicePathBytes(cl->backends.lptDevices.at(1)), QByteArray(argv[4]));
}

TEST(DemonstrationTest, AScreenshotThatCannotBeWrittenSaysWhy)
{
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(DIAGNOSTIKA_EXECUTABLE),
                  {QStringLiteral("--simulate"), QStringLiteral("--screenshot"),
                   QStringLiteral("/no-such-folder/x.png"), QStringLiteral("--after"),
                   QStringLiteral("0")});
    ASSERT_TRUE(program.waitForFinished(30000));
    EXPECT_EQ(program.exitCode(), 1);
    // The system's reason follows the path (in the interface's language where Qt has it).
    const QByteArray err = program.readAllStandardError();
    const qsizetype at = err.indexOf("x.png: ");
    ASSERT_GE(at, 0) << err.toStdString();
    EXPECT_GT(err.indexOf('\n', at) - at, 10) << err.toStdString();
}

// The headless demonstration, end to end: the simulated joystick moves the game window's traces,
// and the screenshot shows them.
TEST(DemonstrationTest, ScreenshotShowsTheGameWindowWithTraces)
{
    QTemporaryDir dir;
    const QString shot = dir.filePath(QStringLiteral("demo.png"));
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(DIAGNOSTIKA_EXECUTABLE),
                  {QStringLiteral("--simulate"), QStringLiteral("--open"), QStringLiteral("game"),
                   QStringLiteral("--game-period"), QStringLiteral("10"),
                   QStringLiteral("--screenshot"), shot, QStringLiteral("--after"),
                   QStringLiteral("1500")});
    ASSERT_TRUE(program.waitForFinished(30000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().toStdString();

    const QImage image(shot);
    ASSERT_FALSE(image.isNull());
    // The X and Y traces' colours appear on the picture (either may lie below the visible area
    // for a while, so both count).
    int tracePixels = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            tracePixels += c == QColor(255, 15, 0) || c == QColor(86, 2, 0) ? 1 : 0;
        }
    }
    EXPECT_GT(tracePixels, 20);
}

} // namespace
