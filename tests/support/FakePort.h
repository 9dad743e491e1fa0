#pragma once

#include "link/PortBackend.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace vardel::test {

// A port back end that records every operation in order and answers from a
// script. It models the card just enough for the link code: the command port
// selects a register, the data port then reads or writes it.
class FakePort : public PortBackend {
public:
    struct Op {
        bool out;            // true: vbOut, false: vbInp
        std::uint16_t port;
        std::uint8_t value;  // written, or returned
        bool operator==(const Op&) const = default;
    };

    explicit FakePort(std::uint16_t dataPort = 832) : m_data(dataPort) {}

    void vbOut(std::uint16_t port, std::uint8_t value) override;
    std::uint8_t vbInp(std::uint16_t port) override;

    // --- scripting ---
    // Status byte for each status read; when the queue is empty, `status` is used.
    std::uint8_t status = 4;
    std::deque<std::uint8_t> statusQueue;
    // Values returned by reads of a card register, consumed in order; when a
    // register's queue is empty its `regDefault` value is returned (0 if unset).
    std::map<int, std::deque<std::uint8_t>> regReads;
    std::map<int, std::uint8_t> regDefault;
    // Optional hook deciding a register read (overrides the two above).
    std::function<std::uint8_t(int reg)> onRead;

    // --- record ---
    std::vector<Op> ops;
    bool recordStatusReads = true; // turn off for long waits
    long statusReads = 0;
    // Card register writes (reg, value) and reads (reg) as the card saw them.
    std::vector<std::pair<int, int>> regWrites;
    std::vector<int> regReadsSeen;

    void setDataPort(std::uint16_t p) { m_data = p; }
    void clear();
    std::vector<int> writtenValues(int reg) const; // every value written into reg

private:
    std::uint16_t m_data;
    int m_selected = -1;
    bool m_writeSelected = false;
};

} // namespace vardel::test
