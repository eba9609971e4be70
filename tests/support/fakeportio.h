#pragma once
// Port I/O that logs every access and answers status reads from a script.

#include "platform/portio.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace diagnostika::test {

class FakePortIo final : public PortIo {
public:
    struct Access {
        bool isRead = false;
        std::uint16_t address = 0;
        std::uint8_t value = 0; // written, or returned

        friend bool operator==(const Access&, const Access&) = default;
    };

    std::uint8_t read(std::uint16_t address) override
    {
        failIfDue(address);
        std::uint8_t value = idleRead;
        if (!script.empty()) {
            value = script.front();
            script.pop_front();
        }
        log.push_back({true, address, value});
        return value;
    }

    void write(std::uint16_t address, std::uint8_t value) override
    {
        failIfDue(address);
        log.push_back({false, address, value});
    }

    void release() override { ++releases; }

    // The status values the next reads return, in order; `idleRead` after them.
    std::deque<std::uint8_t> script;
    std::uint8_t idleRead = 0xFF;
    // Fails every access from the given access number on (0: the next one).
    std::optional<std::size_t> failFrom;
    // Fails every access to these addresses.
    std::set<std::uint16_t> unavailable;
    std::string failure = "/dev/parport9: No such device";

    std::vector<Access> log;
    int releases = 0;

    // Scripts the 16 status reads of one converter read for two results, most significant bit
    // first, as the port shows them: bit 7 inverted.
    void scriptResults(std::uint8_t first, std::uint8_t second)
    {
        for (std::uint8_t result : {first, second}) {
            for (int bit = 7; bit >= 0; --bit)
                script.push_back(((result >> bit) & 1) ? 0x00 : 0x80);
        }
    }

private:
    void failIfDue(std::uint16_t address)
    {
        if ((failFrom && log.size() >= *failFrom) || unavailable.count(address))
            throw PortIoError(failure);
    }
};

} // namespace diagnostika::test
