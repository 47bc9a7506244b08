#include "support/components/KitGraphics.h"

#include "common/TestSupport.h"
#include "support/components/TkitColorPicker.h"

#include <QApplication>
#include <QCursor>
#include <QWidget>
#include <gtest/gtest.h>

using namespace morvane;

namespace {

struct NameRow
{
    TColor value;
    std::string ident;
};

class ColorNameTest : public ::testing::TestWithParam<NameRow>
{
};

TEST_P(ColorNameTest, ConvertsBothWaysWhateverTheCase)
{
    const NameRow& row = GetParam();
    std::string ident;
    ASSERT_TRUE(ColorToIdentEx(row.value, ident));
    EXPECT_EQ(ident, row.ident);
    for (std::string spelling : {row.ident, QString::fromStdString(row.ident).toUpper().toStdString(),
                                 QString::fromStdString(row.ident).toLower().toStdString()}) {
        TColor color = -1;
        ASSERT_TRUE(IdentToColorEx(spelling, color)) << spelling;
        EXPECT_EQ(color, row.value) << spelling;
    }
    // What a settings file keeps is the name, and the name reads back as the colour.
    EXPECT_EQ(ColorToString(row.value), row.ident);
    EXPECT_EQ(StringToColor(row.ident), row.value);
}

INSTANTIATE_TEST_SUITE_P(Extra, ColorNameTest,
                         ::testing::Values(NameRow{0x003090, "clBrown"}, NameRow{0x003030, "clOliveGreen"},
                                           NameRow{0x003000, "clDarkGreen"}, NameRow{0x603000, "clDarkTeal"},
                                           NameRow{0x903030, "clIndigo"}, NameRow{0x303030, "clNight"},
                                           NameRow{0x0068FF, "clOrange"}, NameRow{0x906060, "clBlueGray"},
                                           NameRow{0x0098FF, "clLightOrange"},
                                           NameRow{0x609830, "clSeaGreen"}, NameRow{0xFF6830, "clLightBlue"},
                                           NameRow{0x909090, "clMetal"}, NameRow{0x00C8FF, "clGold"},
                                           NameRow{0x603090, "clPlum"}, NameRow{0xD098FF, "clRose"},
                                           NameRow{0xA0C8FF, "clTan"}, NameRow{0x90FFFF, "clLightYellow"},
                                           NameRow{0xD0FFD0, "clLightGreen"},
                                           NameRow{0xFFFFC0, "clLightTurquoise"},
                                           NameRow{0xFFC890, "clPaleBlue"}, NameRow{0xFF98C0, "clLavender"}),
                         test::RowNamesBy(&NameRow::ident));

INSTANTIATE_TEST_SUITE_P(Standard, ColorNameTest,
                         ::testing::Values(NameRow{0x0000FF, "clRed"}, NameRow{0xFF0000, "clBlue"},
                                           NameRow{0x000000, "clBlack"}, NameRow{0xFFFFFF, "clWhite"},
                                           NameRow{clNone, "clNone"}),
                         test::RowNamesBy(&NameRow::ident));

TEST(ColorText, UnnamedColoursAndBadTextHaveNoName)
{
    std::string ident = "kept";
    EXPECT_FALSE(ColorToIdentEx(0x123456, ident));
    EXPECT_EQ(ColorToString(0x123456), "$00123456");
    EXPECT_EQ(StringToColor("$00123456"), 0x123456);
    EXPECT_EQ(StringToColor("$000068FF"), 0x0068FF); // read by value, written back by name
    EXPECT_EQ(StringToColor("255"), 255);
    TColor color = 7;
    for (const char* bad : {"", "clOrangeX", "$", "12ab", "$1234567890", "Orange"}) {
        EXPECT_FALSE(IdentToColorEx(bad, color)) << bad;
        EXPECT_FALSE(StringToColor(bad).has_value()) << bad;
    }
    EXPECT_EQ(color, 7);
}

TEST(ColorUnderCursor, ReadsThePixelUnderThePointer)
{
    QWidget patch;
    patch.setWindowFlags(Qt::FramelessWindowHint);
    patch.setAutoFillBackground(true);
    QPalette palette = patch.palette();
    palette.setColor(QPalette::Window, QColor(0xFF, 0x68, 0x00)); // clOrange is 0x0068FF
    patch.setPalette(palette);
    patch.setGeometry(40, 40, 50, 50);
    patch.show();
    ASSERT_TRUE(test::WaitUntil([&] { return patch.isVisible(); }));
    QCursor::setPos(60, 60);
    QApplication::processEvents();
    const auto color = GetColorUnderCursor();
    if (!color)
        GTEST_SKIP() << "this display does not let programs read the screen";
    EXPECT_EQ(*color, 0x0068FF);
    TkitColorPicker picker;
    EXPECT_EQ(picker.GetColor(), color);
}

TEST(ColorPicker, SetsThePointerShapeOnlyWhenAskedAndOnce)
{
    ASSERT_EQ(QGuiApplication::overrideCursor(), nullptr);
    {
        TkitColorPicker picker;
        EXPECT_EQ(picker.Interval(), 100u);
        picker.SetCursor(crDefault);
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
        picker.SetCursor(crCross);
        ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::CrossCursor);
        picker.SetCursor(crCross);
        picker.SetCursor(crHandPoint);
        EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::PointingHandCursor);
        // One entry of the cursor stack is the picker's, however often it was set.
        QGuiApplication::restoreOverrideCursor();
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
        QGuiApplication::setOverrideCursor(QCursor(Qt::CrossCursor));
    }
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST(ColorPicker, TicksOnlyWithAHandlerAndReappliesTheShape)
{
    TkitColorPicker picker;
    picker.SetInterval(5);
    picker.SetCursor(crHelp);
    QGuiApplication::changeOverrideCursor(QCursor(Qt::ArrowCursor)); // someone else changed it
    int ticks = 0;
    picker.SetOnTimer([&](QObject*) { ++ticks; });
    ASSERT_TRUE(test::WaitUntil([&] { return ticks >= 2; }));
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WhatsThisCursor);
    picker.SetCursor(crDefault);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

} // namespace
