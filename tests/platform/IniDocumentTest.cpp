#include "platform/IniDocument.h"

#include "common/RowNames.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace morvane {
namespace {

std::string Key(int i)
{
    return "Key" + std::to_string(i);
}

std::string Value(const IniDocument& doc, const std::string& section, const std::string& key)
{
    const auto raw = doc.RawValue(section, key);
    return raw ? std::string(*raw) : "<none>";
}

// Sections of few and of many keys are searched differently; both must find the first
// line of a key whatever its case, keep file order, and follow additions and deletions.
class IniDocumentKeys : public ::testing::TestWithParam<int>
{
};

TEST_P(IniDocumentKeys, FirstLineWinsThroughAdditionsAndDeletions)
{
    const int count = GetParam();
    std::string text = "[s]\n";
    for (int i = 0; i < count; ++i)
        text += Key(i) + "=" + std::to_string(i) + "\n";
    text += "KEY0=shadowed\n; comment\n";
    IniDocument doc = IniDocument::Parse(text);

    EXPECT_EQ(Value(doc, "s", "key0"), "0");
    EXPECT_EQ(Value(doc, "s", Key(count - 1)), std::to_string(count - 1));
    EXPECT_EQ(doc.KeyNames("s").size(), static_cast<std::size_t>(count));
    for (int i = count; i < 2 * count; ++i)
        doc.Set("s", Key(i), std::to_string(i));
    doc.DeleteKey("s", "key0");
    EXPECT_EQ(Value(doc, "s", "Key0"), "<none>") << "every line of a deleted key goes";
    for (int i = 1; i < 2 * count; ++i)
        ASSERT_EQ(Value(doc, "s", Key(i)), std::to_string(i)) << i;
    const std::vector<std::string> keys = doc.KeyNames("s");
    ASSERT_EQ(keys.size(), static_cast<std::size_t>(2 * count - 1));
    EXPECT_EQ(keys.front(), "Key1");
    EXPECT_EQ(keys.back(), Key(2 * count - 1));
    const std::string out = doc.Serialize();
    EXPECT_EQ(out.substr(out.size() - 10), "; comment\n") << "new keys go ahead of trailing comments";
}

INSTANTIATE_TEST_SUITE_P(Sizes, IniDocumentKeys, ::testing::Values(3, 40, 300), test::ValueRowName());

TEST(IniDocumentTest, ManyRewritesKeepEveryValueAndTheTextSmall)
{
    std::string text;
    for (int s = 0; s < 200; ++s)
        text += "[/d/" + std::to_string(s) + "]\nPath=/d/" + std::to_string(s) + "\nFlag=1\n";
    IniDocument doc = IniDocument::Parse(text);
    const std::size_t size = doc.Serialize().size();
    // Each round replaces every value: far more dead text than live.
    const std::string filler(5000, 'x');
    for (int round = 0; round < 20; ++round) {
        for (int s = 0; s < 200; ++s) {
            doc.Set("/d/" + std::to_string(s), "Data", filler + std::to_string(round));
            doc.Set("/d/" + std::to_string(s), "Flag", std::to_string(round));
        }
    }
    for (int s = 0; s < 200; ++s) {
        ASSERT_EQ(Value(doc, "/d/" + std::to_string(s), "Path"), "/d/" + std::to_string(s));
        ASSERT_EQ(Value(doc, "/d/" + std::to_string(s), "flag"), "19");
        ASSERT_EQ(doc.KeyNames("/d/" + std::to_string(s)),
                  (std::vector<std::string>{"Path", "Flag", "Data"}));
        ASSERT_EQ(Value(doc, "/d/" + std::to_string(s), "Data"), filler + "19");
    }
    EXPECT_EQ(IniDocument::Parse(doc.Serialize()).Serialize(), doc.Serialize());
    EXPECT_GT(doc.Serialize().size(), size);
}

TEST(IniDocumentTest, ErasedSectionsComeBackEmptyAndOthersStayFound)
{
    IniDocument doc;
    for (int s = 0; s < 100; ++s)
        doc.Set("s" + std::to_string(s), "k", std::to_string(s));
    for (int s = 0; s < 100; s += 2)
        doc.EraseSection("s" + std::to_string(s));
    doc.Set("s0", "other", "new");
    EXPECT_EQ(Value(doc, "s0", "k"), "<none>");
    EXPECT_EQ(Value(doc, "s0", "other"), "new");
    for (int s = 1; s < 100; s += 2)
        ASSERT_EQ(Value(doc, "s" + std::to_string(s), "k"), std::to_string(s));
    EXPECT_FALSE(doc.HasSection("s2"));
    EXPECT_EQ(doc.SectionNames().size(), 51u);
    EXPECT_EQ(doc.SectionNames().back(), "s0") << "a section made again goes to the end";
}

} // namespace
} // namespace morvane
