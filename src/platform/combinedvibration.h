#pragma once
// Several vibration providers offered as one: the sound inputs and the parallel-port converters
// side by side in one source list. A source goes to the provider whose prefix it starts with
// ("lpt:"), or else to the one with no prefix. An input made here opens, on each open(), an input
// of the provider the source belongs to and passes its signals on.

#include "vibrationinput.h"

#include <memory>
#include <vector>

namespace diagnostika {

struct VibrationProviderPart {
    QString prefix; // empty: every source no other part claims
    std::shared_ptr<VibrationInputProvider> provider;
};

class CombinedVibrationInputProvider final : public VibrationInputProvider {
public:
    explicit CombinedVibrationInputProvider(std::vector<VibrationProviderPart> parts);

    // The parts' sources, in the parts' order.
    std::vector<VibrationSource> sources() override;
    std::optional<VibrationCapabilities> capabilities(const QString& source,
                                                      VibrationError* error) override;
    std::unique_ptr<VibrationInput> create() override;

    // The provider `source` belongs to, or null.
    static VibrationInputProvider* providerFor(const std::vector<VibrationProviderPart>& parts,
                                               const QString& source);
    const std::vector<VibrationProviderPart>& parts() const { return parts_; }

private:
    std::vector<VibrationProviderPart> parts_;
};

class RoutedVibrationInput final : public VibrationInput {
    Q_OBJECT
public:
    explicit RoutedVibrationInput(std::vector<VibrationProviderPart> parts,
                                  QObject* parent = nullptr);

    bool open(const VibrationSettings& settings, VibrationError* error) override;
    void close() override;
    bool isOpen() const override;
    VibrationSettings settings() const override;
    VibrationScale scale() const override;
    std::vector<VibrationBlock> takeBlocks() override;
    std::uint64_t lostSamples() const override;

    // The input the last open() went to, or null.
    VibrationInput* current() const { return input_.get(); }

private:
    std::vector<VibrationProviderPart> parts_;
    VibrationInputProvider* from_ = nullptr;
    std::unique_ptr<VibrationInput> input_;
};

} // namespace diagnostika
