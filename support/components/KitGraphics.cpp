#include "KitGraphics.h"

#include <QCursor>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <iterator>

namespace morvane {

const ColorName ExtraColorNames[21] = {
    {0x003090, "clBrown"},          {0x003030, "clOliveGreen"},
    {0x003000, "clDarkGreen"},      {0x603000, "clDarkTeal"},
    {0x903030, "clIndigo"},         {0x303030, "clNight"},
    {0x0068FF, "clOrange"},         {0x906060, "clBlueGray"},
    {0x0098FF, "clLightOrange"},    {0x609830, "clSeaGreen"},
    {0xFF6830, "clLightBlue"},      {0x909090, "clMetal"},
    {0x00C8FF, "clGold"},           {0x603090, "clPlum"},
    {0xD098FF, "clRose"},           {0xA0C8FF, "clTan"},
    {0x90FFFF, "clLightYellow"},    {0xD0FFD0, "clLightGreen"},
    {0xFFFFC0, "clLightTurquoise"}, {0xFFC890, "clPaleBlue"},
    {0xFF98C0, "clLavender"},
};

namespace {

// The standard names that every colour property understands.
const ColorName kStandardNames[] = {
    {0x000000, "clBlack"},      {0x000080, "clMaroon"},   {0x008000, "clGreen"}, {0x008080, "clOlive"},
    {0x800000, "clNavy"},       {0x800080, "clPurple"},   {0x808000, "clTeal"},  {0x808080, "clGray"},
    {0xC0C0C0, "clSilver"},     {0x0000FF, "clRed"},      {0x00FF00, "clLime"},  {0x00FFFF, "clYellow"},
    {0xFF0000, "clBlue"},       {0xFF00FF, "clFuchsia"},  {0xFFFF00, "clAqua"},  {0xFFFFFF, "clWhite"},
    {0xC0DCC0, "clMoneyGreen"}, {0xF0CAA6, "clSkyBlue"},  {0xF0FBFF, "clCream"}, {0xA4A0A0, "clMedGray"},
    {clNone, "clNone"},         {clDefault, "clDefault"},
};

bool SameIdent(const std::string& a, const char* b)
{
    std::size_t i = 0;
    for (; i < a.size() && b[i]; ++i) {
        const auto fold = [](char c) {
            return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        };
        if (fold(a[i]) != fold(b[i]))
            return false;
    }
    return i == a.size() && !b[i];
}

template <typename Table>
bool FindValue(const Table& table, TColor color, std::string& ident)
{
    for (const ColorName& entry : table) {
        if (entry.Value == color) {
            ident = entry.Ident;
            return true;
        }
    }
    return false;
}

template <typename Table>
bool FindIdent(const Table& table, const std::string& ident, TColor& color)
{
    for (const ColorName& entry : table) {
        if (SameIdent(ident, entry.Ident)) {
            color = entry.Value;
            return true;
        }
    }
    return false;
}

} // namespace

bool ColorToIdentEx(TColor color, std::string& ident)
{
    return FindValue(ExtraColorNames, color, ident) || FindValue(kStandardNames, color, ident);
}

bool IdentToColorEx(const std::string& ident, TColor& color)
{
    return FindIdent(ExtraColorNames, ident, color) || FindIdent(kStandardNames, ident, color);
}

std::string ColorToString(TColor color)
{
    std::string ident;
    if (ColorToIdentEx(color, ident))
        return ident;
    char buf[16];
    std::snprintf(buf, sizeof buf, "$%08X", static_cast<unsigned>(color));
    return buf;
}

std::optional<TColor> StringToColor(const std::string& text)
{
    TColor color = 0;
    if (IdentToColorEx(text, color))
        return color;
    if (text.empty() || text.size() > 11)
        return std::nullopt;
    const bool hex = text[0] == '$';
    const std::string digits = hex ? text.substr(1) : text;
    if (digits.empty())
        return std::nullopt;
    char* end = nullptr;
    const long long value = std::strtoll(digits.c_str(), &end, hex ? 16 : 10);
    if (*end || (!hex && !(std::isdigit(static_cast<unsigned char>(digits[0])) || digits[0] == '-')) ||
        value > 0xFFFFFFFFll || value < -0x80000000ll)
        return std::nullopt;
    return static_cast<TColor>(static_cast<std::uint32_t>(value));
}

std::optional<TColor> GetColorUnderCursor()
{
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return std::nullopt;
    const QPoint pos = QCursor::pos();
    QScreen* screen = QGuiApplication::screenAt(pos);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return std::nullopt;
    const QPoint local = pos - screen->geometry().topLeft();
    // Desktops that keep the screen from programs give back nothing to look at.
    const QPixmap pixel = screen->grabWindow(0, local.x(), local.y(), 1, 1);
    if (pixel.isNull())
        return std::nullopt;
    const QImage image = pixel.toImage();
    if (image.isNull() || image.width() < 1 || image.height() < 1)
        return std::nullopt;
    const QRgb rgb = image.pixel(0, 0);
    return static_cast<TColor>(qRed(rgb) | (qGreen(rgb) << 8) | (qBlue(rgb) << 16));
}

} // namespace morvane
