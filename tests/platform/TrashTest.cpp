#include "platform/Trash.h"

#include "common/TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <ostream>
#include <sys/stat.h>
#include <unistd.h>

namespace morvane {
namespace {

namespace fs = std::filesystem;

struct EncodeCase
{
    std::string path;
    std::string encoded;
};

void PrintTo(const EncodeCase& c, std::ostream* out)
{
    *out << c.encoded;
}

class TrashPathText : public ::testing::TestWithParam<EncodeCase>
{
};

TEST_P(TrashPathText, EncodesAndReadsBack)
{
    const EncodeCase& c = GetParam();
    EXPECT_EQ(EncodeTrashPath(c.path), c.encoded);
    std::string back;
    ASSERT_TRUE(DecodeTrashPath(c.encoded, back));
    EXPECT_EQ(back, c.path);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TrashPathText,
    ::testing::Values(EncodeCase{"/home/u/plain-name_1.txt~", "/home/u/plain-name_1.txt~"},
                      EncodeCase{"/home/u/My Files/a b.txt", "/home/u/My%20Files/a%20b.txt"},
                      EncodeCase{"/x/100%.txt", "/x/100%25.txt"},
                      EncodeCase{"/x/\xC3\xA4.txt", "/x/%C3%A4.txt"},
                      // A line break in a name would otherwise end the info file's line.
                      EncodeCase{"/x/two\nlines=[a]", "/x/two%0Alines%3D%5Ba%5D"},
                      EncodeCase{"/x/#?&+;'\"", "/x/%23%3F%26%2B%3B%27%22"}),
    test::RowNamesBy(&EncodeCase::path));

TEST(TrashPathText, BrokenEscapesAreRefused)
{
    std::string path;
    for (const char* text : {"/x/%", "/x/%4", "/x/%G1", "%zz"})
        EXPECT_FALSE(DecodeTrashPath(text, path)) << text;
    EXPECT_TRUE(DecodeTrashPath("/x/%4a", path));
    EXPECT_EQ(path, "/x/J");
}

class HomeTrash : public ::testing::Test
{
protected:
    static unsigned Mode(const std::string& path)
    {
        struct stat st = {};
        return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
    }
    // The Path= line of an info file, decoded.
    static std::string InfoPath(const std::string& infoFile)
    {
        const std::string text = test::ReadFile(infoFile);
        const auto start = text.find("\nPath=");
        if (text.rfind("[Trash Info]\n", 0) != 0 || start == std::string::npos)
            return "(bad info file) " + text;
        const auto end = text.find('\n', start + 1);
        std::string path;
        if (!DecodeTrashPath(text.substr(start + 6, end - start - 6), path))
            return "(bad escape)";
        return path;
    }
    std::string Root() const { return FolderPart(WithoutTrailing(env.TrashFiles())); }
    static std::string FolderPart(const std::string& p) { return p.substr(0, p.rfind('/') + 1); }
    static std::string WithoutTrailing(std::string p)
    {
        p.pop_back();
        return p;
    }

