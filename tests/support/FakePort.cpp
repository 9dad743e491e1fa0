#include "support/FakePort.h"

namespace vardel::test {

void FakePort::vbOut(std::uint16_t port, std::uint8_t value)
{
    ops.push_back({true, port, value});
    if (port == static_cast<std::uint16_t>(m_data + 1)) {
        m_selected = value & 63;
        m_writeSelected = (value & 64) != 0;
    } else if (port == m_data && m_writeSelected && m_selected >= 0) {
        regWrites.emplace_back(m_selected, value);
        m_selected = -1;
    }
}

std::uint8_t FakePort::vbInp(std::uint16_t port)
{
    std::uint8_t v = 0;
    if (port == static_cast<std::uint16_t>(m_data + 1)) {
        ++statusReads;
        if (!statusQueue.empty()) {
            v = statusQueue.front();
            statusQueue.pop_front();
        } else {
            v = status;
        }
        if (recordStatusReads)
            ops.push_back({false, port, v});
        return v;
    }
    if (port == m_data && !m_writeSelected && m_selected >= 0) {
        const int reg = m_selected;
        regReadsSeen.push_back(reg);
        if (onRead) {
            v = onRead(reg);
        } else {
            auto& q = regReads[reg];
            if (!q.empty()) {
                v = q.front();
                q.pop_front();
            } else {
                auto it = regDefault.find(reg);
                v = it == regDefault.end() ? 0 : it->second;
            }
        }
    }
    ops.push_back({false, port, v});
    return v;
}

void FakePort::clear()
{
    ops.clear();
    regWrites.clear();
    regReadsSeen.clear();
    statusReads = 0;
}

std::vector<int> FakePort::writtenValues(int reg) const
{
    std::vector<int> out;
    for (const auto& [r, v] : regWrites)
        if (r == reg)
            out.push_back(v);
    return out;
}

} // namespace vardel::test
