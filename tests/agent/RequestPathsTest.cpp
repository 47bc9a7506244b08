#include "agent/RequestPaths.h"

#include "common/TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace morvane;

namespace {

struct AddCase
{
    const char* Name;
    std::string Path; // "{H}" and "{B}" stand for the home folder and the backup root
    PathProblem Expected;
};

std::string Expand(std::string text, const std::string& home, const std::string& backup)
{
    for (const auto& [key, value] : {std::pair<std::string, std::string>{"{H}", home}, {"{B}", backup}}) {
        for (std::size_t at = text.find(key); at != std::string::npos; at = text.find(key))
            text.replace(at, key.size(), value);
    }
    return text;
}

class AddPathTable : public ::testing::TestWithParam<AddCase>
{
protected:
    test::TestEnv env;
    // Both folders exist, so canonical forms resolve through the file system.
    std::string home = env.Home();
    std::string backup = env.Work() + "backup/";
    void SetUp() override { std::filesystem::create_directories(backup); }
};

} // namespace

TEST_P(AddPathTable, ClassifiesPath)
{
    const AddCase& c = GetParam();
    const std::string path = Expand(c.Path, home, backup);
    EXPECT_EQ(CheckAddPath(path, home, backup), c.Expected) << c.Name << ": " << path;
}

INSTANTIATE_TEST_SUITE_P(
    Agent, AddPathTable,
    ::testing::Values(AddCase{"plain file", "/data/a.txt", PathProblem::None},
                      AddCase{"plain folder", "/data/docs/", PathProblem::None},
                      AddCase{"empty", "", PathProblem::Empty},
                      AddCase{"relative", "data/a.txt", PathProblem::NotAbsolute},
                      AddCase{"control character", "/data/a\tb.txt", PathProblem::ControlChar},
                      AddCase{"delete character", "/data/a\x7f.txt", PathProblem::ControlChar},
                      // The list file holds brackets in paths.
                      AddCase{"brackets", "/data/draft [1].txt", PathProblem::None},
                      AddCase{"closing bracket", "/data/x].txt", PathProblem::None},
                      AddCase{"too long", "/" + std::string(255, 'a'), PathProblem::TooLong},
                      AddCase{"exactly 255 bytes", "/" + std::string(254, 'a'), PathProblem::None},
                      AddCase{"home itself", "{H}", PathProblem::InsideHome},
                      AddCase{"file in home", "{H}kelvrim.ini", PathProblem::InsideHome},
                      AddCase{"deep in home", "{H}Langs/English.ini", PathProblem::InsideHome},
                      AddCase{"home through dot-dot", "{B}../../home/mvlist.srv", PathProblem::InsideHome},
                      AddCase{"backup root", "{B}", PathProblem::InsideBackup},
                      AddCase{"backup root without separator", "{B}/../backup", PathProblem::InsideBackup},
                      AddCase{"version inside backup", "{B}2401011234/001/a.txt", PathProblem::InsideBackup},
                      AddCase{"sibling sharing a prefix", "{B}/../backupx/a.txt", PathProblem::None},
                      AddCase{"doubled separators", "{B}//001//a.txt", PathProblem::InsideBackup}),
    [](const auto& info) {
        std::string name = info.param.Name;
        for (char& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return name;
    });

TEST(RequestPaths, SymbolicLinkIntoBackupIsInside)
{
    test::TestEnv env;
    const std::string backup = env.Work() + "backup/";
    std::filesystem::create_directories(backup + "v");
    std::filesystem::create_directory_symlink(backup + "v", env.Work() + "alias");
    EXPECT_TRUE(IsInsideFolder(env.Work() + "alias/a.txt", backup));
    EXPECT_EQ(CheckAddPath(env.Work() + "alias/a.txt", env.Home(), backup), PathProblem::InsideBackup);
}

TEST(RequestPaths, EmptyFolderContainsNothing)
{
    EXPECT_FALSE(IsInsideFolder("/data/a.txt", ""));
    EXPECT_FALSE(IsInsideFolder("", "/data/"));
}

TEST(RequestPaths, OnlyRuleRefusalsAreShownToTheUser)
{
    EXPECT_TRUE(IsRefusalShownToUser(PathProblem::Bracket));
    EXPECT_TRUE(IsRefusalShownToUser(PathProblem::InsideHome));
    EXPECT_TRUE(IsRefusalShownToUser(PathProblem::InsideBackup));
    EXPECT_FALSE(IsRefusalShownToUser(PathProblem::TooLong));
    EXPECT_FALSE(IsRefusalShownToUser(PathProblem::ControlChar));
    EXPECT_FALSE(IsRefusalShownToUser(PathProblem::None));
}
