#include "sharedvibration.h"

#include <algorithm>
#include <deque>
#include <vector>

namespace diagnostika {

namespace {

class SharedVibrationInput;

bool sameSettings(const VibrationSettings& a, const VibrationSettings& b)
{
    return a.source == b.source && a.rate == b.rate && a.channel == b.channel;
}

} // namespace

struct SharedVibrationInputProvider::Hub {
    VibrationInputProvider* devices = nullptr; // null once the provider is gone
    std::unique_ptr<VibrationInput> device;
    std::vector<SharedVibrationInput*> readers; // those joined to the open device

    void distribute();
    void leave(SharedVibrationInput* reader);
};

namespace {

class SharedVibrationInput final : public VibrationInput {
public:
    explicit SharedVibrationInput(std::shared_ptr<SharedVibrationInputProvider::Hub> hub)
        : hub_(std::move(hub))
    {
    }
    ~SharedVibrationInput() override { hub_->leave(this); }

    bool open(const VibrationSettings& settings, VibrationError* error) override
    {
        close();
        auto& hub = *hub_;
        if (hub.device && hub.device->isOpen() && !hub.readers.empty()) {
            if (!sameSettings(hub.device->settings(), settings)) {
                const VibrationSettings running = hub.device->settings();
                if (error)
                    *error =
                        VibrationError{VibrationError::Kind::Busy, settings.source,
                                       QStringLiteral("vstup už číta iné okno (%1 Hz, kanál %2)")
                                           .arg(running.rate)
                                           .arg(running.channel + 1)};
                return false;
            }
            hub.distribute(); // what came before joining is not this reader's
            queue_.clear();
            queued_ = 0;
        } else {
            if (!hub.devices) {
                if (error)
                    *error = VibrationError{VibrationError::Kind::Other, settings.source,
                                            QStringLiteral("vstupy už nie sú k dispozícii")};
                return false;
            }
            if (!hub.device) {
                hub.device = hub.devices->create();
                VibrationInput* device = hub.device.get();
                connect(device, &VibrationInput::blocksReady, device, [h = hub_.get()] {
                    for (SharedVibrationInput* r : h->readers)
                        r->wake();
                });
                connect(device, &VibrationInput::inputLost, device,
                        [h = hub_.get()](const VibrationError& e) {
                            h->distribute();
                            const std::vector<SharedVibrationInput*> readers = h->readers;
                            for (SharedVibrationInput* r : readers)
                                r->lose(e);
                        });
            }
            if (!hub.device->open(settings, error))
                return false;
            queue_.clear();
            queued_ = 0;
        }
        baseLost_ = hub.device->lostSamples();
        ownLost_ = 0;
        announced_ = false;
        hub.readers.push_back(this);
        return true;
    }
    void close() override
    {
        if (std::ranges::find(hub_->readers, this) == hub_->readers.end())
            return;
        hub_->distribute(); // what was captured up to now stays to be taken
        hub_->leave(this);
    }
    bool isOpen() const override
    {
        return std::ranges::find(hub_->readers, this) != hub_->readers.end() && hub_->device &&
               hub_->device->isOpen();
    }
    VibrationSettings settings() const override
    {
        return hub_->device ? hub_->device->settings() : VibrationSettings{};
    }
    VibrationScale scale() const override
    {
        return hub_->device ? hub_->device->scale() : VibrationScale{};
    }
    std::vector<VibrationBlock> takeBlocks() override
    {
        announced_ = false;
        if (isOpen())
            hub_->distribute();
        std::vector<VibrationBlock> blocks(std::make_move_iterator(queue_.begin()),
                                           std::make_move_iterator(queue_.end()));
        // Blocks are dropped oldest first: every one still here came after all of them.
        for (VibrationBlock& block : blocks)
            block.lostBefore += ownLost_;
        queue_.clear();
        queued_ = 0;
        return blocks;
    }
    std::uint64_t lostSamples() const override
    {
        const std::uint64_t device = hub_->device ? hub_->device->lostSamples() : baseLost_;
        return device - std::min(device, baseLost_) + ownLost_;
    }

    // From the hub.
    void receive(const VibrationBlock& block)
    {
        VibrationBlock mine = block;
        mine.lostBefore = block.lostBefore - std::min(block.lostBefore, baseLost_);
        queued_ += mine.samples.size();
        queue_.push_back(std::move(mine));
        // A reader that takes nothing for too long loses its oldest blocks, not the others'.
        const auto most =
            static_cast<std::size_t>(queueMs) * static_cast<std::size_t>(block.rate) / 1000;
        while (queued_ > most && queue_.size() > 1) {
            queued_ -= queue_.front().samples.size();
            ownLost_ += queue_.front().samples.size();
            queue_.pop_front();
        }
    }
    void wake()
    {
        if (announced_)
            return;
        announced_ = true;
        Q_EMIT blocksReady();
    }
    void lose(const VibrationError& error)
    {
        hub_->leave(this);
        Q_EMIT inputLost(error);
    }

private:
    static constexpr int queueMs = SharedVibrationInputProvider::queueMs;
    std::shared_ptr<SharedVibrationInputProvider::Hub> hub_;
    std::deque<VibrationBlock> queue_;
    std::size_t queued_ = 0; // samples in queue_
    std::uint64_t baseLost_ = 0;
    std::uint64_t ownLost_ = 0;
    bool announced_ = false;
};

} // namespace

void SharedVibrationInputProvider::Hub::distribute()
{
    if (!device)
        return;
    for (VibrationBlock& block : device->takeBlocks())
        for (SharedVibrationInput* r : readers)
            r->receive(block);
}

void SharedVibrationInputProvider::Hub::leave(SharedVibrationInput* reader)
{
    const auto it = std::ranges::find(readers, reader);
    if (it == readers.end())
        return;
    readers.erase(it);
    if (readers.empty() && device)
        device->close();
}

SharedVibrationInputProvider::SharedVibrationInputProvider(VibrationInputProvider& devices)
    : devices_(devices), hub_(std::make_shared<Hub>())
{
    hub_->devices = &devices_;
}

SharedVibrationInputProvider::~SharedVibrationInputProvider()
{
    // Readers may outlive the provider; they keep the device open until they leave.
    hub_->devices = nullptr;
}

std::vector<VibrationSource> SharedVibrationInputProvider::sources()
{
    return devices_.sources();
}

std::optional<VibrationCapabilities>
SharedVibrationInputProvider::capabilities(const QString& source, VibrationError* error)
{
    // Asking may open the device, which fails while a window reads it: what it offered when asked
    // before still holds.
    std::optional<VibrationCapabilities> caps = devices_.capabilities(source, error);
    if (caps)
        known_[source] = *caps;
    else if (const auto it = known_.find(source); it != known_.end())
        return it->second;
    return caps;
}

std::optional<int> SharedVibrationInputProvider::rateInUse(const QString& source) const
{
    if (hub_->device && hub_->device->isOpen() && !hub_->readers.empty() &&
        hub_->device->settings().source == source)
        return hub_->device->settings().rate;
    return std::nullopt;
}

std::unique_ptr<VibrationInput> SharedVibrationInputProvider::create()
{
    return std::make_unique<SharedVibrationInput>(hub_);
}

} // namespace diagnostika
