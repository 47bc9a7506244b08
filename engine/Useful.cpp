#include "engine/Useful.h"

#include <array>
#include <cstdlib>

#ifndef MORVANE_VERSION
#define MORVANE_VERSION "0.0.0"
#endif

namespace morvane {

void SplitTextToList(std::string text, char delimiter, std::vector<std::string>& list)
{
    auto pos = text.find(delimiter);
    while (!text.empty() && pos != std::string::npos) {
        std::string piece = text.substr(0, pos);
        if (!piece.empty())
            list.push_back(std::move(piece));
        text.erase(0, pos + 1);
        pos = text.find(delimiter);
    }
}

std::string VersionStringOf(const std::string& version, std::uint8_t parts)
{
    std::array<unsigned long, 4> numbers{};
    std::size_t start = 0;
    for (std::size_t i = 0; i < numbers.size() && start <= version.size(); ++i) {
        const auto dot = version.find('.', start);
        const std::string piece =
            version.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        // Each part is a 16-bit word of the version number.
        numbers[i] = std::strtoul(piece.c_str(), nullptr, 10) & 0xFFFFu;
        if (dot == std::string::npos)
            break;
        start = dot + 1;
    }
    static constexpr std::array<std::uint8_t, 4> kBits{kVersionMajor, kVersionMinor, kVersionRelease,
                                                       kVersionBuild};
    std::string result;
    for (std::size_t i = 0; i < kBits.size(); ++i) {
        if (!(parts & kBits[i]))
            continue;
        if (!result.empty())
            result += '.';
        result += std::to_string(numbers[i]);
    }
    return result;
}

std::string GetExeVersionString(std::uint8_t parts)
{
    return VersionStringOf(MORVANE_VERSION, parts);
}

} // namespace morvane
