// The versions list of the selected file: order, opening, location and deleting.
#include "MonitorFixture.h"
#include "engine/TRKMonItem.h"
#include "engine/TRKMonItems.h"
#include "monitor/VersionLine.h"

#include <QAction>
#include <filesystem>

namespace morvane::test {
namespace {

struct LineCase
{
    const char* Name;
    const char* Line;
    const char* Prefix;
    const char* Label;
    const char* Program;
    const char* Path; // nullptr: the line is refused
};

class VersionLineTest : public ::testing::TestWithParam<LineCase>
{
};

TEST_P(VersionLineTest, SplitsLabelProgramAndPath)
{
    const LineCase& c = GetParam();
    const auto parsed = monitor::ParseVersionLine(c.Line, c.Prefix);
    if (!c.Path) {
        EXPECT_FALSE(parsed.has_value());
        return;
    }
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->Label, c.Label);
    EXPECT_EQ(parsed->Program, c.Program);
    EXPECT_EQ(parsed->Path, c.Path);
    EXPECT_EQ(parsed->Folder, FolderPart(c.Path));
}

INSTANTIATE_TEST_SUITE_P(
    Lines, VersionLineTest,
    ::testing::Values(LineCase{"Plain", "a.txt=\"/b/id/001/a.txt\"", "", "a.txt", "", "/b/id/001/a.txt"},
                      LineCase{"NoLabel", "=\"/b/id/001/a.txt\"", "", "", "", "/b/id/001/a.txt"},
                      LineCase{"EqualsInName", "x=y.txt=\"/b/id/001/x=y.txt\"", "", "x", "", nullptr},
                      LineCase{"QuoteInName", "q\".txt=\"/b/id/001/q\".txt\"", "", "q\".txt", "",
                               "/b/id/001/q\".txt"},
                      LineCase{"Program", "a=/usr/bin/ed \"/b/id/001/a\"", "/usr/bin/ed ", "a",
                               "/usr/bin/ed ", "/b/id/001/a"},
                      LineCase{"ProgramWithQuote", "a=/opt/my\"ed \"/b/id/001/a\"", "/opt/my\"ed ", "a",
                               "/opt/my\"ed ", "/b/id/001/a"},
                      LineCase{"NoQuote", "a=/b/id/001/a", "", "", "", nullptr},
                      LineCase{"NotAbsolute", "a=\"b/001/a\"", "", "", "", nullptr},
                      LineCase{"NoEquals", "just text", "", "", "", nullptr}),
    [](const auto& info) { return std::string(info.param.Name); });

class VersionsListTest : public MonitorFixture
{
protected:
    void SetUp() override
    {
        record = StoreFile("doc.txt", "240104001");
        path = record.Path.Get();
    }

    std::string Version(const char* folder, const std::string& name = "doc.txt")
    {
        return WriteVersion(BackupRoot(), "240104001", folder, name);
    }

    TMonItemRecord record;
    std::string path;
};

TEST_F(VersionsListTest, NewestVersionComesFirst)
{
    Version("001");
    Version("002");
    Version("1000");
    Version("999");
    OpenForm();
    SelectFile(path);
    ASSERT_EQ(form->VerList()->RowCount(), 4);
    EXPECT_EQ(form->VerList()->SubItem(0, 0).toStdString(), "1000");
    EXPECT_EQ(form->VerList()->SubItem(1, 0).toStdString(), "999");
    EXPECT_EQ(form->VerList()->SubItem(3, 0).toStdString(), "001");
    EXPECT_EQ(form->VerList()->Caption(0).toStdString(), "doc.txt");
    EXPECT_EQ(form->VerList()->SubItem(0, 2).toStdString(), BackupRoot() + "240104001/1000/");
    EXPECT_FALSE(form->VerList()->SubItem(0, 1).isEmpty());
}

TEST_F(VersionsListTest, AFileWithoutVersionsShowsAnEmptyList)
{
    OpenForm();
    SelectFile(path);
    EXPECT_EQ(form->VerList()->RowCount(), 0);
    Trigger("aVerReport"); // nothing to fill, no harm
    EXPECT_EQ(form->VerList()->RowCount(), 0);
}

TEST_F(VersionsListTest, OpenWithTheDesktopOrTheItemsProgram)
{
    const std::string v2 = Version("002");
    Version("001");
    OpenForm();
    SelectFile(path);
    form->VerList()->SetSelected(0);
    form->Action("aVerOpen")->trigger();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].Program, "");
    EXPECT_EQ(opened[0].Document, v2);
    EXPECT_EQ(opened[0].Folder, FolderPart(v2));

    form->Items().GetFile(0)->UpdateData([](TMonItemRecord& r) {
        r.ExecuterMode = emCustom;
        r.Executer.Set("/usr/bin/my editor");
    });
    form->VersionsClick();
    form->VerList()->SetSelected(0);
    Trigger("aVerOpen");
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[1].Program, "/usr/bin/my editor ");
    EXPECT_EQ(opened[1].Document, v2);
    EXPECT_EQ(opened[1].Folder, FolderPart(v2));
}

