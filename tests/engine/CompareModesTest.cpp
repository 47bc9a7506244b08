// The comparison options against every way a program writes a file: a state equal to the
// last version (or of its size, with the size option) is never stored, while the agent
// runs and when it was written while the agent was off.
#include "EngineFixture.h"

#include <atomic>
#include <fcntl.h>
#include <optional>
#include <thread>
#include <unistd.h>

namespace morvane::test {
namespace {

const std::string kText = "same bytes";

enum class Compare
{
    None,
    Content,
    Size
};

struct WriterCase
{
    const char* Name;
    void (*Write)(const std::string& path);
    // Whether the state written is new: for no comparison, content, size.
    bool NewFor[3];
};

// Opens with flags and writes text, as a program does.
void WriteWith(const std::string& path, int flags, const std::string& text)
{
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    ::close(fd);
}

const WriterCase kWriters[] = {
    // A shell's "printf 'same bytes' > file": emptied first, then written.
    {"TruncateAndWrite",
     [](const std::string& p) { WriteWith(p, O_WRONLY | O_TRUNC, kText); },
     {true, false, false}},
    {"RenameOver",
     [](const std::string& p) {
         WriteFile(p + ".new", kText);
         std::filesystem::rename(p + ".new", p);
     },
     {true, false, false}},
    {"SameBytesInPlace", [](const std::string& p) { WriteWith(p, O_WRONLY, kText); }, {true, false, false}},
    {"Append", [](const std::string& p) { WriteWith(p, O_WRONLY | O_APPEND, "!"); }, {true, true, true}},
    {"OtherBytesOfTheSameSize",
     [](const std::string& p) { WriteWith(p, O_WRONLY, "SAME"); },
     {true, true, false}},
};

struct CompareCase
{
    WriterCase Writer;
    Compare Mode;
    bool Restart; // written while the agent was off
};
void PrintTo(const CompareCase& c, std::ostream* os)
{
    *os << c.Writer.Name << "/" << static_cast<int>(c.Mode) << (c.Restart ? "/restart" : "");
}

class CompareModes : public EngineFixture, public ::testing::WithParamInterface<CompareCase>
{
protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        file = Work("docs/notes.txt");
        WriteFile(file, kText);
        SetModTime(file, 2026, 12, 8, 14, 0, 0);
        const Compare mode = GetParam().Mode;
        item = AddFile(file, [mode](TMonItemRecord& r) {
            r.MonModeCompare = mode == Compare::Content;
            r.MonModeSize = mode == Compare::Size;
        });
    }
    bool MakeAndReport()
    {
        const bool made = static_cast<bool>(item->MakeVersion(false));
        if (made)
            item->AfterVersion(false);
        return made;
    }
    void Restart()
    {
        items->FlushList();
        item.reset();
        items.reset();
        IniFile::ClearCache();
        items = std::make_unique<TRKMonItems>(block.get(), &host, env.Home());
        items->SetActive(true);
        items->LoadAll();
        item = items->FileByPath(file);
        ASSERT_TRUE(item);
    }

    std::string file;
    std::shared_ptr<TRKMonItem> item;
};

TEST_P(CompareModes, OnlyANewStateIsStored)
{
    const CompareCase& c = GetParam();
    ASSERT_TRUE(MakeAndReport());
    c.Writer.Write(file);
    // A later date than the version's, as a save in another second gives.
    SetModTime(file, 2026, 12, 8, 14, 0, 1);
    if (c.Restart)
        Restart();
    MakeAndReport();
    const std::size_t expected = c.Writer.NewFor[static_cast<int>(c.Mode)] ? 2 : 1;
    EXPECT_EQ(Versions(*item).size(), expected);
}

std::vector<CompareCase> AllCases()
{
    std::vector<CompareCase> cases;
    for (const WriterCase& w : kWriters)
        for (Compare m : {Compare::None, Compare::Content, Compare::Size})
            for (bool restart : {false, true})
                cases.push_back({w, m, restart});
    return cases;
}

std::string CaseName(const ::testing::TestParamInfo<CompareCase>& info)
{
    static const char* const kModes[] = {"NoCompare", "Content", "Size"};
    return std::string(info.param.Writer.Name) + "_" + kModes[static_cast<int>(info.param.Mode)] +
           (info.param.Restart ? "_AfterRestart" : "");
}

INSTANTIATE_TEST_SUITE_P(Writers, CompareModes, ::testing::ValuesIn(AllCases()), CaseName);

// A writer that empties the file and writes the same bytes again, over and over, while
// scans run: whatever states the scans catch, no version equals the one before it.
TEST_F(EngineFixture, ATruncatingWriterNeverGivesAVersionEqualToTheOneBefore)
{
    const std::string file = Work("docs/log.txt");
    WriteFile(file, kText);
    std::shared_ptr<TRKMonItem> item = AddFile(file, [](TMonItemRecord& r) {
        r.MonModeCompare = true;
        r.DelMode = dmNumber;
        r.DelModeNumber = 100000;
    });
    ASSERT_TRUE(item->MakeVersion(false));
    item->AfterVersion(false);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 3000 && !done; ++i)
            WriteWith(file, O_WRONLY | O_TRUNC, kText);
        done = true;
    });
    while (!done) {
        if (item->MakeVersion(false))
            item->AfterVersion(false);
    }
    writer.join();
    std::optional<std::string> before;
    for (const VersionEntry& v : ListVersionFolders(ItemFolder(*item))) {
        const std::string text = ReadFile(ItemFolder(*item) + v.Name + "/" + v.Files.front().Name);
        EXPECT_NE(text, before) << "version " << v.Name << " equals the one before it";
        before = text;
    }
}

} // namespace
} // namespace morvane::test
