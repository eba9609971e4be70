#include "com/form2.h"
#include "common/classicstyle.h"
#include "common/messages.h"
#include "game/form3.h"
#include "lpt/form1.h"
#include "platform/backends.h"
#include "publish/publisher.h"
#include "shell/mdiform1.h"
#include "shell/qttexts.h"
#include "shell/wrappingmenubar.h"
#include "support/fakeclock.h"
#include "support/fakejoystick.h"
#include "support/fakeportio.h"
#include "support/fakeserial.h"
#include "trend/trendform.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QImage>
#include <QKeySequence>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTranslator>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

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
        previous = setInformationPresenter(
            [this](QWidget*, const QString& title, const QString& text, const QString&) {
                boxes.push_back({title, text});
            });
    }
    ~MDIForm1Test() override { setInformationPresenter(previous); }

    QAction* entry(const char* name) const
    {
        return main->wrappingMenuBar()->findChild<QAction*>(QString::fromLatin1(name));
    }

    Backends backends;
    test::FakeJoystick* joystick = nullptr;
    test::FakeSerialLinesProvider* serialProvider = nullptr;
    std::unique_ptr<MDIForm1> main;
    std::vector<std::pair<QString, QString>> boxes;
    InformationPresenter previous;
};

TEST_F(MDIForm1Test, MenuBarHasItsEntriesInOrder)
{
    EXPECT_EQ(main->windowTitle(), QStringLiteral("Diagnostika točivých strojov"));
    EXPECT_EQ(main->mdiArea()->size(), QSize(470, 362));
    const QList<QAction*> actions = main->wrappingMenuBar()->entries();
    const std::pair<const char*, const char*> expected[] = {
        {"mnuExitItem", "U&končiť program"},  {"mnuSerialItem", "&Meranie COM"},
        {"mnuLPTItem", "M&eranie LPT"},       {"mnuZvlastItem", "Meranie &GAME"},
        {"mnuTrendItem", "&Priebeh otáčok"},  {"mnuVibrationItem", "&Vibrácie"},
        {"mnuOrdersItem", "&Rádová analýza"}, {"mnuRecordItem", "&Záznam"},
        {"mnuSetupItem", "&Nastavenie"},      {"mnuAboutItem", "&O programe..."},
    };
    ASSERT_EQ(actions.size(), 10);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(actions[i]->objectName(), QString::fromLatin1(expected[i].first));
        EXPECT_EQ(actions[i]->text(), QString::fromUtf8(expected[i].second));
        EXPECT_TRUE(actions[i]->isEnabled());
        EXPECT_FALSE(actions[i]->isCheckable());
        // Only recording and setups are drop-downs: the others are commands.
        EXPECT_EQ(actions[i]->menu() != nullptr, i == 7 || i == 8);
        EXPECT_TRUE(actions[i]->shortcut().isEmpty());
    }
    // The access keys: Alt with the character after "&".
    const char* keys[] = {"k", "M", "e", "G", "P", "V", "R", "Z", "N", "O"};
    for (int i = 0; i < 10; ++i) {
        const QKeySequence mnemonic = QKeySequence::mnemonic(actions[i]->text());
        EXPECT_EQ(mnemonic, QKeySequence(QStringLiteral("Alt+") + QString::fromUtf8(keys[i])));
    }
}

