#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace morvane {

// Small routines both programs link. They hold no state; any thread.

// Appends to list every non-empty piece of text that is followed by delimiter; what
// stands after the last delimiter is not used, and list is not cleared first. So "a;b;"
// gives a and b, "a;b" only a.
void SplitTextToList(std::string text, char delimiter, std::vector<std::string>& list);

// A copy of trueValue when condition holds, else of falseValue (both already evaluated).
template <typename T>
T IfThenVariant(bool condition, const T& trueValue, const T& falseValue)
{
    return condition ? trueValue : falseValue;
}
inline std::string IfThenVariant(bool condition, const std::string& trueValue, const std::string& falseValue)
{
    return condition ? trueValue : falseValue;
}

// Bits of GetExeVersionString's argument: which parts of the program version to join.
inline constexpr std::uint8_t kVersionMajor = 1;
inline constexpr std::uint8_t kVersionMinor = 2;
inline constexpr std::uint8_t kVersionRelease = 4;
inline constexpr std::uint8_t kVersionBuild = 8;

// The program's version (as built) as text: the parts chosen by parts, in the order
// major, minor, release, build, joined by "."; parts 0 gives "". A part the version does
// not name counts as 0.
std::string GetExeVersionString(std::uint8_t parts);
// The same for a given version text "major.minor.release.build" (missing parts 0).
std::string VersionStringOf(const std::string& version, std::uint8_t parts);

} // namespace morvane
