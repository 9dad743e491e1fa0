#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace vardel {

// A meter's 64 KiB of memory. A meter uses a few kilobytes of it (its
// registers, its live values), and RAM starts as a copy of the EEPROM: the
// memory is kept in pages shared until one side writes into them, and pages
// never written read as zeros without being held. A network of 255 meters
// takes a few megabytes, not the 32 MiB whole copies would.
class SimMemory {
public:
    static constexpr std::size_t kSize = 65536;
    static constexpr std::size_t kPageSize = 1024;
    static constexpr std::size_t kPages = kSize / kPageSize;

    // What `memory[at] = v` writes through; reading through it leaves the
    // page shared.
    class ByteRef {
    public:
        ByteRef(SimMemory& memory, std::size_t at) : m_memory(memory), m_at(at) {}
        operator std::uint8_t() const { return m_memory.get(m_at); }
        ByteRef& operator=(std::uint8_t value)
        {
            m_memory.set(m_at, value);
            return *this;
        }
        ByteRef& operator=(const ByteRef& other) { return *this = static_cast<std::uint8_t>(other); }

    private:
        SimMemory& m_memory;
        std::size_t m_at;
    };

    std::uint8_t get(std::size_t at) const
    {
        const Page* page = m_pages[at / kPageSize].get();
        return page ? (*page)[at % kPageSize] : 0;
    }
    void set(std::size_t at, std::uint8_t value);
    std::uint8_t operator[](std::size_t at) const { return get(at); }
    ByteRef operator[](std::size_t at) { return {*this, at}; }
    static constexpr std::size_t size() { return kSize; }

    // Bytes [from, to) as `other` holds them; whole pages are shared.
    void copyRange(const SimMemory& other, std::size_t from, std::size_t to);
    // Whether [from, to) holds the same bytes in both.
    bool equalRange(const SimMemory& other, std::size_t from, std::size_t to) const;
    bool operator==(const SimMemory& other) const { return equalRange(other, 0, kSize); }

    // The page holding `at` is never written (all zeros) / is the very page
    // `other` holds there: a reader can pass over it whole.
    bool pageUnused(std::size_t at) const { return !m_pages[at / kPageSize]; }
    bool pageShared(const SimMemory& other, std::size_t at) const
    {
        return m_pages[at / kPageSize] == other.m_pages[at / kPageSize];
    }
    // Bytes held in pages of this memory's own (shared ones counted whole).
    std::size_t heldBytes() const;

private:
    using Page = std::array<std::uint8_t, kPageSize>;
    std::array<std::shared_ptr<Page>, kPages> m_pages{};
};

} // namespace vardel
