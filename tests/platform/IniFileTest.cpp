#include "platform/IniFile.h"

#include "common/TestSupport.h"

#include <cerrno>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morvane {
namespace {

// Cases are named by position; failure messages show the values themselves.
struct IndexName
{
    template <class T>
    std::string operator()(const ::testing::TestParamInfo<T>& info) const
    {
        return "Case" + std::to_string(info.index);
    }
};

using namespace std::string_literals;
using test::ReadFile;
using test::WriteFile;

class IniFileTest : public ::testing::Test
{
protected:
    void SetUp() override { IniFile::ClearCache(); }
    void TearDown() override { IniFile::ClearCache(); }

    // Writes text as the whole file and drops cached parses, as if another program wrote it.
    void Given(const std::string& text)
    {
        WriteFile(m_path, text);
        IniFile::ClearCache();
    }
    // Files in the folder other than the INI file itself (leftover temporaries).
    std::vector<std::string> Strays() const
    {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(m_env.Work())) {
            if (e.path().filename() != "test.ini")
                names.push_back(e.path().filename().string());
        }
        return names;
    }

    test::TestEnv m_env;
    std::string m_path = m_env.Work() + "test.ini";
};

// ---- Names -------------------------------------------------------------------------------

TEST_F(IniFileTest, SectionNamesAreCaseSensitiveKeysAreNot)
{
    Given("[/home/a/File.txt]\nMonMode=1\n[/home/a/file.txt]\nmonmode=2\n");
    IniFile ini(m_path);
    EXPECT_EQ(ini.ReadInteger("/home/a/File.txt", "MONMODE", 0), 1);
    EXPECT_EQ(ini.ReadInteger("/home/a/file.txt", "MonMode", 0), 2);
    EXPECT_EQ(ini.ReadInteger("/HOME/A/FILE.TXT", "MonMode", 7), 7);

    // Writing a key in other case replaces it rather than adding a second line.
    ini.WriteInteger("/home/a/File.txt", "monMODE", 5);
    ini.Flush();
    EXPECT_EQ(ReadFile(m_path), "[/home/a/File.txt]\nMonMode=5\n[/home/a/file.txt]\nmonmode=2\n");
}

TEST_F(IniFileTest, SectionsAndKeysListInFileOrder)
{
    Given("; list\n[b]\nz=1\n; note\ny=2\nZ=3\n[a]\nx=1\n[b]\nw=4\n");
    IniFile ini(m_path);
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"b", "a"}));
    // A repeated section adds to the first; a repeated key counts once, its first line wins.
    EXPECT_EQ(ini.ReadKeys("b"), (std::vector<std::string>{"z", "y", "w"}));
    EXPECT_EQ(ini.ReadInteger("b", "Z", 0), 1);
    EXPECT_TRUE(ini.ReadKeys("missing").empty());
}

TEST_F(IniFileTest, RewriteKeepsCommentsAndUnknownLines)
{
    Given("; settings\n[Basic]\nLanguage=English\n\n; paths\nno equals sign here\n[Other]\nk=v\n");
    {
        IniFile ini(m_path);
        ini.WriteString("Basic", "BackupPath", "/b/");
        ini.WriteString("New", "k", "v");
    }
    // The new key goes after the section's last pair, ahead of the blank and comment lines.
    EXPECT_EQ(ReadFile(m_path), "; settings\n[Basic]\nLanguage=English\nBackupPath=/b/\n\n; paths\n"
                                "no equals sign here\n[Other]\nk=v\n[New]\nk=v\n");
}

// ---- Values ------------------------------------------------------------------------------

class IniValueRoundTrip : public IniFileTest, public ::testing::WithParamInterface<std::string>
{
};

