#include "support/LanguageFiles.h"

#include "common/TestSupport.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <ostream>
#include <thread>
#include <vector>

using namespace morvane;
namespace fs = std::filesystem;

namespace {

TEST(LanguageName, UpperCaseEnglishNameOrEmpty)
{
    EXPECT_EQ(LanguageNameFor(QLocale::English), "ENGLISH");
    EXPECT_EQ(LanguageNameFor(QLocale::Persian), "FARSI");
    EXPECT_EQ(LanguageNameFor(QLocale::NorwegianNynorsk), "NORWEGIAN");
    EXPECT_EQ(LanguageNameFor(QLocale::Ukrainian), "");
}

class LanguageFolderTest : public ::testing::Test
{
protected:
    test::TestEnv env;
    std::string shipped = env.Work() + "shipped/";
    std::string langs = env.Home() + "Langs/";
};

TEST_F(LanguageFolderTest, NameFindsFileWithoutRegardToCase)
{
    test::WriteFile(langs + "English.ini", "");
    test::WriteFile(langs + "german.ini", "");
    test::WriteFile(langs + "GERMAN.ini", "");
    EXPECT_EQ(FindLanguageFile(langs, "ENGLISH"), langs + "English.ini");
    EXPECT_EQ(FindLanguageFile(langs, "german"), langs + "german.ini"); // exact name first
    EXPECT_EQ(FindLanguageFile(langs, "French"), langs + "French.ini"); // to be created
    for (const char* bad : {"", "..", "../English", "sub/English"})
        EXPECT_EQ(FindLanguageFile(langs, bad), "") << bad;
    EXPECT_TRUE(LanguageFileExists("english"));
    EXPECT_FALSE(LanguageFileExists("../Langs/English"));
}

TEST_F(LanguageFolderTest, MissingFolderIsFilledWithWritableCopiesOfShippedFiles)
{
    test::WriteFile(shipped + "English.ini", "[Form1]\nA.Caption=Hello\n");
    test::WriteFile(shipped + "readme.txt", "not a language");
    fs::permissions(shipped + "English.ini", fs::perms::owner_read);
    EXPECT_EQ(LanguageFolder(), langs); // nothing shipped where the test program lives
    fs::remove_all(langs);

    ASSERT_TRUE(FillLanguageFolder(langs, shipped));
    EXPECT_EQ(test::ReadFile(langs + "English.ini"), "[Form1]\nA.Caption=Hello\n");
    EXPECT_FALSE(fs::exists(langs + "readme.txt"));
    EXPECT_NE(fs::status(langs + "English.ini").permissions() & fs::perms::owner_write, fs::perms::none);

    // A folder that exists is the user's: it is never refilled.
    test::WriteFile(langs + "English.ini", "mine");
    ASSERT_TRUE(FillLanguageFolder(langs, shipped));
    EXPECT_EQ(test::ReadFile(langs + "English.ini"), "mine");
}

TEST_F(LanguageFolderTest, ProgramsStartingTogetherAllSeeTheWholeFolder)
{
    for (int i = 0; i < 20; ++i)
        test::WriteFile(shipped + "Lang" + std::to_string(i) + ".ini", "[S]\n");
    std::vector<std::thread> threads;
    std::vector<char> results(4, 0);
    for (std::size_t t = 0; t < results.size(); ++t)
        threads.emplace_back([&, t] { results[t] = FillLanguageFolder(langs, shipped); });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(std::count(results.begin(), results.end(), 1), 4);
    EXPECT_EQ(std::distance(fs::directory_iterator(langs), fs::directory_iterator()), 20);
    // No temporary folder is left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(env.Home()), fs::directory_iterator()), 1);
}

struct CopyCase
{
    const char* name;
    const char* userFile; // "" = no file
    const char* left;     // what remains; nullptr = the file is gone
};

void PrintTo(const CopyCase& c, std::ostream* out)
{
    *out << c.name;
}

class ShippedCopies : public ::testing::TestWithParam<CopyCase>
{
protected:
    test::TestEnv env;
    std::string shipped = env.Work() + "shipped/";
    std::string langs = env.Home() + "Langs/";
};

TEST_P(ShippedCopies, OnlyTheUsersOwnTextsStay)
{
    const CopyCase& c = GetParam();
    test::WriteFile(shipped + "English.ini",
                    "[Form1]\nShowPellary1.Caption=Show Monitor\nShutdown1.Caption=Shut down\n"
                    "[SystemMessages]\nMesNew=A text added later\n");
    fs::create_directories(langs);
    test::WriteFile(langs + "english.ini", c.userFile);
    test::WriteFile(langs + "German.ini", "[Form1]\nShutdown1.Caption=Shut down\n");
    DropShippedCopies(langs, shipped);
    if (c.left)
        EXPECT_EQ(test::ReadFile(langs + "english.ini"), c.left);
    else
        EXPECT_FALSE(fs::exists(langs + "english.ini"));
    // A language nobody ships is the user's alone, whatever it holds.
    EXPECT_EQ(test::ReadFile(langs + "German.ini"), "[Form1]\nShutdown1.Caption=Shut down\n");
    EXPECT_NE(test::ReadFile(shipped + "English.ini").find("MesNew"), std::string::npos)
        << "shipped file untouched";
}

INSTANTIATE_TEST_SUITE_P(
    Table, ShippedCopies,
    ::testing::Values(
        // What an older version wrote when it found no shipped file: the built-in texts.
        CopyCase{"built-in texts",
                 "[Form1]\nShowPellary1.Caption=Show Monitor\nShutdown1.Caption=Shut down\n", nullptr},
        CopyCase{"own caption kept", "[Form1]\nShowPellary1.Caption=Show Monitor\nShutdown1.Caption=Quit\n",
                 "[Form1]\nShutdown1.Caption=Quit\n"},
        CopyCase{"key nobody ships", "[Form1]\nOther.Caption=Show Monitor\n",
                 "[Form1]\nOther.Caption=Show Monitor\n"},
        CopyCase{"same key in another section", "[Form2]\nShutdown1.Caption=Shut down\n",
                 "[Form2]\nShutdown1.Caption=Shut down\n"},
        CopyCase{"empty file", "", ""}),
    test::RowNamesBy(&CopyCase::name));

} // namespace
