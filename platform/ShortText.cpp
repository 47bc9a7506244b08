#include "platform/ShortText.h"

#include <algorithm>
#include <cstring>

namespace morvane {

namespace {

bool IsContinuationByte(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

} // namespace

std::string CutUtf8(std::string_view text, std::size_t max)
{
    if (text.size() <= max)
        return std::string(text);
    // The byte just past the cut starts the next character unless it continues one; a
    // character has at most three continuation bytes, so back off no further (longer
    // runs are not UTF-8 and are cut where they stand).
    std::size_t cut = max;
    for (int i = 0; i < 3 && cut > 0 && IsContinuationByte(text[cut]); ++i)
        --cut;
    if (IsContinuationByte(text[cut]))
        cut = max;
    return std::string(text.substr(0, cut));
}

std::string ShortText::Get() const
{
    return std::string(Chars, Len);
}

void ShortText::Set(std::string_view text)
{
    const std::string cut = CutUtf8(text, kShortTextMax);
    Len = static_cast<std::uint8_t>(cut.size());
    std::memcpy(Chars, cut.data(), cut.size());
    std::memset(Chars + cut.size(), 0, kShortTextMax - cut.size());
}

} // namespace morvane
