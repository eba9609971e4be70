// Setups: every setting of every window saved and opened again in a fresh program, and a file that
// cannot be applied whole telling, in one box, what was not applied while the rest applies.
#include "game/form3.h"
#include "lpt/form1.h"
#include "orders/orderform.h"
#include "program.h"
#include "publish/publisher.h"
#include "trend/trendform.h"
#include "vibration/vibrationform.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QTemporaryDir>
#include <QTimer>
#include <arpa/inet.h>
#include <functional>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace diagnostika;
using test::Program;

namespace {

MeasurementForm& form(Program& p, const char* window)
{
    const std::string_view w(window);
    if (w == "com")
        return p.main->form2();
    if (w == "lpt")
        return p.main->form1();
    if (w == "game")
        return p.main->form3();
    if (w == "trend")
        return p.main->trendForm();
    if (w == "ord")
        return p.main->orderForm();
    return p.main->vibrationForm();
}

struct Picked {
    const char* window;
    const char* key;     // in the file
    const char* control; // in the window
    QJsonValue value;    // each away from the window's initial setting
    const char* shown;   // what the control then shows
};

const Picked everySetting[] = {
    {"com", "speedInput", "vstup", "DSR", "DSR"},
    {"com", "pulsesPerRevolution", "snimace", 6, "6"},
    {"com", "interval", "interval", "10s", "10s"},
    {"com", "diameter_m", "priemerobj", "12", "12"},
    {"com", "displacementInput", "vstupposuvu", "CTS", "CTS"},
    {"com", "displacementMark_mm", "znacka", "5", "5"},
    {"com", "angleInput", "vstupuhla", "DSR", "DSR"},
    {"com", "angleMark_deg", "znackau", "3", "3"},
    {"com", "durationInput", "vstupintervalu", "CD", "CD"},
    {"com", "frequencyInput", "vstupfrekv", "CTS", "CTS"},
    {"com", "port", "port", "COM2", "COM2"},
    {"trend", "span", "rozsah", "10 min", "10 min"},
    {"vib", "sampleRate", "vzorkovanie", "96000 Hz", "96000 Hz"},
    {"vib", "sensitivity_mV_per_g", "citlivost", "50", "50"},
    {"vib", "inputRange_V", "rozsah", "2", "2"},
    {"vib", "unit", "jednotka", "g", "g"},
    {"vib", "machineGroup", "skupina", "skupina 1: nad 300 kW", "skupina 1: nad 300 kW"},
    {"vib", "foundation", "zaklad", "poddajný", "poddajný"},
    {"vib", "band", "pasmo", "2 až 1000 Hz", "2 až 1000 Hz"},
    {"vib", "lines", "ciary", 3200, "3200"},
    {"vib", "window", "okno", "flat-top", "flat-top"},
    {"vib", "averaging", "priemerovanie", "exponenciálny", "exponenciálny"},
    {"vib", "averages", "pocet", "8", "8"},
    {"vib", "amplitude", "amplituda", "špička", "špička"},
    {"vib", "axis", "os", "logaritmická", "logaritmická"},
    // The order window reads the vibration window's input: at its rate, the one it can join.
    {"ord", "sampleRate", "vzorkovanie", "96000 Hz", "96000 Hz"},
    {"ord", "sensitivity_mV_per_g", "citlivost", "20", "20"},
    {"ord", "inputRange_V", "rozsah", "5", "5"},
    {"ord", "orders", "rady", "1; 3; 5", "1; 3; 5"},
    {"ord", "resolution", "rozlisenie", "1/16 rádu", "1/16 rádu"},
    {"ord", "spectrumRevolutions", "otackySpektra", "64 otáčok", "64 otáčok"},
    {"ord", "mapTo", "mapaRad", "20. rádu", "20. rádu"},
    {"ord", "rangeFrom_rpm", "od", "900", "900"},
    {"ord", "rangeTo_rpm", "do", "2400", "2400"},
    {"lpt", "quantity", "volba", "Napätie", "Napätie"},
    {"lpt", "angleRange_deg", "o180", "180", "true"},
    {"lpt", "negative", "NEG", true, "true"},
    {"lpt", "period_ms", "takttimera", 250, "250"},
    {"lpt", "port", "port", "LPT2", "LPT2"},
    {"game", "period_ms", "VScroll1", 300, "300"},
};

// A setup with every setting opened in one program, saved, and opened in a fresh one: both show
// every setting, and the windows' own handlers have acted on them. Publishing is in it too, and
// the password it reads from a file never reaches the setup.
TEST(Setup, SavedAndOpenedInAFreshProgramRestoresEverySettingOfEveryWindowThroughItsHandlers)
{
    QJsonObject windows;
    for (const Picked& p : everySetting) {
        QJsonObject settings = windows[QLatin1String(p.window)].toObject();
        settings.insert(QLatin1String(p.key), p.value);
        windows.insert(QLatin1String(p.window), settings);
    }
    QJsonObject orderWindow = windows[QStringLiteral("ord")].toObject();
    orderWindow.insert(QStringLiteral("capture"), QStringLiteral("podľa otáčok"));
    windows.insert(QStringLiteral("ord"), orderWindow);

    QTemporaryDir folder;
    // A broker's port bound but never listened on: publishing runs, connecting is refused.
    const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length);
    const QByteArray secret = "Tajne-Heslo-77";
    const QString passwordFile = folder.filePath(QStringLiteral("heslo"));
    test::writeFile(passwordFile, secret + "\n");
    publish::PublishSettings publishing;
    publishing.host = QStringLiteral("127.0.0.1");
    publishing.port = ntohs(address.sin_port);
    publishing.user = QStringLiteral("jan");
    publishing.passwordFile = passwordFile;
    publishing.station = QStringLiteral("lis3");
    publishing.influx = true;
    windows.insert(QStringLiteral("publish"), publishing.toJson());
    QDir(publish::Publisher::defaultOutboxFolder()).removeRecursively();

