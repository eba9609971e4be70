#include "capturedvibrationinput.h"

namespace diagnostika {

std::vector<VibrationBlock> CapturedVibrationInput::takeBlocks()
{
    return buffer_ ? buffer_->take() : std::vector<VibrationBlock>{};
}

std::uint64_t CapturedVibrationInput::lostSamples() const
{
    return buffer_ ? buffer_->lost() : 0;
}

void CapturedVibrationInput::startBuffer(std::size_t samples)
{
    {
        const std::lock_guard<std::mutex> guard(failMutex_);
        failure_.reset();
    }
    failed_ = false;
    buffer_ = std::make_unique<VibrationBuffer>(samples);
}

void CapturedVibrationInput::wakeOwner()
{
    // Queued calls to a destroyed object are dropped by Qt, so none outlives the input.
    QMetaObject::invokeMethod(
        this, [this] { onWake(); }, Qt::QueuedConnection);
}

void CapturedVibrationInput::reportLoss(VibrationError error)
{
    {
        const std::lock_guard<std::mutex> guard(failMutex_);
        failure_ = std::move(error);
    }
    failed_ = true;
    wakeOwner();
}

void CapturedVibrationInput::onWake()
{
    if (buffer_ && buffer_->storedSamples() > 0)
        Q_EMIT blocksReady();
    if (!failed_.exchange(false))
        return;
    std::optional<VibrationError> failure;
    {
        const std::lock_guard<std::mutex> guard(failMutex_);
        failure.swap(failure_);
    }
    if (!failure || !isOpen())
        return;
    close();
    Q_EMIT inputLost(*failure);
}

} // namespace diagnostika
