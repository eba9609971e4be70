#include "portclaims.h"

namespace diagnostika {

int lptNumberOf(std::uint16_t address)
{
    if (address >= lpt1Address && address - lpt1Address <= 2)
        return 1;
    if (address >= lpt2Address && address - lpt2Address <= 2)
        return 2;
    return 0;
}

std::uint16_t lptAddressOf(int lpt)
{
    return lpt == 1 ? lpt1Address : lpt2Address;
}

QString lptBusyText(int lpt, const QString& holder)
{
    return QStringLiteral("LPT%1 práve používa %2; najprv ho tam zatvorte").arg(lpt).arg(holder);
}

std::optional<QString> PortClaims::claim(int lpt, const QString& holder)
{
    const std::lock_guard<std::mutex> guard(mutex_);
    const auto [it, added] = holders_.emplace(lpt, holder);
    if (added || it->second == holder)
        return std::nullopt;
    return it->second;
}

void PortClaims::release(int lpt, const QString& holder)
{
    const std::lock_guard<std::mutex> guard(mutex_);
    if (const auto it = holders_.find(lpt); it != holders_.end() && it->second == holder)
        holders_.erase(it);
}

std::optional<QString> PortClaims::holder(int lpt) const
{
    const std::lock_guard<std::mutex> guard(mutex_);
    if (const auto it = holders_.find(lpt); it != holders_.end())
        return it->second;
    return std::nullopt;
}

ClaimedPortIo::ClaimedPortIo(std::unique_ptr<PortIo> inner, std::shared_ptr<PortClaims> claims,
                             QString holder)
    : inner_(std::move(inner)), claims_(std::move(claims)), holder_(std::move(holder))
{
}

ClaimedPortIo::~ClaimedPortIo()
{
    release();
}

void ClaimedPortIo::claimFor(std::uint16_t address)
{
    const int lpt = lptNumberOf(address);
    if (lpt == 0 || held_.count(lpt) != 0)
        return;
    if (const auto other = claims_->claim(lpt, holder_))
        throw PortIoError(lptBusyText(lpt, *other).toStdString());
    held_.insert(lpt);
}

std::uint8_t ClaimedPortIo::read(std::uint16_t address)
{
    claimFor(address);
    return inner_->read(address);
}

void ClaimedPortIo::write(std::uint16_t address, std::uint8_t value)
{
    claimFor(address);
    inner_->write(address, value);
}

void ClaimedPortIo::release()
{
    inner_->release();
    for (int lpt : held_)
        claims_->release(lpt, holder_);
    held_.clear();
}

} // namespace diagnostika
