#pragma once
// Who in this program holds each parallel port. The parallel-port window and the continuous
// vibration reader both drive the TLC549 on LPT1 or LPT2; interleaved, their clock and chip-select
// writes would corrupt each other's conversions, so one of them holds a port at a time and the
// second to ask is told who has it. The kernel's claim (ppdev) cannot tell them apart: both are
// this process.

#include "portio.h"

#include <QString>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>

namespace diagnostika {

// The holder names the program's parts use, for the user to recognise.
inline const QString lptWindowHolder = QStringLiteral("okno Meranie LPT");

// The LPT number (1 or 2) whose registers include `address`, or 0.
int lptNumberOf(std::uint16_t address);
// The data register of LPT 1 or 2.
std::uint16_t lptAddressOf(int lpt);

class PortClaims {
public:
    // Any thread. Gives `lpt` to `holder` unless another holds it; then returns that one's name.
    // Asking again for a port one holds already is granted.
    std::optional<QString> claim(int lpt, const QString& holder);
    // Any thread. Gives `lpt` back if `holder` has it.
    void release(int lpt, const QString& holder);
    std::optional<QString> holder(int lpt) const;

private:
    mutable std::mutex mutex_;
    std::map<int, QString> holders_;
};

// Port I/O that claims LPT1/LPT2 in `claims` for `holder` at the first access to their registers
// and gives them back at release(). An access to a port someone else holds throws PortIoError
// naming the holder, and reaches no register. Other addresses pass through unclaimed.
class ClaimedPortIo final : public PortIo {
public:
    ClaimedPortIo(std::unique_ptr<PortIo> inner, std::shared_ptr<PortClaims> claims,
                  QString holder);
    ~ClaimedPortIo() override;

    std::uint8_t read(std::uint16_t address) override;
    void write(std::uint16_t address, std::uint8_t value) override;
    void release() override;

private:
    void claimFor(std::uint16_t address);

    std::unique_ptr<PortIo> inner_;
    std::shared_ptr<PortClaims> claims_;
    QString holder_;
    std::set<int> held_;
};

// The message of a port someone else holds.
QString lptBusyText(int lpt, const QString& holder);

} // namespace diagnostika
