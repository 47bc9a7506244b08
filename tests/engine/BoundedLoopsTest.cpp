// Loops over names and numbers end, whatever the files hold: zero bytes in a path and
// numbers at their limits give an answer at once instead of a loop that never ends.
#include "common/TestSupport.h"
#include "engine/ItemRecordIO.h"
#include "engine/VersionStore.h"
#include "platform/IniFile.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <filesystem>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <thread>

using namespace morvane;
using morvane::test::WriteFile;

namespace {

// The test's folders, copied: a case that never ends must not outlive what it uses.
struct Folders
{
    std::string Home;
    std::string Work;
};

struct LoopCase
{
    const char* Name;
    // Returns "" when the answer is the right one, else what went wrong.
    std::function<std::string(const Folders& env)> Run;
};
void PrintTo(const LoopCase& c, std::ostream* os)
{
    *os << c.Name;
}

class BoundedLoops : public ::testing::TestWithParam<LoopCase>
{
protected:
    void SetUp() override { IniFile::ClearCache(); }
    test::TestEnv env;
};

// A folder that exists, then a zero byte: the system sees only the part before it.
std::string WithZeroByte(const std::string& folder, const std::string& tail)
{
    return folder + std::string(1, '\0') + tail;
}

std::string Expect(bool ok, const std::string& what)
{
    return ok ? std::string() : what;
}

const LoopCase kCases[] = {
    {"NewFileIdInAFolderWithAZeroByte",
     [](const Folders& env) {
         const std::string id = NewFileId(WithZeroByte(env.Work, "backup/"), "");
         return Expect(id.empty(), "got FileID " + id);
     }},
    {"ItemWithoutFileIdReadUnderAFolderWithAZeroByte",
     [](const Folders& env) {
         const std::string list = env.Home + "mvlist.srv";
         WriteFile(list, "[/w/a.txt]\nMonMode=0\n");
         TMonItemRecord r = EmptyItemRecord();
         r.Path.Set("/w/a.txt");
         ReadItemRecord(r, list, WithZeroByte(env.Work, "x/"));
         return Expect(!IsPlainFolderName(r.FileID.Get()), "got FileID " + r.FileID.Get());
     }},
    {"BackupPathWithAZeroByteTakesTheDefault",
     [](const Folders& env) {
         WriteFile(env.Home + kSettingsFileName, "[Basic]\nBackupPath=" + WithZeroByte(env.Work, "b") + "\n");
         const std::string root = ReadBackupRoot(env.Home + kSettingsFileName, env.Home);
         return Expect(root == env.Home + kDefaultBackupDir, "got " + root);
     }},
    {"BackupPathWithATabTakesTheDefault",
     [](const Folders& env) {
         WriteFile(env.Home + kSettingsFileName, "[Basic]\nBackupPath=" + env.Work + "a\tb\n");
         const std::string root = ReadBackupRoot(env.Home + kSettingsFileName, env.Home);
         return Expect(root == env.Home + kDefaultBackupDir, "got " + root);
     }},
    {"HighestFolderAtTheLimit",
     [](const Folders& env) {
         std::filesystem::create_directories(env.Work + "item/2147483646");
         int error = 0;
         const auto made = CreateNextVersionFolder(env.Work + "item/", 3, &error);
         if (!made)
             return std::string("no folder: ") + std::to_string(error);
         int again = 0;
         const auto next = CreateNextVersionFolder(env.Work + "item/", made->Number, &again);
         return Expect(made->Number == INT_MAX && !next && again == EOVERFLOW,
                       "made " + std::to_string(made->Number));
     }},
    {"HugeFolderNumberBeyondEveryCounter",
     [](const Folders& env) {
         std::filesystem::create_directories(env.Work + "item/99999999999999999999");
         const auto made = CreateNextVersionFolder(env.Work + "item/", 0);
         return Expect(made && made->Number == 1, "no first version folder");
     }},
};

TEST_P(BoundedLoops, AnswersAtOnce)
{
    // Run apart, so a loop that never ends fails the case instead of hanging the suite.
    auto task = std::make_shared<std::packaged_task<std::string()>>(
        [run = GetParam().Run, folders = Folders{env.Home(), env.Work()}] { return run(folders); });
    std::future<std::string> answer = task->get_future();
    std::thread([task] { (*task)(); }).detach();
    ASSERT_EQ(answer.wait_for(std::chrono::seconds(20)), std::future_status::ready) << "still running";
    EXPECT_EQ(answer.get(), "");
}

INSTANTIATE_TEST_SUITE_P(Cases, BoundedLoops, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.Name); });

} // namespace