TEST_F(VersionsListTest, OddFileNamesOpenWhole)
{
    const std::string odd = Version("001", "a=b \"c\".txt");
    record = StoreFile("a=b \"c\".txt", "240104001");
    OpenForm();
    SelectFile(record.Path.Get());
    ASSERT_EQ(form->VerList()->RowCount(), 1);
    EXPECT_EQ(form->VerList()->Caption(0).toStdString(), "a=b \"c\".txt");
    form->VerList()->SetSelected(0);
    Trigger("aVerOpen");
    Trigger("aOpenLocation");
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0].Document, odd);
    EXPECT_EQ(opened[1].Document, FolderPart(odd));
    EXPECT_EQ(opened[1].Program, "");
}

TEST_F(VersionsListTest, DeleteMovesTheVersionToTheTrashAndDropsAnEmptyFolder)
{
    Version("001");
    const std::string v2 = Version("002");
    const std::string kept = WriteVersion(BackupRoot(), "240104001", "002", "extra.txt");
    OpenForm();
    SelectFile(path);
    ASSERT_EQ(form->VerList()->RowCount(), 3);

    // Row 0 is the newest line; find the row of doc.txt in 002.
    int row = -1;
    for (int r = 0; r < form->VerList()->RowCount(); ++r)
        if (form->VerList()->SubItem(r, 0) == "002" && form->VerList()->Caption(r) == "doc.txt")
            row = r;
    ASSERT_GE(row, 0);
    form->VerList()->SetSelected(row);
    form->Action("aVerDelete")->trigger();
    EXPECT_FALSE(FileExists(v2));
    EXPECT_TRUE(FileExists(kept));
    EXPECT_TRUE(DirectoryExists(FolderPart(kept)));
    EXPECT_EQ(form->VerList()->RowCount(), 2);
    // Kept within reach in the desktop trash.
    EXPECT_TRUE(FileExists(env.Home() + "xdg/Trash/files/doc.txt"));

    form->VerList()->SetSelected(0);
    for (int r = 0; r < form->VerList()->RowCount(); ++r)
        if (form->VerList()->SubItem(r, 0) == "001")
            form->VerList()->SetSelected(r);
    Trigger("aVerDelete");
    EXPECT_FALSE(DirectoryExists(BackupRoot() + "240104001/001/"));
    // The item's record is left alone: the next version still takes the next number.
    EXPECT_EQ(form->Items().GetFile(0)->Data().VersionNum, record.VersionNum);
}

TEST_F(VersionsListTest, CommandsWithoutASelectedVersionDoNothing)
{
    Version("001");
    OpenForm();
    SelectFile(path);
    form->VerList()->SetSelected(-1);
    Trigger("aVerOpen");
    Trigger("aOpenLocation");
    Trigger("aVerDelete");
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(form->VerList()->RowCount(), 1);
}

TEST_F(VersionsListTest, ADeletedBackupFolderShowsNoVersionsAndNoError)
{
    Version("001");
    OpenForm();
    SelectFile(path);
    ASSERT_EQ(form->VerList()->RowCount(), 1);
    std::filesystem::remove_all(BackupRoot());
    form->VerList()->SetSelected(0);
    Trigger("aVerDelete");
    EXPECT_EQ(form->VerList()->RowCount(), 0);
    EXPECT_EQ(Column(form->RowOfPath(path), 3).substr(0, 2), "0/") << "the count follows the disk";
    form->VersionsClick();
    EXPECT_EQ(form->VerList()->RowCount(), 0);
    EXPECT_TRUE(MessageBoxes::TakeShownTexts().empty());
}

TEST_F(VersionsListTest, OtherStylesShowTheLabels)
{
    Version("001");
    agent.Block()->Settings.ShowDate = false;
    agent.Block()->Settings.ShowFileName = true;
    OpenForm();
    SelectFile(path);
    form->Action("aVerList")->trigger();
    EXPECT_EQ(form->VerList()->ViewStyle(), monitor::ListView::vsList);
    EXPECT_EQ(form->VerList()->Caption(0).toStdString(), "doc.txt");
    EXPECT_TRUE(form->Action("aVerList")->isChecked());
    form->Action("aVerIcon")->trigger();
    EXPECT_EQ(form->VerList()->ViewStyle(), monitor::ListView::vsIcon);
    form->Action("aVerReport")->trigger();
    EXPECT_EQ(form->VerList()->SubItem(0, 0).toStdString(), "001");
}

} // namespace
} // namespace morvane::test
