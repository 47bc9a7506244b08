#include "support/LanguageFiles.h"

#include "common/TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <thread>
#include <tuple>
#include <vector>

using namespace morvane;
namespace fs = std::filesystem;

namespace {

using NameCase = std::tuple<QLocale::Language, std::string>;
class LanguageNameTest : public ::testing::TestWithParam<NameCase>
{
};

TEST_P(LanguageNameTest, MapsLanguageToUpperCaseEnglishName)
{
    auto [language, expected] = GetParam();
    EXPECT_EQ(LanguageNameFor(language), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LanguageNameTest,
    ::testing::Values(NameCase{QLocale::English, "ENGLISH"}, NameCase{QLocale::German, "GERMAN"},
                      NameCase{QLocale::Ukrainian, ""}, NameCase{QLocale::Persian, "FARSI"},
                      NameCase{QLocale::Faroese, "FAEROESE"},
                      NameCase{QLocale::NorwegianNynorsk, "NORWEGIAN"},
                      NameCase{QLocale::Croatian, "SERBIAN"}, NameCase{QLocale::AnyLanguage, "NEUTRAL"},
                      NameCase{QLocale::Swahili, ""}));

TEST(LanguageNameTable, HoldsFortyTwoNames)
{
    std::set<std::string> names;
    for (int l = QLocale::AnyLanguage; l <= QLocale::LastLanguage; ++l) {
        const std::string name = LanguageNameFor(static_cast<QLocale::Language>(l));
        if (!name.empty())
            names.insert(name);
    }
    EXPECT_EQ(names.size(), 42u);
}

class LanguageFolderTest : public ::testing::Test
{
protected:
    test::TestEnv env;
    std::string shipped = env.Work() + "shipped/";
    std::string langs = env.Home() + "Langs/";

    void Ship(const std::string& name, const std::string& text) { test::WriteFile(shipped + name, text); }
};

TEST_F(LanguageFolderTest, FindsFileWithoutRegardToCase)
{
    test::WriteFile(langs + "English.ini", "[Form1]\n");
    EXPECT_EQ(FindLanguageFile(langs, "ENGLISH"), langs + "English.ini");
    EXPECT_EQ(FindLanguageFile(langs, "english"), langs + "English.ini");
    EXPECT_EQ(FindLanguageFile(langs, "English"), langs + "English.ini");
}

TEST_F(LanguageFolderTest, ExactNameWinsOverOtherCaseAndMissingFileGetsGivenName)
{
    test::WriteFile(langs + "german.ini", "");
    test::WriteFile(langs + "GERMAN.ini", "");
    EXPECT_EQ(FindLanguageFile(langs, "german"), langs + "german.ini");
    EXPECT_EQ(FindLanguageFile(langs, "German"), langs + "GERMAN.ini"); // first in sorted order
    EXPECT_EQ(FindLanguageFile(langs, "French"), langs + "French.ini");
    EXPECT_EQ(FindLanguageFile(langs.substr(0, langs.size() - 1), "French"), langs + "French.ini");
}

TEST_F(LanguageFolderTest, RefusesNamesThatLeaveTheFolder)
{
    for (const char* bad : {"", ".", "..", "../English", "sub/English"})
        EXPECT_EQ(FindLanguageFile(langs, bad), "") << bad;
    EXPECT_EQ(FindLanguageFile(langs, std::string("Eng\0lish", 8)), "");
}

TEST_F(LanguageFolderTest, MissingFolderIsFilledFromShippedIniFilesOnly)
{
    Ship("English.ini", "[Form1]\nA.Caption=Hello\n");
    Ship("German.ini", "[Form1]\nA.Caption=Hallo\n");
    Ship("readme.txt", "not a language");
    fs::permissions(shipped + "German.ini", fs::perms::owner_read);

    ASSERT_TRUE(FillLanguageFolder(langs, shipped));
    EXPECT_EQ(test::ReadFile(langs + "English.ini"), "[Form1]\nA.Caption=Hello\n");
    EXPECT_EQ(test::ReadFile(langs + "German.ini"), "[Form1]\nA.Caption=Hallo\n");
    EXPECT_FALSE(fs::exists(langs + "readme.txt"));
    // The user's copies must take the texts the programs write back.
    EXPECT_NE(fs::status(langs + "German.ini").permissions() & fs::perms::owner_write, fs::perms::none);
    // No temporary folder is left beside it.
    int entries = 0;
    for (const auto& e : fs::directory_iterator(env.Home()))
        entries += e.path().filename().string().rfind("Langs", 0) == 0 ? 1 : 0;
    EXPECT_EQ(entries, 1);
}

TEST_F(LanguageFolderTest, ExistingFolderIsLeftAsItIs)
{
    test::WriteFile(langs + "English.ini", "mine");
    Ship("English.ini", "shipped");
    Ship("German.ini", "shipped");
    ASSERT_TRUE(FillLanguageFolder(langs, shipped));
    EXPECT_EQ(test::ReadFile(langs + "English.ini"), "mine");
    EXPECT_FALSE(fs::exists(langs + "German.ini"));
}

TEST_F(LanguageFolderTest, NothingShippedGivesAnEmptyFolder)
{
    ASSERT_TRUE(FillLanguageFolder(langs, ""));
    EXPECT_TRUE(fs::is_directory(langs));
    EXPECT_TRUE(fs::is_empty(langs));
    ASSERT_TRUE(FillLanguageFolder(env.Home() + "Other/", env.Work() + "nowhere/"));
}

TEST_F(LanguageFolderTest, ProgramsStartingTogetherBothSeeACompleteFolder)
{
    for (int i = 0; i < 20; ++i)
        Ship("Lang" + std::to_string(i) + ".ini", "[S]\nK=" + std::to_string(i) + "\n");
    std::vector<std::thread> threads;
    std::vector<char> results(4, 0);
    for (std::size_t t = 0; t < results.size(); ++t)
        threads.emplace_back([&, t] { results[t] = FillLanguageFolder(langs, shipped); });
    for (auto& t : threads)
        t.join();
    for (char r : results)
        EXPECT_TRUE(r);
    int files = 0;
    for (const auto& e : fs::directory_iterator(langs))
        files += e.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 20);
    for (const auto& e : fs::directory_iterator(env.Home()))
        EXPECT_EQ(e.path().filename().string().find(".tmp-"), std::string::npos) << e.path();
}

TEST_F(LanguageFolderTest, LanguageFolderLivesInHomeAndExistsAfterFirstUse)
{
    EXPECT_EQ(LanguageFolder(), langs);
    EXPECT_TRUE(fs::is_directory(langs));
    test::WriteFile(langs + "Dutch.ini", "");
    EXPECT_TRUE(LanguageFileExists("DUTCH"));
    EXPECT_FALSE(LanguageFileExists("Klingon"));
    EXPECT_FALSE(LanguageFileExists("../Langs/Dutch"));
}

} // namespace