    const QString first = folder.filePath(QStringLiteral("first.json"));
    const QString saved = folder.filePath(QStringLiteral("saved.json"));
    test::writeFile(first, QJsonDocument(QJsonObject{{"format", "diagnostika-setup"},
                                                     {"version", 1},
                                                     {"windows", windows}})
                               .toJson());

    Program before;
    ASSERT_TRUE(before.main->openSetup(first));
    ASSERT_TRUE(before.main->saveSetup(saved));
    QFile savedFile(saved);
    ASSERT_TRUE(savedFile.open(QIODevice::ReadOnly));
    const QByteArray savedText = savedFile.readAll();
    EXPECT_FALSE(savedText.contains(secret)) << savedText.toStdString();
    EXPECT_TRUE(savedText.contains(passwordFile.toUtf8()));
    // One outbox per user: the first program's publishing ends before the second's starts.
    EXPECT_TRUE(before.main->publisher().isRunning());
    before.main->publisher().stop();
    Program after;
    ASSERT_TRUE(after.main->openSetup(saved));
    EXPECT_TRUE(after.main->publisher().isRunning());
    EXPECT_EQ(after.main->publisher().settings(), publishing);
    after.main->publisher().stop();
    ::close(socket);
    QDir(publish::Publisher::defaultOutboxFolder()).removeRecursively();
    for (Program* program : {&before, &after}) {
        EXPECT_TRUE(program->boxes.isEmpty()) << program->boxes.join(u'\n').toStdString();
        EXPECT_EQ(program->main->orderForm().capture(), OrderForm::Capture::Armed);
        EXPECT_EQ(program->main->orderForm().trackedOrders(), (std::vector<double>{1, 3, 5}));
        for (const Picked& p : everySetting) {
            ASSERT_TRUE(form(*program, p.window).isOpen()) << p.window;
            EXPECT_EQ(program->shown(form(*program, p.window), QLatin1String(p.control)),
                      QString::fromUtf8(p.shown))
                << p.window << " " << p.key;
        }
    }
    ASSERT_NE(after.main->form2().MSComm1(), nullptr);
    EXPECT_TRUE(after.main->form2().MSComm1()->isOpen());
    EXPECT_EQ(after.main->form2().MSComm1()->commPort(), 2);
    EXPECT_EQ(
        after.main->form3().client()->findChild<QTimer*>(QStringLiteral("Timer1"))->interval(),
        300);
    EXPECT_EQ(after.main->form1().client()->findChild<QLabel*>(QStringLiteral("takt"))->text(),
              QStringLiteral("250"));
}