// The entries are wider than the window: the bar wraps onto further rows, every entry stays in
// sight (none behind an extension button) at the described size and after a resize either way,
// and the client area keeps its described size at the start.
TEST_F(MDIForm1Test, EveryMenuEntryStaysVisibleOnAsManyRowsAsTheWidthNeeds)
{
    WrappingMenuBar* bar = main->wrappingMenuBar();
    EXPECT_EQ(main->mdiArea()->size(), QSize(470, 362));
    for (const int width : {470, 250, 1200}) {
        SCOPED_TRACE(width);
        main->resize(width, main->height());
        QCoreApplication::processEvents(); // the posted re-layout
        EXPECT_EQ(bar->geometry(), QRect(0, 0, width, bar->heightForWidth(width)));
        EXPECT_EQ(main->mdiArea()->y(), bar->height());
        for (const QToolButton* extension : bar->findChildren<QToolButton*>())
            EXPECT_FALSE(extension->isVisible()) << extension->objectName().toStdString();
        QList<QAction*> shown;
        for (QMenuBar* row : bar->rows()) {
            EXPECT_TRUE(row->isVisible());
            EXPECT_TRUE(bar->rect().contains(row->geometry()));
            for (QAction* action : row->actions()) {
                EXPECT_TRUE(row->rect().contains(row->actionGeometry(action)))
                    << action->text().toStdString();
                shown << action;
            }
        }
        EXPECT_EQ(shown, bar->entries());
        // One row only where the window is wide enough for every entry.
        EXPECT_EQ(bar->rows().size() == 1, width == 1200);
    }
}

// Alt with an entry's access key chooses it, on the first row and on a row below it.
TEST_F(MDIForm1Test, AccessKeysWorkOnEveryRow)
{
    QApplication::setActiveWindow(main.get());
    const QList<QMenuBar*> rows = main->wrappingMenuBar()->rows();
    ASSERT_GE(rows.size(), 2);
    ASSERT_TRUE(rows.front()->actions().contains(entry("mnuZvlastItem")));
    ASSERT_TRUE(rows.back()->actions().contains(entry("mnuAboutItem")));
    QTest::keyClick(main.get(), Qt::Key_G, Qt::AltModifier);
    EXPECT_EQ(main->mdiArea()->subWindowList().size(), 1);
    QTest::keyClick(main.get(), Qt::Key_O, Qt::AltModifier);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].first, QStringLiteral("Informácia."));
}

// Recording from the menu's side: the caption says it records and where, the windows offer their
// pictures there, a folder that cannot be made is told in a box, and stopping closes the files.
TEST_F(MDIForm1Test, RecordingShowsInTheCaptionAndPicturesGoToItsFolder)
{
    QTemporaryDir dir;
    QFile blocker(dir.filePath(QStringLiteral("subor")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    EXPECT_FALSE(main->startRecording(dir.filePath(QStringLiteral("subor/x"))));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].second.contains(QStringLiteral("subor"))) << boxes[0].second.toStdString();
    EXPECT_FALSE(entry("mnuRecordStop")->isEnabled());

    ASSERT_TRUE(main->startRecording(dir.path()));
    EXPECT_EQ(main->windowTitle(), QStringLiteral("Diagnostika točivých strojov – záznam: ") +
                                       QDir::toNativeSeparators(dir.path()));
    EXPECT_TRUE(entry("mnuRecordStop")->isEnabled());
    entry("mnuZvlastItem")->trigger();
    Form3& game = main->form3();
    ASSERT_NE(game.window()->systemMenu()->findChild<QAction*>(QStringLiteral("ulozitObrazok")),
              nullptr);
    const QString picture = game.pictureName();
    EXPECT_TRUE(picture.startsWith(dir.path()) && picture.endsWith(QStringLiteral("_game.png")))
        << picture.toStdString();
    ASSERT_TRUE(game.savePicture(picture));
    EXPECT_EQ(QImage(picture).size(), game.window()->size());
    // A FIFO named in the dialog is refused, not waited on by the user-interface thread.
    const QString fifo = dir.filePath(QStringLiteral("fifo.png"));
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    EXPECT_FALSE(game.savePicture(fifo));

    entry("mnuRecordStop")->trigger();
    EXPECT_EQ(main->windowTitle(), QStringLiteral("Diagnostika točivých strojov"));
    EXPECT_EQ(QDir(dir.path()).entryList({QStringLiteral("*_game.*")}).size(), 3)
        << "readings, metadata and the picture";
}

