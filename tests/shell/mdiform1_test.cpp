#include "com/form2.h"
#include "common/messages.h"
#include "game/form3.h"
#include "lpt/form1.h"
#include "platform/backends.h"
#include "shell/mdiform1.h"
#include "shell/qttexts.h"
#include "support/fakeclock.h"
#include "support/fakejoystick.h"
#include "support/fakeportio.h"
#include "support/fakeserial.h"

#include <QAction>
#include <QComboBox>
#include <QKeySequence>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTest>
#include <QTranslator>
#include <gtest/gtest.h>

using namespace diagnostika;

namespace {

class MDIForm1Test : public ::testing::Test {
protected:
    MDIForm1Test()
    {
        backends.clock = std::make_unique<test::FakeClock>();
        auto fake = std::make_unique<test::FakeJoystick>();
        joystick = fake.get();
        backends.joystick = std::move(fake);
        backends.portIo = std::make_unique<test::FakePortIo>();
        auto serial = std::make_unique<test::FakeSerialLinesProvider>();
        serialProvider = serial.get();
        backends.serial = std::move(serial);
        main = std::make_unique<MDIForm1>(backends);
        main->show();
        previous =
            setInformationPresenter([this](QWidget*, const QString& title, const QString& text) {
                boxes.push_back({title, text});
            });
    }
    ~MDIForm1Test() override { setInformationPresenter(previous); }

    QAction* entry(const char* name) const
    {
        return main->menuBar()->findChild<QAction*>(QString::fromLatin1(name));
    }

    Backends backends;
    test::FakeJoystick* joystick = nullptr;
    test::FakeSerialLinesProvider* serialProvider = nullptr;
    std::unique_ptr<MDIForm1> main;
    std::vector<std::pair<QString, QString>> boxes;
    InformationPresenter previous;
};

TEST_F(MDIForm1Test, MenuBarHasSixEntriesInOrder)
{
    EXPECT_EQ(main->windowTitle(), QStringLiteral("Diagnostika točivých strojov"));
    EXPECT_EQ(main->mdiArea()->size(), QSize(470, 362));
    const QList<QAction*> actions = main->menuBar()->actions();
    const std::pair<const char*, const char*> expected[] = {
        {"mnuExitItem", "U&končiť program"}, {"mnuSerialItem", "&Meranie COM"},
        {"mnuLPTItem", "M&eranie LPT"},      {"mnuZvlastItem", "Meranie &GAME"},
        {"mnuTrendItem", "&Priebeh otáčok"}, {"mnuAboutItem", "&O programe..."},
    };
    ASSERT_EQ(actions.size(), 6);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(actions[i]->objectName(), QString::fromLatin1(expected[i].first));
        EXPECT_EQ(actions[i]->text(), QString::fromUtf8(expected[i].second));
        EXPECT_TRUE(actions[i]->isEnabled());
        EXPECT_FALSE(actions[i]->isCheckable());
        EXPECT_EQ(actions[i]->menu(), nullptr);
        EXPECT_TRUE(actions[i]->shortcut().isEmpty());
    }
    // The access keys: Alt with the character after "&".
    const char* keys[] = {"k", "M", "e", "G", "P", "O"};
    for (int i = 0; i < 6; ++i) {
        const QKeySequence mnemonic = QKeySequence::mnemonic(actions[i]->text());
        EXPECT_EQ(mnemonic, QKeySequence(QStringLiteral("Alt+") + QString::fromLatin1(keys[i])));
    }
}

TEST_F(MDIForm1Test, AboutBoxShowsTwoLines)
{
    entry("mnuAboutItem")->trigger();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].first, QStringLiteral("Informácia."));
    const QStringList lines = boxes[0].second.split(QStringLiteral("\r\n"));
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0],
              QStringLiteral("Program na meranie elektrických aj neelektrických veličín."));
    EXPECT_FALSE(lines[1].isEmpty());
}

TEST_F(MDIForm1Test, GameEntryOpensOneWindowAndReactivatesIt)
{
    entry("mnuZvlastItem")->trigger();
    Form3& form = main->form3();
    ASSERT_TRUE(form.isOpen());
    QMdiSubWindow* first = form.window();

    form.Timer1_Timer();
    main->mdiArea()->setActiveSubWindow(nullptr);
    entry("mnuZvlastItem")->trigger();
    EXPECT_EQ(main->mdiArea()->subWindowList().size(), 1);
    EXPECT_EQ(form.window(), first);
    EXPECT_EQ(main->mdiArea()->activeSubWindow(), first);
    EXPECT_EQ(&main->form3(), &form);
    EXPECT_EQ(form.krok, 1); // the same window object, not a fresh one
}

TEST_F(MDIForm1Test, QtsOwnTextsInTheWindowsAreSlovak)
{
    QTranslator translator;
    ASSERT_TRUE(installQtTexts(*QCoreApplication::instance(), translator));
    entry("mnuZvlastItem")->trigger();
    QMdiSubWindow* window = main->form3().window();
    ASSERT_NE(window, nullptr);
    QStringList texts;
    for (const QAction* action : window->systemMenu()->actions())
        texts << action->text();
    EXPECT_TRUE(texts.contains(QStringLiteral("&Zavrieť"))) << texts.join(u'|').toStdString();
    EXPECT_FALSE(texts.contains(QStringLiteral("&Close")));
    QCoreApplication::removeTranslator(&translator);
}

TEST_F(MDIForm1Test, ExitClosesEveryWindowWithoutAPrompt)
{
    entry("mnuSerialItem")->trigger();
    entry("mnuLPTItem")->trigger();
    entry("mnuZvlastItem")->trigger();
    EXPECT_EQ(main->mdiArea()->subWindowList().size(), 3);
    // The serial window holds an open port, which must be closed on the way out.
    main->form2().client()->findChild<QComboBox*>(QStringLiteral("port"))->setCurrentIndex(0);
    Q_EMIT main->form2().client()->findChild<QComboBox*>(QStringLiteral("port"))->activated(0);
    ASSERT_TRUE(serialProvider->lines() && serialProvider->lines()->isOpen());

    std::vector<std::unique_ptr<QSignalSpy>> closed;
    for (MeasurementForm* form :
         std::initializer_list<MeasurementForm*>{&main->form1(), &main->form2(), &main->form3()})
        closed.push_back(std::make_unique<QSignalSpy>(form, &MeasurementForm::closed));
    entry("mnuExitItem")->trigger();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    for (const auto& spy : closed)
        EXPECT_EQ(spy->count(), 1);
    EXPECT_FALSE(main->form1().isOpen());
    EXPECT_FALSE(main->form2().isOpen());
    EXPECT_FALSE(main->form3().isOpen());
    EXPECT_EQ(serialProvider->log.back(), "destroyed");
    EXPECT_FALSE(main->isVisible());
    EXPECT_TRUE(boxes.empty());
}

TEST_F(MDIForm1Test, CloseBoxDoesWhatExitDoes)
{
    entry("mnuZvlastItem")->trigger();
    EXPECT_TRUE(main->close());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(main->form3().isOpen());
}

TEST(MDIForm1TitleTest, SaysWhenTheSensorsAreSimulated)
{
    Backends backends;
    backends.simulated = true;
    backends.joystick = std::make_unique<test::FakeJoystick>();
    MDIForm1 main(backends);
    EXPECT_TRUE(main.windowTitle().startsWith(QStringLiteral("Diagnostika točivých strojov")));
    EXPECT_TRUE(main.windowTitle().contains(QStringLiteral("simul")));
}

} // namespace
