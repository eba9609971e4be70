#include "measurementform.h"

#include "appicon.h"
#include "controls.h"
#include "messages.h"
#include "platform/regularfile.h"
#include "twips.h"

#include <QDateTime>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPixmap>
#include <QStandardPaths>
#include <algorithm>

namespace diagnostika {
namespace {

// Where a new window goes: the top left of the area's visible part, or, where another window
// stands there, one title bar further down and right, as cascaded windows. Never at a negative
// position, which the area's own placement picks for a window wider than the area, putting its
// left edge out of reach.
QPoint freePlace(const QMdiArea* area, const QMdiSubWindow* window)
{
    const int step = std::max(window->widget()->geometry().top(), 1);
    QList<QPoint> taken;
    for (const QMdiSubWindow* other : area->subWindowList()) {
        if (other != window && other->isVisible())
            taken << other->pos();
    }
    QPoint place(0, 0);
    while (taken.contains(place))
        place += QPoint(step, step);
    return place;
}

QString& pictureFolderSetting()
{
    static QString folder;
    return folder;
}

} // namespace

void setPictureFolder(const QString& folder)
{
    pictureFolderSetting() = folder;
}

MeasurementForm::MeasurementForm(const QString& source, const QString& caption, QSize clientTwips,
                                 QObject* parent)
    : QObject(parent), caption_(caption), feed_(new Feed(source, caption, this)),
      clientTwips_(clientTwips)
{
}

MeasurementForm::~MeasurementForm()
{
    // The window normally goes first; if the form goes first, its window must not outlive it.
    if (window_) {
        window_->removeEventFilter(this);
        // The derived part is gone already: its releaseControls() must not run from here.
        disconnect(window_.data(), nullptr, this, nullptr);
        delete window_.data();
    }
}

void MeasurementForm::show(QMdiArea* area)
{
    // A window that has closed but is not yet destroyed cannot come back; it goes now, so that a
    // fresh one is built.
    if (window_ && unloaded_)
        delete window_.data();
    if (window_) {
        window_->showNormal();
        area->setActiveSubWindow(window_);
        window_->raise();
        return;
    }

    auto* client = new QWidget;
    client->setFixedSize(twipSize(clientTwips_.width(), clientTwips_.height()));
    // The controls are placed in twips for this face, whichever window hosts them.
    client->setFont(windowFont(8));
    client_ = client;
    buildControls(client);

    const Qt::WindowFlags flags = Qt::SubWindow | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                  Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    QMdiSubWindow* window = area->addSubWindow(client, flags);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(caption_);
    window->setWindowIcon(appIcon());
    window->setOption(QMdiSubWindow::RubberBandResize, false);
    window->installEventFilter(this);
    if (QMenu* menu = window->systemMenu()) {
        menu->addSeparator();
        QAction* save = menu->addAction(QStringLiteral("Uložiť obrázok..."));
        save->setObjectName(QStringLiteral("ulozitObrazok"));
        connect(save, &QAction::triggered, this, &MeasurementForm::savePictureAs);
    }
    window_ = window;
    unloaded_ = false;
    connect(window, &QObject::destroyed, this, [this] {
        releaseControls();
        client_ = nullptr;
        Q_EMIT closed();
        feed_->publishClosed();
    });

    formLoad();

    window->adjustSize();
    window->setFixedSize(window->size());
    window->move(freePlace(area, window));
    window->show();
    area->setActiveSubWindow(window);
    Q_EMIT opened();
    feed_->publishOpened();
    settingsToFeed();
}

void MeasurementForm::close()
{
    if (window_ && !unloaded_)
        window_->close();
}

bool MeasurementForm::eventFilter(QObject* watched, QEvent* event)
{
    // The type first: while the window is being destroyed it still sends events (children going),
    // and looking at the guarded pointer then would treat a half-destroyed widget as a subwindow.
    // The window is destroyed only later: a second close before then must not unload again.
    if (event->type() == QEvent::Close && watched == window_ && !unloaded_) {
        unloaded_ = true;
        formUnload();
    }
    return QObject::eventFilter(watched, event);
}

QString MeasurementForm::pictureName() const
{
    QString folder = pictureFolderSetting();
    if (folder.isEmpty())
        folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QDir(folder).filePath(
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss_")) +
        feed_->source() + QStringLiteral(".png"));
}

bool MeasurementForm::savePicture(const QString& path) const
{
    if (!window_)
        return false;
    // The dialog lets the user name any file: a FIFO or a device is refused rather than waited on
    // by the user-interface thread.
    QString reason;
    const int fd = openRegularFileToWrite(path, &reason);
    if (fd < 0)
        return false;
    QFile file;
    return file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle) &&
           window_->grab().save(&file, "PNG") && file.flush();
}

void MeasurementForm::savePictureAs()
{
    const QString path =
        QFileDialog::getSaveFileName(window_, QStringLiteral("Uložiť obrázok"), pictureName(),
                                     QStringLiteral("Obrázok PNG (*.png)"));
    if (path.isEmpty())
        return;
    if (!savePicture(path))
        showInformation(
            window_, applicationTitle(),
            QStringLiteral("Obrázok %1 sa nepodarilo uložiť.").arg(QDir::toNativeSeparators(path)));
}

} // namespace diagnostika