// The speed trend is recorded beside the serial window it follows: a file of its own, with its
// header and what it showed.
TEST_F(MDIForm1Test, RecordingTakesTheTrendWindowToo)
{
    QTemporaryDir dir;
    entry("mnuSerialItem")->trigger();
    entry("mnuTrendItem")->trigger();
    ASSERT_TRUE(main->startRecording(dir.path()));
    main->trendForm().refresh();
    entry("mnuRecordStop")->trigger();
    const QStringList files = QDir(dir.path()).entryList({QStringLiteral("*_trend.csv")});
    ASSERT_EQ(files.size(), 1);
    QFile file(QDir(dir.path()).filePath(files[0]));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines[0], "cas [s],datum_cas,udalost,otacky [min^-1],minimum [min^-1],maximum "
                        "[min^-1]");
    EXPECT_TRUE(lines[1].contains(",refresh,")) << lines[1].toStdString();
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
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("Verzia " DIAGNOSTIKA_VERSION ".")));
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

// Every window, opened in the main window at its described size, can be reached whole; its frames
// hold their controls below the border line; every entry of every list reads whole.
TEST_F(MDIForm1Test, EveryControlIsReachableInsideItsFrameAndEveryListEntryFits)
{
    const std::pair<const char*, MeasurementForm* (*)(MDIForm1&)> windows[] = {
        {"mnuSerialItem", [](MDIForm1& m) -> MeasurementForm* { return &m.form2(); }},
        {"mnuLPTItem", [](MDIForm1& m) -> MeasurementForm* { return &m.form1(); }},
        {"mnuZvlastItem", [](MDIForm1& m) -> MeasurementForm* { return &m.form3(); }},
    };
    QMdiArea* area = main->mdiArea();
    QList<QPoint> places;
    for (const auto& [menuEntry, form] : windows) {
        SCOPED_TRACE(menuEntry);
        entry(menuEntry)->trigger();
        QCoreApplication::processEvents();
        QMdiSubWindow* window = form(*main)->window();
        ASSERT_NE(window, nullptr);
        // Cascaded from the top left: never at a negative place, never on top of another.
        EXPECT_GE(window->x(), 0);
        EXPECT_GE(window->y(), 0);
        EXPECT_FALSE(places.contains(window->pos()));
        places << window->pos();

        // What the visible part and the scroll bars together let the user see, in the
        // coordinates of the visible part.
        const QScrollBar* h = area->horizontalScrollBar();
        const QScrollBar* v = area->verticalScrollBar();
        const QRect reachable(QPoint(h->minimum() - h->value(), v->minimum() - v->value()),
                              QPoint(h->maximum() - h->value() + area->viewport()->width() - 1,
                                     v->maximum() - v->value() + area->viewport()->height() - 1));
        EXPECT_TRUE(reachable.contains(window->geometry()));
        for (QWidget* c : form(*main)->client()->findChildren<QWidget*>()) {
            if (c->isWindow() || !c->isVisibleTo(window))
                continue;
            const QRect at(c->mapTo(area->viewport(), QPoint(0, 0)), c->size());
            EXPECT_TRUE(reachable.contains(at)) << c->objectName().toStdString();
        }

        for (QGroupBox* frame : form(*main)->client()->findChildren<QGroupBox*>()) {
            // The border's top line, as drawn: the first row that differs from the background,
            // right of the caption.
            QImage image(frame->size(), QImage::Format_RGB32);
            frame->render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground);
            const int x = frame->width() - 8;
            int border = 0;
            while (border < image.height() && image.pixel(x, border) == image.pixel(x, 0))
                ++border;
            for (const QWidget* c : frame->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                EXPECT_GT(c->y(), border + 1) << c->objectName().toStdString() << " on the border";
        }

        for (const QComboBox* list : form(*main)->client()->findChildren<QComboBox*>()) {
            const QFontMetrics metrics(list->font());
            for (int i = 0; i < list->count(); ++i)
                EXPECT_LE(metrics.horizontalAdvance(list->itemText(i)), listTextWidth(list))
                    << list->objectName().toStdString() << ": " << list->itemText(i).toStdString();
        }
    }
}

TEST(MDIForm1TitleTest, SaysWhenTheSensorsAreSimulated)
{
    Backends backends;
    backends.simulated = true;
    // The recorder keeps the clock from the start.
    backends.clock = std::make_unique<test::FakeClock>();
    backends.joystick = std::make_unique<test::FakeJoystick>();
    MDIForm1 main(backends);
    EXPECT_TRUE(main.windowTitle().startsWith(QStringLiteral("Diagnostika točivých strojov")));
    EXPECT_TRUE(main.windowTitle().contains(QStringLiteral("simul")));
}

} // namespace

