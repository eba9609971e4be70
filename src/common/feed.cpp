#include "feed.h"

#include <QMetaMethod>

namespace diagnostika {

Feed::Feed(const QString& source, const QString& title, QObject* parent)
    : QObject(parent), source_(source), title_(title)
{
    setObjectName(source + QStringLiteral("Feed"));
}

bool Feed::readingHeard() const
{
    static const QMetaMethod signal = QMetaMethod::fromSignal(&Feed::reading);
    return isSignalConnected(signal);
}

bool Feed::samplesHeard() const
{
    static const QMetaMethod signal = QMetaMethod::fromSignal(&Feed::samples);
    return isSignalConnected(signal);
}

bool Feed::spectrumHeard() const
{
    static const QMetaMethod signal = QMetaMethod::fromSignal(&Feed::spectrum);
    return isSignalConnected(signal);
}

void Feed::publishOpened()
{
    open_ = true;
    // The first settings after opening are told even when they equal the last ones before closing.
    settings_.clear();
    Q_EMIT opened();
}

void Feed::publishClosed()
{
    open_ = false;
    Q_EMIT closed();
}

void Feed::publishSettings(FeedSettings settings)
{
    if (settings == settings_)
        return;
    settings_ = std::move(settings);
    Q_EMIT settingsChanged(settings_);
}

} // namespace diagnostika
