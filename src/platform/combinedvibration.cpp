#include "combinedvibration.h"

namespace diagnostika {

CombinedVibrationInputProvider::CombinedVibrationInputProvider(
    std::vector<VibrationProviderPart> parts)
    : parts_(std::move(parts))
{
}

VibrationInputProvider*
CombinedVibrationInputProvider::providerFor(const std::vector<VibrationProviderPart>& parts,
                                            const QString& source)
{
    VibrationInputProvider* rest = nullptr;
    for (const VibrationProviderPart& part : parts) {
        if (part.prefix.isEmpty())
            rest = rest ? rest : part.provider.get();
        else if (source.startsWith(part.prefix))
            return part.provider.get();
    }
    return rest;
}

std::vector<VibrationSource> CombinedVibrationInputProvider::sources()
{
    std::vector<VibrationSource> all;
    for (const VibrationProviderPart& part : parts_) {
        for (VibrationSource& source : part.provider->sources())
            all.push_back(std::move(source));
    }
    return all;
}

std::optional<VibrationCapabilities>
CombinedVibrationInputProvider::capabilities(const QString& source, VibrationError* error)
{
    if (VibrationInputProvider* provider = providerFor(parts_, source))
        return provider->capabilities(source, error);
    if (error)
        *error = VibrationError{VibrationError::Kind::Other, source,
                                QStringLiteral("taký zdroj nie je")};
    return std::nullopt;
}

std::unique_ptr<VibrationInput> CombinedVibrationInputProvider::create()
{
    return std::make_unique<RoutedVibrationInput>(parts_);
}

RoutedVibrationInput::RoutedVibrationInput(std::vector<VibrationProviderPart> parts,
                                           QObject* parent)
    : VibrationInput(parent), parts_(std::move(parts))
{
}

bool RoutedVibrationInput::open(const VibrationSettings& settings, VibrationError* error)
{
    VibrationInputProvider* provider =
        CombinedVibrationInputProvider::providerFor(parts_, settings.source);
    if (!provider) {
        if (error)
            *error = VibrationError{VibrationError::Kind::Other, settings.source,
                                    QStringLiteral("taký zdroj nie je")};
        return false;
    }
    if (provider != from_ || !input_) {
        // The previous source's input goes, with what it had not handed over: open() drops that.
        input_.reset();
        input_ = provider->create();
        from_ = provider;
        connect(input_.get(), &VibrationInput::blocksReady, this, &VibrationInput::blocksReady);
        connect(input_.get(), &VibrationInput::inputLost, this, &VibrationInput::inputLost);
    }
    return input_->open(settings, error);
}

void RoutedVibrationInput::close()
{
    if (input_)
        input_->close();
}

bool RoutedVibrationInput::isOpen() const
{
    return input_ && input_->isOpen();
}

VibrationSettings RoutedVibrationInput::settings() const
{
    return input_ ? input_->settings() : VibrationSettings{};
}

VibrationScale RoutedVibrationInput::scale() const
{
    return input_ ? input_->scale() : VibrationScale{};
}

std::vector<VibrationBlock> RoutedVibrationInput::takeBlocks()
{
    return input_ ? input_->takeBlocks() : std::vector<VibrationBlock>{};
}

std::uint64_t RoutedVibrationInput::lostSamples() const
{
    return input_ ? input_->lostSamples() : 0;
}

} // namespace diagnostika