namespace {

// Opening and closing a measurement window again and again, as a user does all day, keeps nothing
// behind: the heap in use after many cycles is what it was after the first few.
TEST_F(MDIForm1Test, OpeningAndClosingAWindowKeepsNothingBehind)
{
    const std::pair<const char*, void (MDIForm1::*)()> windows[] = {
        {"lpt", &MDIForm1::mnuLPTItem_Click},
        {"game", &MDIForm1::mnuZvlastItem_Click},
        {"com", &MDIForm1::mnuSerialItem_Click},
    };
    for (const auto& [name, open] : windows) {
        SCOPED_TRACE(name);
        auto cycle = [&, open = open] {
            (main.get()->*open)();
            ASSERT_EQ(main->mdiArea()->subWindowList().size(), 1);
            main->mdiArea()->closeAllSubWindows();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QCoreApplication::processEvents();
            serialProvider->log.clear(); // the fake's own record of the calls is no part of it
        };
        // The first cycles fill what is made once (fonts, caches of fixed size).
        for (int i = 0; i < 100; ++i)
            cycle();
        constexpr int cycles = 200;
        const std::size_t before = mallinfo2().uordblks;
        for (int i = 0; i < cycles; ++i)
            cycle();
        const std::size_t after = mallinfo2().uordblks;
        const double perCycle = after > before ? static_cast<double>(after - before) / cycles : 0.0;
        // A few bytes from a container that happened to grow are no leak; a window's worth is.
        EXPECT_LT(perCycle, 200.0);
    }
}

} // namespace

// Publishing to a broker that is not there: the caption says it is connecting and how much waits
// in the outbox, one box says why, the windows' readings queue, and the settings kept for the
// dialog hold the password file's name, never a password.
TEST_F(MDIForm1Test, PublishingShowsItsStateInTheCaptionAndQueuesWhileTheBrokerIsAway)
{
    // A port bound but never listened on: every connection is refused at once.
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ASSERT_EQ(::bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
    publish::PublishSettings settings;
    settings.host = QStringLiteral("127.0.0.1");
    settings.port = ntohs(a.sin_port);
    settings.station = QStringLiteral("lis3");
    settings.passwordFile = QStringLiteral("/nikde/heslo");
    settings.user = QStringLiteral("jan");
    ASSERT_NE(entry("mnuPublish"), nullptr);
    // The outbox opens with publishing: one left by an earlier run would be sent first.
    QDir(publish::Publisher::defaultOutboxFolder()).removeRecursively();
    entry("mnuZvlastItem")->trigger();
    Form3& game = main->form3();
    main->startPublishing(settings);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !boxes.empty(); }, 10'000));
    ASSERT_FALSE(boxes.empty());
    EXPECT_TRUE(boxes[0].second.contains(QStringLiteral("súbor s heslom /nikde/heslo")))
        << boxes[0].second.toStdString();
    EXPECT_TRUE(main->windowTitle().startsWith(
        QStringLiteral("Diagnostika točivých strojov – server: pripája sa, v rade ")))
        << main->windowTitle().toStdString();
    for (int i = 0; i < 3; ++i)
        game.Timer1_Timer();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return main->windowTitle().contains(QStringLiteral("v rade 15 správ")); }, 10'000))
        << main->windowTitle().toStdString();
    const QByteArray kept = QSettings(QStringLiteral("Diagnostika"), QStringLiteral("diagnostika"))
                                .value(QStringLiteral("odosielanie/nastavenia"))
                                .toByteArray();
    EXPECT_TRUE(kept.contains("/nikde/heslo"));
    main->publisher().stop();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return main->windowTitle() == QStringLiteral("Diagnostika točivých strojov"); },
        10'000));
    ::close(s);
    QDir(publish::Publisher::defaultOutboxFolder()).removeRecursively();
}
