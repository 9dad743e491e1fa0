#include "sim/SimMemory.h"

#include <algorithm>

namespace vardel {

void SimMemory::set(std::size_t at, std::uint8_t value)
{
    std::shared_ptr<Page>& page = m_pages[at / kPageSize];
    if (!page) {
        if (value == 0)
            return;
        page = std::make_shared<Page>();
    } else if (page.use_count() > 1) {
        if ((*page)[at % kPageSize] == value)
            return;
        page = std::make_shared<Page>(*page);
    }
    (*page)[at % kPageSize] = value;
}

void SimMemory::copyRange(const SimMemory& other, std::size_t from, std::size_t to)
{
    to = std::min(to, kSize);
    while (from < to) {
        const std::size_t pageEnd = (from / kPageSize + 1) * kPageSize;
        if (from % kPageSize == 0 && to >= pageEnd) {
            m_pages[from / kPageSize] = other.m_pages[from / kPageSize];
            from = pageEnd;
            continue;
        }
        for (const std::size_t end = std::min(to, pageEnd); from < end; ++from)
            set(from, other.get(from));
    }
}

bool SimMemory::equalRange(const SimMemory& other, std::size_t from, std::size_t to) const
{
    to = std::min(to, kSize);
    while (from < to) {
        const std::size_t pageEnd = std::min(to, (from / kPageSize + 1) * kPageSize);
        const Page* a = m_pages[from / kPageSize].get();
        const Page* b = other.m_pages[from / kPageSize].get();
        if (a != b) {
            for (std::size_t i = from; i < pageEnd; ++i) {
                if (get(i) != other.get(i))
                    return false;
            }
        }
        from = pageEnd;
    }
    return true;
}

std::size_t SimMemory::heldBytes() const
{
    return kPageSize * static_cast<std::size_t>(std::count_if(m_pages.begin(), m_pages.end(),
                                                              [](const auto& p) { return p != nullptr; }));
}

} // namespace vardel
