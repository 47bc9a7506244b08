#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace morvane {

// A colour as the component library keeps it: 0x00BBGGRR, or a negative or large value for
// the special colours (clNone, clDefault).
using TColor = std::int32_t;

inline constexpr TColor clNone = 0x1FFFFFFF;
inline constexpr TColor clDefault = 0x20000000;

struct ColorName
{
    TColor Value;
    const char* Ident;
};

// The library's 21 extra colour names, searched in this order before the standard ones.
extern const ColorName ExtraColorNames[21];

// The identifier of the first extra name with that value, else the standard one
// (clRed ...); false when the colour has no name.
bool ColorToIdentEx(TColor color, std::string& ident);
// The colour of an extra or standard identifier, compared without regard to case;
// false when the identifier is unknown.
bool IdentToColorEx(const std::string& ident, TColor& color);

// The text settings files keep for a colour: its identifier, else "$" and eight hex
// digits. Reading takes either form, and decimal; nothing for other text.
std::string ColorToString(TColor color);
std::optional<TColor> StringToColor(const std::string& text);

// The colour of the screen pixel under the mouse pointer. Nothing when the display does
// not let a program read the screen (some desktops never do) or there is no screen.
// Main thread of a GUI application.
std::optional<TColor> GetColorUnderCursor();

} // namespace morvane
