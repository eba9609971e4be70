#include "publisher.h"

#include "publish/link.h"

#include <QDateTime>
#include <QDir>
#include <QLocale>
#include <QStandardPaths>
#include <QThread>
#include <ctime>

namespace diagnostika::publish {

QString statusText(const PublishStatus& status)
{
    using State = PublishStatus::State;
    QString text;
    switch (status.state) {
    case State::Off:
        return {};
    case State::Connecting:
        text = QStringLiteral("server: pripája sa");
        break;
    case State::Connected:
        text = QStringLiteral("server: pripojené");
        break;
    case State::Reconnecting:
        text = QStringLiteral("server: pripája sa znova");
        break;
    }
    if (status.queued > 0 || status.state != State::Connected)
        text += QStringLiteral(", v rade %1 správ (%2)")
                    .arg(status.queued)
                    .arg(QLocale().formattedDataSize(status.queuedBytes));
    if (status.dropped > 0)
        text += QStringLiteral(", zahodených najstarších %1").arg(status.dropped);
    return text;
}

Publisher::Publisher(const QString& outboxFolder, QObject* parent) : QObject(parent)
{
    thread_ = new QThread(this);
    thread_->setObjectName(QStringLiteral("publish"));
    link_ = new Link(outboxFolder);
    link_->moveToThread(thread_);
    connect(thread_, &QThread::finished, link_, &QObject::deleteLater);
    connect(link_, &Link::statusChanged, this, [this](const PublishStatus& s) {
        status_ = s;
        Q_EMIT statusChanged(s);
    });
    connect(link_, &Link::problem, this, &Publisher::failed);
    thread_->start();
}

Publisher::~Publisher()
{
    stop();
    // The goodbye to the broker and the outbox's mark, waited for: the program is ending anyway,
    // and the goodbye waits on the broker only a moment.
    QMetaObject::invokeMethod(link_, &Link::shutdown, Qt::BlockingQueuedConnection);
    thread_->quit();
    if (!thread_->wait(3000))
        qWarning("publishing thread did not finish in time");
}

QString Publisher::defaultOutboxFolder()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation))
        .filePath(QStringLiteral("odosielanie"));
}

double Publisher::threadCpuSeconds() const
{
    double seconds = 0;
    QMetaObject::invokeMethod(
        link_,
        [&seconds] {
            timespec ts{};
            ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
            seconds = static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
        },
        Qt::BlockingQueuedConnection);
    return seconds;
}

void Publisher::addFeed(Feed* feed)
{
    feeds_.push_back(feed);
    connect(feed, &QObject::destroyed, this, [this, feed] { std::erase(feeds_, feed); });
    if (running_)
        listen(feed);
}

void Publisher::listen(Feed* feed)
{
    Link* link = link_;
    connections_.push_back(
        connect(feed, &Feed::reading, this, [link, feed](const FeedReading& reading) {
            const std::int64_t wallMs = QDateTime::currentMSecsSinceEpoch();
            QMetaObject::invokeMethod(
                link,
                [link, window = feed->source(), reading, wallMs] {
                    link->add(window, reading, wallMs);
                },
                Qt::QueuedConnection);
        }));
}

void Publisher::start(const PublishSettings& settings)
{
    stop();
    settings_ = settings;
    running_ = true;
    QMetaObject::invokeMethod(
        link_, [link = link_, settings] { link->configure(settings); }, Qt::QueuedConnection);
    for (Feed* feed : feeds_)
        listen(feed);
}

void Publisher::stop()
{
    if (!running_)
        return;
    running_ = false;
    for (const QMetaObject::Connection& c : connections_)
        disconnect(c);
    connections_.clear();
    QMetaObject::invokeMethod(link_, &Link::shutdown, Qt::QueuedConnection);
}

} // namespace diagnostika::publish
