#include "common/RowNames.h"
#include "engine/Useful.h"

#include <gtest/gtest.h>

namespace morvane {
namespace {

struct SplitCase
{
    const char* Text;
    std::vector<std::string> Pieces;
};
void PrintTo(const SplitCase& c, std::ostream* os)
{
    *os << '"' << c.Text << '"';
}
class SplitTextToListTest : public ::testing::TestWithParam<SplitCase>
{
};

TEST_P(SplitTextToListTest, PiecesBeforeEachDelimiterAreAppended)
{
    std::vector<std::string> list{"kept"};
    SplitTextToList(GetParam().Text, ';', list);
    std::vector<std::string> expected{"kept"};
    expected.insert(expected.end(), GetParam().Pieces.begin(), GetParam().Pieces.end());
    EXPECT_EQ(list, expected);
}
INSTANTIATE_TEST_SUITE_P(Masks, SplitTextToListTest,
                         ::testing::Values(SplitCase{"*.txt;*.doc;", {"*.txt", "*.doc"}},
                                           SplitCase{"*.txt;*.doc", {"*.txt"}},
                                           SplitCase{"a;;b;", {"a", "b"}}, SplitCase{"", {}},
                                           SplitCase{";;;", {}}, SplitCase{"no delimiter", {}}),
                         test::RowNamesBy(&SplitCase::Text));

TEST(VersionString, PartsChooseWhatIsJoined)
{
    EXPECT_EQ(VersionStringOf("1.2.3.4", 7), "1.2.3");
    EXPECT_EQ(VersionStringOf("1.2.3.4", 15), "1.2.3.4");
    EXPECT_EQ(VersionStringOf("1.2.3.4", 0), "");
    EXPECT_EQ(VersionStringOf("1.2.3.4", 8 | 2), "2.4");
    EXPECT_EQ(VersionStringOf("1.0", 15), "1.0.0.0");
    EXPECT_EQ(GetExeVersionString(7), MORVANE_VERSION);
}

TEST(IfThenVariantTest, ChoosesACopy)
{
    EXPECT_EQ(IfThenVariant(true, std::string("a"), std::string("b")), "a");
    EXPECT_EQ(IfThenVariant(false, "a", "b"), "b");
    EXPECT_EQ(IfThenVariant(false, 1, 2), 2);
}

} // namespace
} // namespace morvane
