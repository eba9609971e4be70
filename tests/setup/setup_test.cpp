// Setups: every setting of every window saved and opened again in a fresh program, and a file that
// cannot be applied whole telling, in one box, what was not applied while the rest applies.
#include "com/form2.h"
#include "common/messages.h"
#include "game/form3.h"
#include "lpt/form1.h"
#include "platform/backends.h"
#include "platform/sim/simvibration.h"
#include "setup/setup.h"
#include "shell/mdiform1.h"
#include "support/fakeclock.h"
#include "support/fakejoystick.h"
#include "support/fakeportio.h"
#include "support/fakeserial.h"
#include "trend/trendform.h"
#include "vibration/vibrationform.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

using namespace diagnostika;

namespace {

// A whole program on fakes: its main window, the windows it opens, the boxes it shows.
struct Program {
    Program()
    {
        auto clock = std::make_unique<test::FakeClock>(10'000);
        backends.vibration = std::make_unique<SimulatedVibrationInputProvider>(*clock);
        backends.clock = std::move(clock);
        backends.joystick = std::make_unique<test::FakeJoystick>();
        backends.portIo = std::make_unique<test::FakePortIo>();
        auto fake = std::make_unique<test::FakeSerialLinesProvider>();
        serial = fake.get();
        backends.serial = std::move(fake);
        main = std::make_unique<MDIForm1>(backends);
        main->show();
        previous = setInformationPresenter([this](QWidget*, const QString&, const QString& text,
                                                  const QString&) { boxes << text; });
    }
    ~Program()
    {
        main.reset();
        setInformationPresenter(previous);
    }

    MeasurementForm& form(const QString& window)
    {
        if (window == u"com")
            return main->form2();
        if (window == u"lpt")
            return main->form1();
        if (window == u"game")
            return main->form3();
        if (window == u"trend")
            return main->trendForm();
        return main->vibrationForm();
    }
    QWidget* control(const QString& window, const QString& name)
    {
        return form(window).client() ? form(window).client()->findChild<QWidget*>(name) : nullptr;
    }
    // What the control shows: a list's item, an entry's text, a scroll bar's value, a box's check.
    QString shown(const QString& window, const QString& name)
    {
        QWidget* w = control(window, name);
        if (auto* list = qobject_cast<QComboBox*>(w))
            return list->currentText();
        if (auto* entry = qobject_cast<QLineEdit*>(w))
            return entry->text();
        if (auto* bar = qobject_cast<QScrollBar*>(w))
            return QString::number(bar->value());
        if (auto* button = qobject_cast<QAbstractButton*>(w))
            return button->isChecked() ? QStringLiteral("checked") : QString();
        return QStringLiteral("<no control>");
    }
    // Sets the control as the user does, through the signals the user's action gives.
    void pickAsUser(const QString& window, const QString& name, const QString& value)
    {
        QWidget* w = control(window, name);
        if (auto* list = qobject_cast<QComboBox*>(w)) {
            const int index = value == u"@last" ? list->count() - 1 : list->findText(value);
            ASSERT_GE(index, 0) << name.toStdString() << " " << value.toStdString();
            list->setCurrentIndex(index);
            Q_EMIT list->activated(index);
        } else if (auto* entry = qobject_cast<QLineEdit*>(w)) {
            entry->setText(value);
            Q_EMIT entry->editingFinished();
        } else if (auto* bar = qobject_cast<QScrollBar*>(w)) {
            bar->setValue(value.toInt());
        } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            if (button->isChecked() != (value == u"checked"))
                button->click();
        } else {
            FAIL() << "no control " << name.toStdString();
        }
    }

