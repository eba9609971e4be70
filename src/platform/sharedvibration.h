#pragma once
// One vibration input read by several windows: the vibration window and the order window follow
// the same accelerometer at once.
//
// A sound card's capture device is held by one open handle (hw: devices refuse a second), and two
// windows opening it each on their own would leave the second with "busy". Here the first window
// to open a source opens the device; a window opening the same source, rate and channel joins it;
// each gets every block captured from its joining on, in its own bounded queue, taken when it
// likes. A window asking for other settings while another reads the device is told the device is
// busy (with what it runs at) rather than changing it under the other. The device closes when the
// last window leaves.

#include "vibrationinput.h"

#include <map>
#include <memory>

namespace diagnostika {

class SharedVibrationInputProvider final : public VibrationInputProvider {
public:
    // A client's queue holds at most this much; older blocks are counted lost.
    static constexpr int queueMs = 4'000;

    explicit SharedVibrationInputProvider(VibrationInputProvider& devices);
    ~SharedVibrationInputProvider() override;

    std::vector<VibrationSource> sources() override;
    std::optional<VibrationCapabilities> capabilities(const QString& source,
                                                      VibrationError* error) override;
    std::unique_ptr<VibrationInput> create() override;
    std::optional<int> rateInUse(const QString& source) const override;

    struct Hub; // the device and its readers; lives as long as any of them

private:
    VibrationInputProvider& devices_;
    std::shared_ptr<Hub> hub_;
    std::map<QString, VibrationCapabilities> known_;
};

} // namespace diagnostika
