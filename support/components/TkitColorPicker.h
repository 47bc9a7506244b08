#pragma once

#include "KitGraphics.h"
#include "support/TkitCustomTimer.h"

#include <cstdint>
#include <optional>

namespace morvane {

// Cursor identifiers of the library's cursor list (0 is the default cursor: none chosen).
inline constexpr std::int16_t crDefault = 0;
inline constexpr std::int16_t crArrow = -2;
inline constexpr std::int16_t crCross = -3;
inline constexpr std::int16_t crIBeam = -4;
inline constexpr std::int16_t crSizeNESW = -6;
inline constexpr std::int16_t crSizeNS = -7;
inline constexpr std::int16_t crSizeNWSE = -8;
inline constexpr std::int16_t crSizeWE = -9;
inline constexpr std::int16_t crUpArrow = -10;
inline constexpr std::int16_t crHourGlass = -11;
inline constexpr std::int16_t crNoDrop = -13;
inline constexpr std::int16_t crHSplit = -14;
inline constexpr std::int16_t crVSplit = -15;
inline constexpr std::int16_t crNo = -18;
inline constexpr std::int16_t crAppStart = -19;
inline constexpr std::int16_t crHelp = -20;
inline constexpr std::int16_t crHandPoint = -21;
inline constexpr std::int16_t crSizeAll = -22;

// A timer for sampling the screen: each tick calls OnTimer, whose handler may ask GetColor
// for the colour under the mouse pointer, and then puts the chosen Cursor back on the
// pointer. It ticks every Interval ms (100 by default) while Enabled and OnTimer is set.
// Main thread of a GUI application.
class TkitColorPicker : public TkitCustomTimer
{
    Q_OBJECT

public:
    explicit TkitColorPicker(QObject* owner = nullptr);
    // Takes back the pointer shape it set.
    ~TkitColorPicker() override;

    bool Enabled() const { return TkitCustomTimer::Enabled(); }
    void SetEnabled(bool value) { TkitCustomTimer::SetEnabled(value); }
    unsigned Interval() const { return TkitCustomTimer::Interval(); }
    void SetInterval(unsigned value) { TkitCustomTimer::SetInterval(value); }
    void SetOnTimer(NotifyEvent handler) { TkitCustomTimer::SetOnTimer(std::move(handler)); }

    // The pointer shape while picking; crDefault leaves the pointer alone.
    std::int16_t Cursor() const { return m_cursor; }
    virtual void SetCursor(std::int16_t value);

    // The colour under the pointer; nothing where the display keeps the screen from programs.
    virtual std::optional<TColor> GetColor();

protected:
    void DoTimer() override;
    virtual void UpdateCursor();

private:
    std::int16_t m_cursor = crDefault;
    bool m_overriding = false;
};

} // namespace morvane