    Backends backends;
    test::FakeSerialLinesProvider* serial = nullptr;
    std::unique_ptr<MDIForm1> main;
    QStringList boxes;
    InformationPresenter previous;
};

struct Picked {
    const char* window;
    const char* control;
    const char* value; // "@last": a list's last item, whatever it is
};

// Every setting a setup holds, each away from the window's initial one.
const Picked everySetting[] = {
    {"com", "vstup", "DSR"},
    {"com", "snimace", "6"},
    {"com", "interval", "10s"},
    {"com", "priemerobj", "12"},
    {"com", "vstupposuvu", "CTS"},
    {"com", "znacka", "5"},
    {"com", "vstupuhla", "DSR"},
    {"com", "znackau", "3"},
    {"com", "vstupintervalu", "CD"},
    {"com", "vstupfrekv", "CTS"},
    {"com", "port", "COM2"},
    {"trend", "rozsah", "10 min"},
    {"vib", "vzorkovanie", "@last"},
    {"vib", "citlivost", "50"},
    {"vib", "rozsah", "2"},
    {"vib", "jednotka", "g"},
    {"vib", "skupina", "skupina 1: nad 300 kW"},
    {"vib", "zaklad", "poddajný"},
    {"vib", "pasmo", "2 až 1000 Hz"},
    {"vib", "ciary", "3200"},
    {"vib", "okno", "flat-top"},
    {"vib", "priemerovanie", "exponenciálny"},
    {"vib", "pocet", "8"},
    {"vib", "amplituda", "špička"},
    {"vib", "os", "logaritmická"},
    {"lpt", "volba", "Napätie"},
    {"lpt", "o180", "checked"},
    {"lpt", "NEG", "checked"},
    {"lpt", "takttimera", "250"},
    {"lpt", "port", "LPT2"},
    {"game", "VScroll1", "300"},
};

TEST(Setup, SavedAndOpenedInAFreshProgramRestoresEverySettingOfEveryWindowThroughItsHandlers)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("nastavenie.json"));
    std::map<std::pair<QString, QString>, QString> expected;
    {
        Program before;
        before.main->mnuSerialItem_Click();
        before.main->mnuTrendItem_Click();
        before.main->mnuVibrationItem_Click();
        before.main->mnuLPTItem_Click();
        before.main->mnuZvlastItem_Click();
        for (const Picked& p : everySetting) {
            const QString window = QString::fromLatin1(p.window);
            const QString name = QString::fromLatin1(p.control);
            const QString initial = before.shown(window, name);
            before.pickAsUser(window, name, QString::fromUtf8(p.value));
            const QString picked = before.shown(window, name);
            EXPECT_NE(picked, initial) << p.control << ": not a change";
            expected[{window, name}] = picked;
        }
        ASSERT_TRUE(before.main->saveSetup(path));
        EXPECT_TRUE(before.boxes.isEmpty()) << before.boxes.join(u'\n').toStdString();
    }

    Program after;
    ASSERT_TRUE(after.main->openSetup(path));
    EXPECT_TRUE(after.boxes.isEmpty()) << after.boxes.join(u'\n').toStdString();
    for (const Picked& p : everySetting) {
        const QString window = QString::fromLatin1(p.window);
        const QString name = QString::fromLatin1(p.control);
        EXPECT_TRUE(after.form(window).isOpen()) << p.window;
        const QString picked = expected[{window, name}];
        EXPECT_EQ(after.shown(window, name), picked) << p.window << " " << p.control;
    }
    // The windows' own handlers ran: the port picked is open, the periods picked drive the timers.
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
    std::function<void(Program&)> arrange;
    std::function<void(Program&)> check; // what applied regardless
};

TEST(Setup, AFileNotAppliedWholeTellsInOneBoxWhatWasNotAppliedAndAppliesTheRest)
{
    const Faulty cases[] = {
        {"not a setup",
         R"({"hello": 1})",
         false,
         {"nie je to nastavenie"},
         {},
         [](Program& p) { EXPECT_FALSE(p.main->form2().isOpen()); }},
        {"not JSON",
         "com: COM1",
         false,
         {"nie je to nastavenie", "JSON"},
         {},
         [](Program& p) { EXPECT_FALSE(p.main->form2().isOpen()); }},
        {"a newer format with a setting this program does not know",
         R"({"format":"diagnostika-setup","version":7,"windows":{"com":{"port":"COM1","gearRatio":3}}})",
         true,
         {"novšej verzie", "formát 7", "gearRatio"},
         {},
         [](Program& p) { EXPECT_TRUE(p.main->form2().MSComm1()->isOpen()); }},
        {"a value the window does not offer",
         R"({"format":"diagnostika-setup","version":1,"windows":{"com":{"snimace":"4","pulsesPerRevolution":5,"speedInput":"DSR"}}})",
         true,
         {"pulsesPerRevolution", "„5“", "snimace"},
         {},
         [](Program& p) { EXPECT_EQ(p.shown("com", "vstup"), QStringLiteral("DSR")); }},
        {"a period out of the scroll bar's range and a window unknown",
         R"({"format":"diagnostika-setup","version":1,"windows":{"game":{"period_ms":5000},"orders":{}}})",
         true,
         {"Meranie GAME", "period_ms", "„5000“", "„orders“"},
         {},
         [](Program& p) { EXPECT_TRUE(p.main->form3().isOpen()); }},
        // The port fails as when picked by hand: the window's own box, nothing more.
        {"a port another program holds",
         R"({"format":"diagnostika-setup","version":1,"windows":{"com":{"port":"COM1"}}})",
         true,
         {"Port používa iný program alebo zariadenie"},
         [](Program& p) { p.serial->failOpen(1, SerialError::Kind::InUse, QStringLiteral("x")); },
         [](Program& p) { EXPECT_FALSE(p.main->form2().MSComm1()->isOpen()); }},
        // A window open now but not in the setup closes.
        {"a window not listed",
         R"({"format":"diagnostika-setup","version":1,"windows":{}})",
         true,
         {},
         [](Program& p) { p.main->mnuZvlastItem_Click(); },
         [](Program& p) { EXPECT_FALSE(p.main->form3().isOpen()); }},
    };
    QTemporaryDir folder;
    for (const Faulty& c : cases) {
        SCOPED_TRACE(c.what);
        const QString path = folder.filePath(QStringLiteral("setup.json"));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(c.json);
        file.close();
        Program p;
        if (c.arrange)
            c.arrange(p);
        EXPECT_EQ(p.main->openSetup(path), c.applied);
        // A window closed goes when the toolkit has torn it down.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        ASSERT_EQ(p.boxes.size(), c.told.empty() ? 0 : 1) << p.boxes.join(u'\n').toStdString();
        for (const char* text : c.told)
            EXPECT_TRUE(p.boxes[0].contains(QString::fromUtf8(text)))
                << text << " not in: " << p.boxes[0].toStdString();
        c.check(p);
    }
}

} // namespace