TEST_P(IniValueRoundTrip, ReadsBackIntact)
{
    {
        IniFile ini(m_path);
        ini.WriteString("S", "K", GetParam());
        EXPECT_EQ(ini.ReadString("S", "K", "def"), GetParam()); // before the flush
    }
    IniFile::ClearCache();
    IniFile ini(m_path);
    EXPECT_EQ(ini.ReadString("S", "K", "def"), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Values, IniValueRoundTrip,
                         ::testing::Values("", "plain", "  leading blanks", "trailing blanks  ", " both ",
                                           "\tTab", "\"quoted\"", "\"", "\"\"", "a\"b", "a=b=c",
                                           "[not a header]", ";not a comment", "C:\\dir\\", "Ünïcødé ✓",
                                           "   "),
                         IndexName());

TEST_F(IniFileTest, ReadTrimsAndStripsOnePairOfQuotes)
{
    Given("[S]\n  a  =  spaced out  \nb=\"  kept  \"\nc=\"\"twice\"\"\nd='single'\ne=\"open\n");
    IniFile ini(m_path);
    EXPECT_EQ(ini.ReadString("S", "a", ""), "spaced out");
    EXPECT_EQ(ini.ReadString("S", " a ", ""), "spaced out");
    EXPECT_EQ(ini.ReadString("S", "b", ""), "  kept  ");
    EXPECT_EQ(ini.ReadString("S", "c", ""), "\"twice\"");
    EXPECT_EQ(ini.ReadString("S", "d", ""), "'single'");
    EXPECT_EQ(ini.ReadString("S", "e", ""), "\"open");
}

TEST_F(IniFileTest, ValuesAreReadUpTo2047Bytes)
{
    const std::string longText(3000, 'v');
    // Two-byte characters from byte 2046 on: the cut must not split one.
    const std::string utf8 = std::string(2046, 'a') + "éé";
    {
        IniFile ini(m_path);
        ini.WriteString("S", "long", longText);
        ini.WriteString("S", "exact", longText.substr(0, 2047));
        ini.WriteString("S", "utf8", utf8);
        EXPECT_EQ(ini.ReadString("S", "long", "").size(), 2047u);
    }
    EXPECT_NE(ReadFile(m_path).find(longText), std::string::npos) << "the file keeps the whole value";
    IniFile::ClearCache();
    IniFile ini(m_path);
    EXPECT_EQ(ini.ReadString("S", "long", ""), longText.substr(0, 2047));
    EXPECT_EQ(ini.ReadString("S", "exact", ""), longText.substr(0, 2047));
    EXPECT_EQ(ini.ReadString("S", "utf8", ""), std::string(2046, 'a'));
}

// Paths are section names, and file names hold brackets: a name is read up to the last
// "]" of its line.
TEST_F(IniFileTest, SectionNamesWithBracketsRoundTrip)
{
    const std::vector<std::string> names{"/d/draft [1].txt", "/d/a]b.txt", "/d/[x]", "/d/]["};
    {
        IniFile ini(m_path);
        for (const auto& name : names)
            ini.WriteString(name, "FileID", name);
        ini.Flush();
    }
    IniFile::ClearCache();
    IniFile ini(m_path);
    EXPECT_EQ(ini.ReadSections(), names);
    for (const auto& name : names)
        EXPECT_EQ(ini.ReadString(name, "FileID", ""), name);
    ini.EraseSection("/d/a]b.txt");
    ini.Flush();
    IniFile::ClearCache();
    EXPECT_EQ(IniFile(m_path).ReadSections().size(), 3u);
}

TEST_F(IniFileTest, UnstorableNamesAndValuesAreRefused)
{
    Given("[S]\nk=old\n");
    IniFile ini(m_path);
    EXPECT_THROW(ini.WriteString("S", "k", "line\nbreak"), std::invalid_argument);
    EXPECT_THROW(ini.WriteString("S", "k", "carriage\rreturn"), std::invalid_argument);
    EXPECT_THROW(ini.WriteString("S", "k", std::string("nul\0byte", 8)), std::invalid_argument);
    EXPECT_THROW(ini.WriteString("a\nb", "k", "v"), std::invalid_argument);
    EXPECT_THROW(ini.EraseSection("x\r"), std::invalid_argument);
    for (const char* key : {"", "  ", "a=b", "[k", ";k", "k\n"})
        EXPECT_THROW(ini.WriteString("S", key, "v"), std::invalid_argument) << key;
    ini.Flush();
    EXPECT_EQ(ReadFile(m_path), "[S]\nk=old\n");
    EXPECT_EQ(ini.ReadString("S", "k", ""), "old");
}

struct IntegerCase
{
    const char* Text;
    int Expected;
};

class IniIntegerRead : public IniFileTest, public ::testing::WithParamInterface<IntegerCase>
{
};

TEST_P(IniIntegerRead, ParsesOrGivesDefault)
{
    Given(std::string("[S]\nk=") + GetParam().Text + "\n");
    EXPECT_EQ(IniFile(m_path).ReadInteger("S", "k", -99), GetParam().Expected) << GetParam().Text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, IniIntegerRead,
    ::testing::Values(IntegerCase{"42", 42}, IntegerCase{"-7", -7}, IntegerCase{"+7", 7},
                      IntegerCase{"0x1F", 31}, IntegerCase{"0X1f", 31}, IntegerCase{"0xFFFFFFFF", -1},
                      IntegerCase{"0x000000010", 16}, IntegerCase{"2147483647", 2147483647},
                      IntegerCase{"-2147483648", -2147483647 - 1}, IntegerCase{"  12  ", 12},
                      IntegerCase{"\"5\"", 5}, IntegerCase{"abc", -99}, IntegerCase{"0x", -99},
                      IntegerCase{"0xG1", -99}, IntegerCase{"12abc", -99}, IntegerCase{"", -99},
                      IntegerCase{"-", -99}, IntegerCase{"2147483648", -99}, IntegerCase{"0x100000000", -99},
                      IntegerCase{"1.5", -99}, IntegerCase{"$1F", -99}),
    IndexName());

TEST_F(IniFileTest, BooleansAreIntegers)
{
    Given("[S]\none=1\nzero=0\ntwo=2\nhex=0x10\nword=True\n");
    IniFile ini(m_path);
    EXPECT_TRUE(ini.ReadBool("S", "one", false));
    EXPECT_FALSE(ini.ReadBool("S", "zero", true));
    EXPECT_TRUE(ini.ReadBool("S", "two", false));
    EXPECT_TRUE(ini.ReadBool("S", "hex", false));
    EXPECT_FALSE(ini.ReadBool("S", "word", false)); // not a number: the default
    EXPECT_TRUE(ini.ReadBool("S", "word", true));
    EXPECT_TRUE(ini.ReadBool("S", "missing", true));
    ini.WriteBool("S", "written", true);
    ini.WriteBool("S", "cleared", false);
    ini.WriteInteger("S", "negative", -12);
    ini.Flush();
    EXPECT_NE(ReadFile(m_path).find("written=1\ncleared=0\nnegative=-12\n"), std::string::npos);
}

TEST_F(IniFileTest, DateThatDoesNotParseGivesDefault)
{
    Given("[S]\nbad=not a date\nempty=\n");
    IniFile ini(m_path);
    EXPECT_EQ(ini.ReadDate("S", "bad", 2.0), 2.0);
    EXPECT_EQ(ini.ReadDate("S", "empty", 2.0), 2.0);
    EXPECT_EQ(ini.ReadDate("S", "missing", 3.5), 3.5);
    ini.WriteDate("S", "when", 46364.5);
    EXPECT_EQ(ini.ReadDate("S", "when", 0.0), 46364.5);
}

// ---- Pending changes ---------------------------------------------------------------------

TEST_F(IniFileTest, ReadsSeeTheObjectsOwnPendingChanges)
{
    Given("[A]\nx=1\ny=2\n[B]\nz=3\n");
    IniFile ini(m_path);
    ini.DeleteKey("A", "X");
    ini.EraseSection("B");
    ini.WriteString("C", "new", "n");
    EXPECT_EQ(ini.ReadString("A", "x", "gone"), "gone");
    EXPECT_EQ(ini.ReadString("A", "y", ""), "2");
    EXPECT_EQ(ini.ReadString("B", "z", "gone"), "gone");
    EXPECT_FALSE(ini.SectionExists("B"));
    EXPECT_TRUE(ini.SectionExists("C"));
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"A", "C"}));
    EXPECT_EQ(ReadFile(m_path), "[A]\nx=1\ny=2\n[B]\nz=3\n") << "nothing written before Flush";

    // An erased section written again comes back empty but for the new key, at the end.
    ini.WriteString("B", "again", "1");
    ini.DeleteKey("B", "again");
    EXPECT_TRUE(ini.SectionExists("B"));
    EXPECT_EQ(ini.ReadKeys("B"), std::vector<std::string>{});
    EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"A", "C", "B"}));
    ini.Flush();
    EXPECT_EQ(ReadFile(m_path), "[A]\ny=2\n[C]\nnew=n\n[B]\n");
    IniFile::ClearCache();
    EXPECT_EQ(IniFile(m_path).ReadSections(), (std::vector<std::string>{"A", "C", "B"}));
}

