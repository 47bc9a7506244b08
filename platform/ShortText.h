#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace morvane {

inline constexpr std::size_t kShortTextMax = 255;

// A length byte and up to 255 bytes of UTF-8, 256 bytes in all: the text field of the
// item record and of the shared block. Trivially copyable: it lives in shared memory.
struct ShortText
{
    std::uint8_t Len;
    char Chars[kShortTextMax];

    std::string Get() const;
    // Stores text cut at 255 bytes, never inside a UTF-8 character; unused bytes are zeroed.
    void Set(std::string_view text);
    bool Empty() const { return Len == 0; }
};
static_assert(sizeof(ShortText) == 256);

// Cuts text to at most max bytes without splitting a UTF-8 character.
std::string CutUtf8(std::string_view text, std::size_t max = kShortTextMax);

// True when text fits a short text whole (at most 255 bytes). Paths that do not fit are
// refused by their callers, never stored cut.
inline bool FitsShortText(std::string_view text)
{
    return text.size() <= kShortTextMax;
}

} // namespace morvane
