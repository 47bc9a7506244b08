#include "platform/ShortText.h"

#include "common/RowNames.h"

#include <cstring>
#include <gtest/gtest.h>
#include <ostream>

namespace morvane {
namespace {

struct CutCase
{
    std::string text;
    std::size_t expectedLen;
};

void PrintTo(const CutCase& c, std::ostream* out)
{
    *out << c.text.size() << " bytes, keep " << c.expectedLen;
}

class Utf8Cut : public ::testing::TestWithParam<CutCase>
{
};

const std::string kTwo = "\xC3\xA9";          // é
const std::string kThree = "\xE2\x82\xAC";    // €
const std::string kFour = "\xF0\x9F\x98\x80"; // emoji

TEST_P(Utf8Cut, NeverSplitsACharacter)
{
    const CutCase& c = GetParam();
    EXPECT_EQ(CutUtf8(c.text), c.text.substr(0, c.expectedLen));

    ShortText stored;
    stored.Set(c.text);
    EXPECT_EQ(stored.Len, c.expectedLen);
    EXPECT_EQ(stored.Get(), c.text.substr(0, c.expectedLen));
}

INSTANTIATE_TEST_SUITE_P(Table, Utf8Cut,
                         ::testing::Values(CutCase{"", 0}, CutCase{std::string(255, 'a'), 255},
                                           CutCase{std::string(300, 'a'), 255},
                                           CutCase{std::string(254, 'a') + kTwo, 254},
                                           CutCase{std::string(253, 'a') + kTwo, 255},
                                           CutCase{std::string(253, 'a') + kThree, 253},
                                           CutCase{std::string(252, 'a') + kThree, 255},
                                           CutCase{std::string(254, 'a') + kFour, 254},
                                           CutCase{std::string(252, 'a') + kFour, 252},
                                           CutCase{std::string(251, 'a') + kFour + "b", 255},
                                           // Not UTF-8 at all: cut where it stands.
                                           CutCase{std::string(300, '\x80'), 255}),
                         test::RowNamesBy(&CutCase::expectedLen));

TEST(ShortTextStore, UnusedBytesAreZeroed)
{
    ShortText text;
    std::memset(&text, 0xFF, sizeof text);
    text.Set(std::string(255, 'x'));
    text.Set("abc");
    EXPECT_EQ(text.Len, 3);
    EXPECT_EQ(text.Get(), "abc");
    for (std::size_t i = 3; i < kShortTextMax; ++i)
        ASSERT_EQ(text.Chars[i], 0) << "byte " << i;
    text.Set("");
    EXPECT_TRUE(text.Empty());
}

} // namespace
} // namespace morvane