TEST_F(IniFileTest, DestructorFlushesAndNoChangeWritesNothing)
{
    {
        IniFile ini(m_path);
        EXPECT_EQ(ini.ReadString("S", "k", "d"), "d");
        ini.Flush();
    }
    EXPECT_FALSE(std::filesystem::exists(m_path)) << "no change, no file";
    {
        IniFile ini(m_path);
        ini.WriteString("S", "k", "v");
    }
    EXPECT_EQ(ReadFile(m_path), "[S]\nk=v\n");
    EXPECT_TRUE(Strays().empty());
}

// ---- Damaged files -----------------------------------------------------------------------

class IniDamagedFile : public IniFileTest, public ::testing::WithParamInterface<std::string>
{
};

TEST_P(IniDamagedFile, LoadsWithDefaultsAndStaysWritable)
{
    Given(GetParam());
    {
        IniFile ini(m_path);
        EXPECT_EQ(ini.ReadInteger("Missing", "k", 10), 10);
        (void)ini.ReadSections();
        ini.WriteInteger("Fresh", "k", 5);
        ini.Flush();
    }
    IniFile::ClearCache();
    EXPECT_EQ(IniFile(m_path).ReadInteger("Fresh", "k", 0), 5);
    // What the parser did not understand is kept, not dropped.
    const std::string after = ReadFile(m_path);
    EXPECT_GE(after.size(), GetParam().size() / 2);
}

