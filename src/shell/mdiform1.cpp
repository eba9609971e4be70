#include "mdiform1.h"

#include "com/form2.h"
#include "common/appicon.h"
#include "common/colour.h"
#include "common/controls.h"
#include "common/messages.h"
#include "common/twips.h"
#include "game/form3.h"
#include "lpt/form1.h"
#include "platform/backends.h"
#include "trend/trendform.h"

#include <QCloseEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <stdexcept>

namespace diagnostika {

MDIForm1::MDIForm1(Backends& backends, QWidget* parent) : QMainWindow(parent), backends_(backends)
{
    setObjectName(QStringLiteral("MDIForm1"));
    QString title = QStringLiteral("Diagnostika točivých strojov");
    if (backends.simulated)
        title += QStringLiteral(" (simulované snímače)");
    setWindowTitle(title);
    setWindowIcon(appIcon());
    // The windows are laid out in twips for a small 8-point face, as on the classic desktop.
    setFont(windowFont(8));

    mdiArea_ = new QMdiArea(this);
    mdiArea_->setObjectName(QStringLiteral("mdiArea"));
    mdiArea_->setBackground(toQColor(syscolour::appWorkspace, palette()));
    setCentralWidget(mdiArea_);

    // The entries are commands, not drop-down menus; a desktop's global menu bar may show only
    // drop-downs and would hide them all.
    menuBar()->setNativeMenuBar(false);
    addMenuEntry(QStringLiteral("mnuExitItem"), QStringLiteral("U&končiť program"),
                 &MDIForm1::mnuExitItem_Click);
    addMenuEntry(QStringLiteral("mnuSerialItem"), QStringLiteral("&Meranie COM"),
                 &MDIForm1::mnuSerialItem_Click);
    addMenuEntry(QStringLiteral("mnuLPTItem"), QStringLiteral("M&eranie LPT"),
                 &MDIForm1::mnuLPTItem_Click);
    addMenuEntry(QStringLiteral("mnuZvlastItem"), QStringLiteral("Meranie &GAME"),
                 &MDIForm1::mnuZvlastItem_Click);
    addMenuEntry(QStringLiteral("mnuTrendItem"), QStringLiteral("&Priebeh otáčok"),
                 &MDIForm1::mnuTrendItem_Click);
    addMenuEntry(QStringLiteral("mnuAboutItem"), QStringLiteral("&O programe..."),
                 &MDIForm1::mnuAboutItem_Click);

    const QSize client = twipSize(7050, 5430);
    resize(client.width(), client.height() + menuBar()->sizeHint().height());
}

QAction* MDIForm1::addMenuEntry(const QString& name, const QString& caption,
                                void (MDIForm1::*slot)())
{
    QAction* action = menuBar()->addAction(caption);
    action->setObjectName(name);
    connect(action, &QAction::triggered, this, slot);
    return action;
}

QString MDIForm1::aboutText()
{
    return QStringLiteral("Program na meranie elektrických aj neelektrických veličín.\r\n"
                          "© 2026 Vývojári programu Diagnostika. Všetky práva vyhradené.");
}

Form2& MDIForm1::form2()
{
    if (!form2_) {
        if (!backends_.serial)
            throw std::logic_error("the serial window needs the serial-lines service");
        form2_ = new Form2(*backends_.serial, *backends_.clock, this);
    }
    return *form2_;
}

Form1& MDIForm1::form1()
{
    if (!form1_)
        form1_ = new Form1(*backends_.portIo, this);
    return *form1_;
}

Form3& MDIForm1::form3()
{
    if (!form3_)
        form3_ = new Form3(*backends_.joystick, this);
    return *form3_;
}

TrendForm& MDIForm1::trendForm()
{
    if (!trendForm_)
        trendForm_ = new TrendForm(*form2().feed(), *backends_.clock, this);
    return *trendForm_;
}

void MDIForm1::mnuExitItem_Click()
{
    close();
}

void MDIForm1::mnuSerialItem_Click()
{
    // Without the serial-lines service there is no serial window to show.
    if (!backends_.serial)
        return;
    form2().show(mdiArea_);
}

void MDIForm1::mnuLPTItem_Click()
{
    form1().show(mdiArea_);
}

void MDIForm1::mnuZvlastItem_Click()
{
    form3().show(mdiArea_);
}

void MDIForm1::mnuTrendItem_Click()
{
    if (!backends_.serial)
        return;
    trendForm().show(mdiArea_);
}

void MDIForm1::mnuAboutItem_Click()
{
    showInformation(this, QStringLiteral("Informácia."), aboutText());
}

void MDIForm1::closeEvent(QCloseEvent* event)
{
    // Every measurement window closes first, so its timers stop and its devices are released.
    mdiArea_->closeAllSubWindows();
    event->accept();
}

} // namespace diagnostika