struct Faulty {
    const char* what;
    const char* json;
    bool applied;                  // taken as a setup at all
    std::vector<const char*> told; // each in the one box
    const char* window;            // open or closed after it, as `open` says
    bool open;
    int portOpen = -1; // the serial window's port after it: 1 open, 0 not, -1 either
    std::function<void(Program&)> arrange = {};
};

TEST(Setup, AFileNotAppliedWholeTellsInOneBoxWhatWasNotAppliedAndAppliesTheRest)
{
    // clang-format off
    const Faulty cases[] = {
        {"not a setup", R"({"hello": 1})", false, {"nie je to nastavenie"}, "com", false},
        {"not JSON", "com: COM1", false, {"nie je to nastavenie", "JSON"}, "com", false},
        {"a newer format, a setting unknown",
         R"({"format":"diagnostika-setup","version":7,"windows":{"com":{"port":"COM1","gearRatio":3}}})",
         true, {"novšej verzie", "formát 7", "gearRatio"}, "com", true, 1},
        {"a value not offered",
         R"({"format":"diagnostika-setup","version":1,"windows":{"com":{"snimace":"4","pulsesPerRevolution":5}}})",
         true, {"pulsesPerRevolution", "„5“", "snimace"}, "com", true},
        {"a period out of range, a window unknown",
         R"({"format":"diagnostika-setup","version":1,"windows":{"game":{"period_ms":5000},"orders":{}}})",
         true, {"Meranie GAME", "period_ms", "„5000“", "„orders“"}, "game", true},
        // The port fails as when picked by hand: the window's own box, nothing more.
        {"a port another program holds",
         R"({"format":"diagnostika-setup","version":1,"windows":{"com":{"port":"COM1"}}})",
         true, {"Port používa iný program alebo zariadenie"}, "com", true, 0,
         [](Program& p) { p.serial->failOpen(1, SerialError::Kind::InUse); }},
        // A password is never taken from a setup; publishing without its station does not start.
        {"publishing with a password, no station",
         R"({"format":"diagnostika-setup","version":1,"windows":{"publish":{"host":"b","password":"x"}}})",
         true, {"Odosielanie na server", "password", "passwordFile", "názov stanice"}, "com", false},
        {"an order window's capture not offered",
         R"({"format":"diagnostika-setup","version":1,"windows":{"ord":{"capture":"občas"}}})",
         true, {"Rádová analýza", "capture", "„občas“"}, "ord", true},
        // A window open now but not in the setup closes.
        {"a window not listed", R"({"format":"diagnostika-setup","version":1,"windows":{}})",
         true, {}, "game", false, -1, [](Program& p) { p.main->mnuZvlastItem_Click(); }},
    };
    // clang-format on
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("setup.json"));
    for (const Faulty& c : cases) {
        SCOPED_TRACE(c.what);
        test::writeFile(path, c.json);
        Program p;
        if (c.arrange)
            c.arrange(p);
        EXPECT_EQ(p.main->openSetup(path), c.applied);
        // A window closed goes when the toolkit has torn it down.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(form(p, c.window).isOpen(), c.open);
        if (c.portOpen >= 0) {
            EXPECT_EQ(p.main->form2().MSComm1()->isOpen(), c.portOpen == 1);
        }
        ASSERT_EQ(p.boxes.size(), c.told.empty() ? 0 : 1) << p.boxes.join(u'\n').toStdString();
        for (const char* text : c.told)
            EXPECT_TRUE(p.boxes[0].contains(QString::fromUtf8(text)))
                << text << " not in: " << p.boxes[0].toStdString();
    }
}

} // namespace
