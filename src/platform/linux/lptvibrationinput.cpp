#include "lptvibrationinput.h"

#include "platform/converterreader.h"
#include "platform/gridresampler.h"
#include "platform/tickclock.h"

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace diagnostika {
namespace {

void waitUntil(double us)
{
    // A wait shorter than the scheduler's wake-up is spun; a longer one sleeps.
    while (true) {
        const double left = us - monotonicMicroseconds();
        if (left <= 0)
            return;
        if (left < 20)
            continue;
        const auto whole = static_cast<std::int64_t>(us);
        const timespec until{static_cast<time_t>(whole / 1'000'000),
                             static_cast<long>((whole % 1'000'000) * 1'000)};
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
        }
    }
}

// Notes when the converter sampled its input: the eighth falling clock edge of each of a read's
// two passes, its 27th and 54th port access (converterreader.h). The middle of the access is taken,
// since a ppdev access lasts a few microseconds.
class StampingPortIo final : public PortIo {
public:
    explicit StampingPortIo(PortIo& inner) : inner_(inner) {}

    void begin() { accesses_ = 0; }
    double stamp(int pass) const { return stamps_[static_cast<std::size_t>(pass)]; }

    std::uint8_t read(std::uint16_t address) override
    {
        ++accesses_;
        return inner_.read(address);
    }
    void write(std::uint16_t address, std::uint8_t value) override
    {
        const int index = accesses_++;
        if (index != firstEdge && index != secondEdge) {
            inner_.write(address, value);
            return;
        }
        const double before = monotonicMicroseconds();
        inner_.write(address, value);
        stamps_[index == firstEdge ? 0 : 1] = (before + monotonicMicroseconds()) / 2;
    }
    void release() override { inner_.release(); }

private:
    static constexpr int passAccesses = 3 + 8 * 3;
    static constexpr int firstEdge = passAccesses - 1;
    static constexpr int secondEdge = 2 * passAccesses - 1;
    static_assert(2 * passAccesses + 1 == ConverterReader::accessesPerRead);

    PortIo& inner_;
    int accesses_ = 0;
    std::array<double, 2> stamps_{};
};

// How long reads take, back to back, each waiting out the converter's conversion first: the
// median, so that a thread preempted now and then on a busy machine does not count as a slow port.
class ReadCycles {
public:
    void add(double us) { cycles_.push_back(us); }
    double conversionsPerSecond()
    {
        if (cycles_.empty())
            return 0;
        const auto middle = cycles_.begin() + static_cast<std::ptrdiff_t>(cycles_.size() / 2);
        std::nth_element(cycles_.begin(), middle, cycles_.end());
        return *middle > 0 ? 2e6 / *middle : 0;
    }

private:
    std::vector<double> cycles_;
};

QString portText(int lpt)
{
    return QStringLiteral("LPT%1").arg(lpt);
}

} // namespace

double measureLptReadRate(PortIo& io, int lpt, int ms)
{
    ConverterReader reader;
    const QString port = portText(lpt);
    ReadCycles cycles;
    const double start = monotonicMicroseconds();
    double last = start;
    do {
        waitUntil(last + LptVibrationInput::conversionUs);
        reader.citanieprevodnika(io, port);
        const double now = monotonicMicroseconds();
        cycles.add(now - last);
        last = now;
    } while (last - start < ms * 1000.0);
    return cycles.conversionsPerSecond();
}

LptVibrationInput::LptVibrationInput(PortIoFactory portIo, std::shared_ptr<PortClaims> claims,
                                     QObject* parent)
    : CapturedVibrationInput(parent), makePortIo_(std::move(portIo)), claims_(std::move(claims))
{
}

LptVibrationInput::~LptVibrationInput()
{
    close();
}

int LptVibrationInput::lptOf(const QString& source)
{
    if (source == sourceId(1))
        return 1;
    if (source == sourceId(2))
        return 2;
    return 0;
}

bool LptVibrationInput::open(const VibrationSettings& settings, VibrationError* error)
{
    close();
    buffer_.reset();
    auto fail = [&](VibrationError::Kind kind, const QString& reason) {
        giveBack();
        if (error)
            *error = VibrationError{kind, settings.source, reason};
        return false;
    };
    const int lpt = lptOf(settings.source);
    if (lpt == 0)
        return fail(VibrationError::Kind::Other,
                    QStringLiteral("taký prevodník na paralelnom porte nie je"));
    if (std::find(std::begin(lptVibrationRates), std::end(lptVibrationRates), settings.rate) ==
        std::end(lptVibrationRates))
        return fail(VibrationError::Kind::Other,
                    QStringLiteral("vzorkovanie %1 Hz prevodník na paralelnom porte nedáva "
                                   "(len 1000, 2000, 4000 alebo 8000 Hz)")
                        .arg(settings.rate));
    if (settings.channel != 0)
        return fail(VibrationError::Kind::Other,
                    QStringLiteral("prevodník na paralelnom porte má len jeden kanál"));
    // Any holder at all, another input included: two inputs share the holder's name, and a claim
    // under one's own name would be granted.
    if (const auto other = claims_->holder(lpt))
        return fail(VibrationError::Kind::Busy, lptBusyText(lpt, *other));
    claims_->claim(lpt, holderName(lpt));
    lpt_ = lpt;
    io_ = std::make_unique<ClaimedPortIo>(makePortIo_(), claims_, holderName(lpt));
    try {
        // One read here, so a port that cannot be opened says so now rather than as a loss.
        ConverterReader reader;
        reader.citanieprevodnika(*io_, portText(lpt));
    } catch (const PortIoError& failure) {
        return fail(VibrationError::Kind::Other, QString::fromUtf8(failure.what()));
    }

    settings_ = settings;
    readRate_ = 0.0;
    stop_ = false;
    startBuffer(static_cast<std::size_t>(settings.rate) * bufferMs / 1000);
    thread_ = std::thread([this] { read(); });
    return true;
}

void LptVibrationInput::giveBack()
{
    if (io_)
        io_->release();
    io_.reset();
    if (lpt_ != 0)
        claims_->release(lpt_, holderName(lpt_));
    lpt_ = 0;
}

void LptVibrationInput::close()
{
    if (thread_.joinable()) {
        stop_ = true;
        thread_.join();
    }
    giveBack();
}

void LptVibrationInput::read()
{
    const int rate = settings_.rate;
    const QString port = portText(lpt_);
    GridResampler grid(
        rate, rate * blockMs / 1000, std::max(2'000.0, 4e6 / rate),
        [&](VibrationBlock block) {
            if (buffer_->push(std::move(block)))
                wakeOwner();
        },
        [&](std::uint64_t lost) { buffer_->addLost(lost); });

    StampingPortIo io(*io_);
    ConverterReader reader;
    // When the conversion that the next read's first pass shifts out was sampled; none yet: the
    // first read's first result is older than anything stamped here.
    double pending = -1;
    const double start = monotonicMicroseconds();
    ReadCycles cycles;
    double lastRead = start;
    bool measured = false;
    const double readUs = 1e6 / rate; // one read, two conversions, per grid period
    double due = start;
    while (!stop_.load(std::memory_order_relaxed)) {
        if (measured) {
            due = std::max(due + readUs, monotonicMicroseconds() - readUs);
            waitUntil(std::max(due, pending + conversionUs));
        } else if (pending >= 0) {
            waitUntil(pending + conversionUs);
        }
        try {
            io.begin();
            reader.citanieprevodnika(io, port);
        } catch (const PortIoError& failure) {
            grid.flush();
            reportLoss(VibrationError{VibrationError::Kind::Gone, settings_.source,
                                      QString::fromUtf8(failure.what())});
            return;
        }
        if (pending >= 0)
            grid.add(pending, lptSampleOf(reader.kody[0]));
        grid.add(io.stamp(0), lptSampleOf(reader.kody[1]));
        pending = io.stamp(1);
        if (!measured) {
            const double now = monotonicMicroseconds();
            cycles.add(now - lastRead);
            lastRead = now;
        }
        if (!measured && lastRead - start >= measureMs * 1000.0) {
            readRate_ = cycles.conversionsPerSecond();
            measured = true;
            due = monotonicMicroseconds();
        }
    }
    grid.flush();
    wakeOwner();
}

std::vector<VibrationSource> LptVibrationInputProvider::sources()
{
    std::vector<VibrationSource> list;
    for (int lpt : {1, 2})
        list.push_back(VibrationSource{
            LptVibrationInput::sourceId(lpt),
            QStringLiteral("Prevodník TLC549 na LPT%1 (paralelný port, 8 bitov)").arg(lpt)});
    return list;
}

std::optional<VibrationCapabilities> LptVibrationInputProvider::capabilities(const QString& source,
                                                                             VibrationError* error)
{
    auto fail = [&](VibrationError::Kind kind, const QString& reason) {
        if (error)
            *error = VibrationError{kind, source, reason};
        return std::nullopt;
    };
    const int lpt = LptVibrationInput::lptOf(source);
    if (lpt == 0)
        return fail(VibrationError::Kind::Other,
                    QStringLiteral("taký prevodník na paralelnom porte nie je"));
    const QString holder = LptVibrationInput::holderName(lpt);
    double rate = 0;
    if (const auto other = claims_->holder(lpt); other && *other == holder && readRate(lpt) > 0) {
        // An input reads the port now: what it was measured at before still holds.
        rate = readRate(lpt);
    } else {
        if (other)
            return fail(VibrationError::Kind::Busy, lptBusyText(lpt, *other));
        ClaimedPortIo io(makePortIo_(), claims_, holder);
        try {
            rate = measureLptReadRate(io, lpt, 20);
        } catch (const PortIoError& failure) {
            return fail(VibrationError::Kind::Other, QString::fromUtf8(failure.what()));
        }
        readRates_[lpt] = rate;
    }
    VibrationCapabilities caps;
    for (int r : lptVibrationRates) {
        if (rate >= r)
            caps.rates.push_back(r);
    }
    if (caps.rates.empty())
        return fail(VibrationError::Kind::Other,
                    QStringLiteral("port sa dá čítať len %1-krát za sekundu, menej ako 1000")
                        .arg(static_cast<int>(rate)));
    caps.channels = 1;
    caps.format = QStringLiteral("U8");
    caps.scale = LptVibrationInput::converterScale();
    return caps;
}

std::unique_ptr<VibrationInput> LptVibrationInputProvider::create()
{
    return std::make_unique<LptVibrationInput>(makePortIo_, claims_);
}

double LptVibrationInputProvider::readRate(int lpt) const
{
    const auto it = readRates_.find(lpt);
    return it != readRates_.end() ? it->second : 0.0;
}

} // namespace diagnostika