    test::TestEnv env;
};

TEST_F(HomeTrash, AnEntryNamesItsPlaceSoItCanBeTakenBack)
{
    const std::string folder = env.Work() + "My Files/100% sure/";
    const std::string file = folder + "notes\nv2 \xC3\xA4.txt";
    test::WriteFile(file, "text");
    ASSERT_TRUE(MoveToTrash(file));
    EXPECT_FALSE(fs::exists(file));
    const std::string name = "notes\nv2 \xC3\xA4.txt";
    EXPECT_EQ(test::ReadFile(env.TrashFiles() + name), "text");
    const std::string info = Root() + "info/" + name + ".trashinfo";
    EXPECT_EQ(InfoPath(info), fs::canonical(folder).string() + "/" + name);
    const std::string text = test::ReadFile(info);
    EXPECT_NE(text.find("\nDeletionDate=20"), std::string::npos) << text;
    EXPECT_EQ(text.find('%', text.find("DeletionDate")), std::string::npos);
    // The user's deleted files: nobody else may look in.
    for (const std::string& f : {Root(), Root() + "files", Root() + "info"})
        EXPECT_EQ(Mode(WithoutTrailing(f + "/")), 0700u) << f;
    EXPECT_EQ(Mode(info), 0600u);
}

TEST_F(HomeTrash, SameNamesGetTheirOwnEntriesAndFoldersGoWhole)
{
    test::WriteFile(env.Work() + "a/report.txt", "first");
    test::WriteFile(env.Work() + "b/report.txt", "second");
    test::WriteFile(env.Work() + "c/report.txt/inner", "folder");
    ASSERT_TRUE(MoveToTrash(env.Work() + "a/report.txt"));
    ASSERT_TRUE(MoveToTrash(env.Work() + "b/report.txt"));
    ASSERT_TRUE(MoveToTrash(env.Work() + "c/report.txt/"));
    EXPECT_EQ(test::ReadFile(env.TrashFiles() + "report.txt"), "first");
    EXPECT_EQ(test::ReadFile(env.TrashFiles() + "report.2.txt"), "second");
    EXPECT_EQ(test::ReadFile(env.TrashFiles() + "report.3.txt/inner"), "folder");
    EXPECT_EQ(InfoPath(Root() + "info/report.2.txt.trashinfo"),
              fs::canonical(env.Work()).string() + "/b/report.txt");
    EXPECT_EQ(InfoPath(Root() + "info/report.3.txt.trashinfo"),
              fs::canonical(env.Work()).string() + "/c/report.txt");
}

TEST_F(HomeTrash, AnOrphanEntryKeepsItsNameAndALinkIsTrashedItself)
{
    test::WriteFile(env.TrashFiles() + "orphan.txt", "left without info");
    test::WriteFile(env.Work() + "orphan.txt", "new");
    test::WriteFile(env.Work() + "target.txt", "target");
    fs::create_symlink(env.Work() + "target.txt", env.Work() + "link.txt");
    ASSERT_TRUE(MoveToTrash(env.Work() + "orphan.txt"));
    ASSERT_TRUE(MoveToTrash(env.Work() + "link.txt"));
    EXPECT_EQ(test::ReadFile(env.TrashFiles() + "orphan.txt"), "left without info");
    EXPECT_EQ(test::ReadFile(env.TrashFiles() + "orphan.2.txt"), "new");
    EXPECT_TRUE(fs::is_symlink(env.TrashFiles() + "link.txt"));
    EXPECT_EQ(test::ReadFile(env.Work() + "target.txt"), "target");
}

TEST_F(HomeTrash, WhatCannotBeTrashedStaysWhereItWas)
{
    EXPECT_FALSE(MoveToTrash(env.Work() + "missing.txt"));
    EXPECT_FALSE(MoveToTrash(""));
    // The trash itself, and a folder holding it, would have to move into themselves.
    test::WriteFile(env.TrashFiles() + "x.txt", "x");
    EXPECT_FALSE(MoveToTrash(env.TrashFiles() + "x.txt"));
    EXPECT_FALSE(MoveToTrash(WithoutTrailing(Root())));
    EXPECT_TRUE(fs::exists(env.TrashFiles() + "x.txt"));
    EXPECT_FALSE(fs::exists(Root() + "info/x.2.txt.trashinfo"));
}

// A file on another file system goes to the trash at that file system's top, never
// across file systems. Shared memory is a file system of its own on most machines.
TEST(TopTrash, AFileOnAnotherFileSystemStaysOnIt)
{
    test::TestEnv env;
    const std::string top = "/dev/shm/";
    struct stat shm = {}, data = {};
    if (::stat(top.c_str(), &shm) != 0 || ::stat(env.Work().c_str(), &data) != 0 ||
        shm.st_dev == data.st_dev || ::access(top.c_str(), W_OK) != 0)
        GTEST_SKIP() << "no writable second file system at " << top;
    const std::string trash = top + ".Trash-" + std::to_string(::geteuid());
    const bool trashExisted = fs::exists(trash);
    char tmpl[] = "/dev/shm/mvt-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::string folder = tmpl;
    test::WriteFile(folder + "/away.txt", "away");
    const bool moved = MoveToTrash(folder + "/away.txt");
    std::string infoText;
    std::error_code ec;
    for (const auto& f : fs::directory_iterator(trash + "/info", ec))
        if (test::ReadFile(f.path()).find(fs::path(folder).filename().string() + "/away.txt") !=
            std::string::npos)
            infoText = test::ReadFile(f.path());
    // Leave nothing behind on the shared file system.
    fs::remove_all(folder, ec);
    if (trashExisted) {
        for (const char* sub : {"/files/away.txt", "/info/away.txt.trashinfo"})
            fs::remove(trash + sub, ec);
    } else {
        fs::remove_all(trash, ec);
    }
    ASSERT_TRUE(moved);
    // Relative to the top folder, so the entry still names it when the disk is mounted elsewhere.
    EXPECT_NE(infoText.find("\nPath=" + fs::path(folder).filename().string() + "/away.txt\n"),
              std::string::npos)
        << infoText;
}

} // namespace
} // namespace morvane