std::string Binary()
{
    std::string s;
    for (int i = 0; i < 4096; ++i)
        s += static_cast<char>((i * 7919) & 0xFF);
    return s;
}

INSTANTIATE_TEST_SUITE_P(Contents, IniDamagedFile,
                         ::testing::Values(Binary(), "[S]\nk=\0v\0\0[T\0]\n=\n"s,
                                           "[unterminated\nk=v\n[]\n=\n==\n[S]\nk", "no sections\nat all=1\n",
                                           std::string(4 << 20, 'x'),
                                           "[S]\n" + std::string(3 << 20, '=') + "\n",
                                           "\r\r\n\n[S]\r\nk=v\rq=w", "[S]\nk=v\n[S2]\nk2=val"),
                         IndexName());

TEST_F(IniFileTest, TruncatedFileKeepsWhatItHolds)
{
    Given("[A]\nx=1\n[B]\ny=2\nz=tru");
    IniFile ini(m_path);
    EXPECT_EQ(ini.ReadInteger("A", "x", 0), 1);
    EXPECT_EQ(ini.ReadString("B", "z", ""), "tru");
    EXPECT_EQ(ini.ReadInteger("C", "x", 4), 4);
}

// ---- Refused writes ----------------------------------------------------------------------

TEST_F(IniFileTest, UnwritableTargetRaisesAndLosesNothing)
{
    const std::string noFolder = m_env.Work() + "missing/test.ini";
    const std::string fileAsFolder = m_path + "/test.ini";
    Given("[S]\nk=old\n");

    // A FIFO in the file's place must neither block a reader nor be replaced.
    const std::string fifo = m_env.Work() + "fifo.ini";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    std::filesystem::create_directories(m_env.Work() + "adir");

    // Each refusal carries the cause, so a caller can tell a full disk from a missing folder.
    const std::pair<std::string, int> cases[] = {
        {noFolder, ENOENT}, {fileAsFolder, ENOTDIR}, {m_env.Work() + "adir", EIO}, {fifo, EIO}};
    for (const auto& [target, cause] : cases) {
        IniFile ini(target);
        EXPECT_EQ(ini.ReadString("S", "k", "def"), "def");
        ini.WriteString("S", "k", "new");
        try {
            ini.Flush();
            ADD_FAILURE() << "written: " << target;
        } catch (const IniWriteError& e) {
            EXPECT_EQ(std::string(e.what()), "Unable to write to " + target);
            EXPECT_EQ(e.Path(), target);
            EXPECT_EQ(e.Error(), cause) << target;
        }
        EXPECT_EQ(ini.ReadString("S", "k", ""), "new") << "the change stays pending";
    }
    EXPECT_EQ(ReadFile(m_path), "[S]\nk=old\n");
    EXPECT_EQ(std::filesystem::status(fifo).type(), std::filesystem::file_type::fifo);

    // The pending change survives the failure and is written once the folder exists.
    IniFile later(noFolder);
    later.WriteString("S", "k", "new");
    EXPECT_THROW(later.Flush(), IniWriteError);
    std::filesystem::create_directories(m_env.Work() + "missing");
    later.Flush();
    EXPECT_EQ(ReadFile(noFolder), "[S]\nk=new\n");
}

