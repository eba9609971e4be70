#pragma once
// What every vibration input that captures on a thread of its own shares: the bounded buffer the
// thread fills and the owner empties, the owner's wake-up, and a failure handed from the thread to
// the owner, told once as inputLost after what was captured before it.

#include "vibrationbuffer.h"
#include "vibrationinput.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

namespace diagnostika {

class CapturedVibrationInput : public VibrationInput {
    Q_OBJECT
public:
    using VibrationInput::VibrationInput;

    std::vector<VibrationBlock> takeBlocks() final;
    std::uint64_t lostSamples() const final;

protected:
    // The owner's thread, before the capture starts: a fresh buffer for `samples`, no failure.
    void startBuffer(std::size_t samples);
    // The capture thread: asks the owner to look at the buffer (and at a failure).
    void wakeOwner();
    // The capture thread: the input has failed for good; the owner closes it and tells once.
    void reportLoss(VibrationError error);

    std::unique_ptr<VibrationBuffer> buffer_;

private:
    void onWake(); // the owner's thread

    std::mutex failMutex_;
    std::optional<VibrationError> failure_;
    std::atomic<bool> failed_{false};
};

} // namespace diagnostika
