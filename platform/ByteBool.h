#pragma once

#include <atomic>
#include <cstdint>

namespace morvane {

// A Boolean kept in one byte of a record that another program writes too. That program
// may leave any byte value there, and a C++ bool holding anything but 0 or 1 is undefined:
// so the byte is kept as a number, any value but 0 reads as true, and it is written back
// as 0 or 1. One byte, trivially copyable: the layout of the records does not change.
class ByteBool
{
public:
    ByteBool() = default;
    constexpr ByteBool(bool value) : m_byte(value ? 1 : 0) {}
    constexpr operator bool() const { return m_byte != 0; }
    constexpr ByteBool& operator=(bool value)
    {
        m_byte = value ? 1 : 0;
        return *this;
    }

    // For a flag another process or thread changes while this one reads it.
    bool AtomicLoad() const
    {
        return std::atomic_ref<std::uint8_t>(const_cast<std::uint8_t&>(m_byte)).load() != 0;
    }
    void AtomicStore(bool value) { std::atomic_ref<std::uint8_t>(m_byte).store(value ? 1 : 0); }
    // Sets the flag only when it was clear; true when this call set it.
    bool AtomicSetIfClear()
    {
        std::uint8_t expected = 0;
        return std::atomic_ref<std::uint8_t>(m_byte).compare_exchange_strong(expected, 1);
    }
    // Clears the flag; true when it was set.
    bool AtomicClear() { return std::atomic_ref<std::uint8_t>(m_byte).exchange(0) != 0; }

private:
    std::uint8_t m_byte;
};

static_assert(sizeof(ByteBool) == 1);

} // namespace morvane