TEST_F(IniFileTest, ReadOnlyFileOrFolderRaises)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "permission bits do not stop root; the other unwritable targets are tested above";
    Given("[S]\nk=old\n");
    ::chmod(m_path.c_str(), 0444);
    IniFile ini(m_path);
    ini.WriteString("S", "k", "new");
    EXPECT_THROW(ini.Flush(), IniWriteError);
    EXPECT_EQ(ReadFile(m_path), "[S]\nk=old\n");

    ::chmod(m_path.c_str(), 0644);
    ::chmod(m_env.Work().c_str(), 0555);
    EXPECT_THROW(ini.Flush(), IniWriteError);
    ::chmod(m_env.Work().c_str(), 0755);
    EXPECT_EQ(ReadFile(m_path), "[S]\nk=old\n");
    EXPECT_TRUE(Strays().empty());

    // A file we cannot read is not replaced by one holding only our change.
    IniFile::ClearCache();
    ::chmod(m_path.c_str(), 0200);
    IniFile blind(m_path);
    blind.WriteString("T", "k", "v");
    EXPECT_THROW(blind.Flush(), IniWriteError);
    ::chmod(m_path.c_str(), 0644);
    EXPECT_EQ(ReadFile(m_path), "[S]\nk=old\n");
    blind.Flush();
    ini.Flush();
    EXPECT_EQ(ReadFile(m_path), "[S]\nk=new\n[T]\nk=v\n");
}

TEST_F(IniFileTest, RewriteKeepsModeAndSymlink)
{
    Given("[S]\nk=old\n");
    ::chmod(m_path.c_str(), 0600);
    const std::string link = m_env.Work() + "link.ini";
    std::filesystem::create_symlink(m_path, link);
    {
        IniFile ini(link);
        ini.WriteString("S", "k", "new");
        ini.Flush();
    }
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadFile(m_path), "[S]\nk=new\n");
    struct stat st
    {
    };
    ASSERT_EQ(::stat(m_path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

} // namespace
} // namespace morvane
