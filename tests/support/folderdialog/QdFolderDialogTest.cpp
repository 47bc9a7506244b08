// The folder-browse component: captions by language, the shortened status path, the
// new-folder rules and what a browse hands back.
#include "support/folderdialog/QdFolderDialog.h"

#include "common/TestSupport.h"
#include "platform/Paths.h"
#include "platform/XdgDirs.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QUrl>
#include <gtest/gtest.h>

namespace morvane::test {
namespace {

struct PickCase
{
    QStringList List;
    const char* Key;
    const char* Expected;
};

class PickLocalizedText : public ::testing::TestWithParam<PickCase>
{
};

TEST_P(PickLocalizedText, KeyThenDefaultThenFirst)
{
    const PickCase& c = GetParam();
    EXPECT_EQ(TQdFolderDialog::PickLocalizedText(c.List, c.Key), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, PickLocalizedText,
    ::testing::Values(PickCase{TQdFolderDialog::DefaultNewFolderCaptions(), "0415", "Nowy folder"},
                      PickCase{TQdFolderDialog::DefaultNewFolderCaptions(), "041D", "New folder"},
                      PickCase{TQdFolderDialog::DefaultLabelCaptions(), "0c07", "Ausgewählter Ordner:"},
                      PickCase{TQdFolderDialog::DefaultLabelCaptions(), "0415", "Bieżący folder"},
                      PickCase{{"0407=Ordner", "040C=Dossier"}, "0409", "Ordner"}, PickCase{{}, "0409", ""}),
    test::RowNamesBy(&PickCase::Key, &PickCase::Expected));

TEST(QdFolderDialogLists, DefaultListsHaveTheSameTwentyNineKeys)
{
    const QStringList labels = TQdFolderDialog::DefaultLabelCaptions();
    const QStringList folders = TQdFolderDialog::DefaultNewFolderCaptions();
    ASSERT_EQ(labels.size(), 29);
    ASSERT_EQ(folders.size(), 29);
    for (int i = 0; i < labels.size(); ++i)
        EXPECT_EQ(labels[i].section('=', 0, 0), folders[i].section('=', 0, 0));
    EXPECT_EQ(labels.first().toStdString(), "Default=Current folder:");
}

struct ShortenCase
{
    const char* Path;
    int Max;
    const char* Expected;
};

class ShortenPath : public ::testing::TestWithParam<ShortenCase>
{
};

TEST_P(ShortenPath, LeavesOutMiddleFolders)
{
    const ShortenCase& c = GetParam();
    EXPECT_EQ(TQdFolderDialog::ShortenPath(c.Path, c.Max), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, ShortenPath,
    ::testing::Values(ShortenCase{"/home/user/Documents/Projects/x", 50, "/home/user/Documents/Projects/x"},
                      ShortenCase{"/home/user/Documents and Settings/My Documents/Projects/Report", 50,
                                  "/.../My Documents/Projects/Report"},
                      // One level with a long name: its first characters.
                      ShortenCase{"/aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", 50,
                                  "/aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"},
                      // A network path keeps both of its leading separators.
                      ShortenCase{"//server/share/Documents and Settings/User/Projects/Report", 40,
                                  "//server/.../User/Projects/Report"},
                      ShortenCase{"/home/user/a-very-long-last-folder-name-that-is-longer-than-all", 30,
                                  "/.../a-very-long-last-folde..."},
                      ShortenCase{"/a/b/c", 4, "/a/b"},
                      // Counted and cut in characters, never inside one.
                      ShortenCase{"/äääääääääääääääääääääääääääääääääääääääääääääääääääääää", 50,
                                  "/äääääääääääääääääääääääääääääääääääääääääääääääää"},
                      ShortenCase{"/home/user/éééééééééééééééééééééééééééééééééééééééé", 30,
                                  "/.../éééééééééééééééééééééé..."}),
    test::RowNamesBy(&ShortenCase::Max));

class QdFolderDialogTest : public ::testing::Test
{
protected:
    QdFolderDialogTest() { TQdFolderDialog::Reset(); }
    ~QdFolderDialogTest() override { TQdFolderDialog::Reset(); }

    TestEnv env;
    TQdFolderDialog dialog;
};

struct NewFolderCase
{
    const char* Name;
    bool Made;
    bool Error;
    const char* Path = nullptr; // below base, when not the name itself
};

class QdFolderDialogNewFolder : public QdFolderDialogTest, public ::testing::WithParamInterface<NewFolderCase>
{
};

TEST_P(QdFolderDialogNewFolder, MakesOneFolderInTheSelectedOne)
{
    const NewFolderCase& c = GetParam();
    dialog.SelectionPath = env.Work() + "base";
    QDir().mkpath(QString::fromStdString(dialog.SelectionPath));
    std::string error;
    const auto made = dialog.CreateNewFolder(c.Name, &error);
    EXPECT_EQ(made.has_value(), c.Made);
    EXPECT_EQ(!error.empty(), c.Error) << error;
    if (made) {
        EXPECT_EQ(*made, env.Work() + "base/" + (c.Path ? c.Path : c.Name));
        EXPECT_TRUE(QDir(QString::fromStdString(*made)).exists());
        EXPECT_EQ(dialog.SelectionPath, *made);
    } else {
        EXPECT_EQ(dialog.SelectionPath, env.Work() + "base");
    }
    // Nothing ever lands outside the selected folder.
    EXPECT_EQ(QDir(QString::fromStdString(env.Work())).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{"base"});
}

INSTANTIATE_TEST_SUITE_P(
    Names, QdFolderDialogNewFolder,
    ::testing::Values(NewFolderCase{"drafts", true, false}, NewFolderCase{"", false, false},
                      NewFolderCase{"a/b", true, false}, NewFolderCase{"/c", true, false, "c"},
                      NewFolderCase{"a//b/", true, false, "a/b"}, NewFolderCase{"a/../b", false, true},
                      NewFolderCase{"/", false, true}, NewFolderCase{".", false, true},
                      NewFolderCase{"..", false, true}, NewFolderCase{"../x", false, true}),
    test::RowNamesBy(&NewFolderCase::Name));

TEST_F(QdFolderDialogTest, TheMonitorsSettingsShowNoNewFolderButton)
{
    dialog.SetTitles({"Default=Pick a folder"});
    dialog.Flags = OnlyFileSystem | NewDialogStyle | HideNewFolderButton | ShowPath;
    dialog.Folder = WithoutTrailingSep(env.Work());
    auto shown = dialog.CreateDialog(nullptr);
    EXPECT_EQ(shown->windowTitle().toStdString(), "Pick a folder");
    EXPECT_EQ(shown->labelText(QFileDialog::LookIn).toStdString(), dialog.LabelCaption());
    EXPECT_EQ(shown->findChild<QPushButton*>("NewFolderButton"), nullptr);
    if (auto* own = shown->findChild<QToolButton*>("newFolderButton")) {
        EXPECT_TRUE(own->isHidden());
    }
    auto* status = shown->findChild<QLabel*>("StatusText");
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->text().toStdString(), TQdFolderDialog::ShortenPath(dialog.Folder, 50));
    EXPECT_TRUE(dialog.SelectionHasPath());
}

TEST_F(QdFolderDialogTest, ClassicStyleHasItsOwnButtonCaptionedByLanguage)
{
    dialog.Flags = OnlyFileSystem | ShowPath;
    dialog.SetLanguageKey("0407");
    auto shown = dialog.CreateDialog(nullptr);
    auto* button = shown->findChild<QPushButton*>("NewFolderButton");
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text().toStdString(), "Neuer Ordner");
    // A changed list renames the live button at once.
    dialog.SetNewFolderCaptions({"Default=Make folder"});
    EXPECT_EQ(button->text().toStdString(), "Make folder");
}

TEST_F(QdFolderDialogTest, ABrowseSetsFolderAndSelectionPath)
{
    dialog.Folder = "/start";
    TQdFolderDialog::PushAnswer(std::nullopt);
    EXPECT_FALSE(dialog.Execute());
    EXPECT_EQ(dialog.Folder, "/start");

    TQdFolderDialog::PushAnswer(env.Work() + "docs/");
    ASSERT_TRUE(dialog.Execute());
    EXPECT_EQ(dialog.Folder, env.Work() + "docs");
    EXPECT_EQ(dialog.SelectionPath, env.Work() + "docs");
    EXPECT_EQ(dialog.SpecialFolder, -1);

    TQdFolderDialog::PushAnswer("/");
    ASSERT_TRUE(dialog.Execute());
    EXPECT_EQ(dialog.SelectionPath, "/");
}

TEST_F(QdFolderDialogTest, ReturnsTheLowestMatchingSpecialFolder)
{
    const std::string desktop = TQdFolderDialog::SpecialFolderPath(0);
    ASSERT_FALSE(desktop.empty());
    dialog.ReturnSpecialFolder = true;
    TQdFolderDialog::PushAnswer(desktop);
    ASSERT_TRUE(dialog.Execute());
    EXPECT_EQ(dialog.SpecialFolder, 0);
}

// What Open does with the selection or the typed name under each option.
struct OpenCase
{
    const char* Name;
    TBrowseInfoFlagSet Flags;
    const char* Selected; // below tree
    const char* Typed;    // into the name box ("" none)
    bool OkEnabled;
    int Finished;       // -1: stays open; else the dialog's result
    const char* Chosen; // below tree, when taken
    int ValidateFailures;
};

class OpenTest : public QdFolderDialogTest, public ::testing::WithParamInterface<OpenCase>
{
};

TEST_P(OpenTest, TakesWhatTheOptionsAllow)
{
    const OpenCase& c = GetParam();
    const std::string tree = env.Work() + "tree";
    QDir().mkpath(QString::fromStdString(tree + "/sub"));
    WriteFile(tree + "/f.txt", "f");
    dialog.Flags = c.Flags;
    dialog.Folder = tree;
    int failures = 0;
    dialog.OnValidateFailed = [&](TQdFolderDialog& sender, QFileDialog&) {
        EXPECT_EQ(&sender, &dialog);
        ++failures;
    };
    auto shown = dialog.CreateDialog(nullptr);
    emit shown->currentChanged(QString::fromStdString(tree + "/" + c.Selected));
    auto* box = shown->findChild<QDialogButtonBox*>();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->button(QDialogButtonBox::Open)->isEnabled(), c.OkEnabled);
    auto* edit = shown->findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(edit, nullptr);
    EXPECT_FALSE(edit->isHidden());
    edit->setText(c.Typed);
    int finished = -1;
    QObject::connect(shown.get(), &QDialog::finished, [&](int result) { finished = result; });
    static_cast<QDialog*>(shown.get())->accept();
    EXPECT_EQ(finished, c.Finished);
    EXPECT_EQ(failures, c.ValidateFailures);
    if (c.Finished == QDialog::Accepted) {
        EXPECT_EQ(dialog.SelectionPath, tree + "/" + c.Chosen);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OpenTest,
    ::testing::Values(
        OpenCase{"Folder", OnlyFileSystem, "sub", "", true, QDialog::Accepted, "sub", 0},
        OpenCase{"FileNotListed", OnlyFileSystem, "f.txt", "", false, -1, "", 0},
        OpenCase{"FileIncluded", OnlyFileSystem | Includefiles, "f.txt", "", true, QDialog::Accepted, "f.txt",
                 0},
        OpenCase{"FileButOnlyAncestors", Includefiles | OnlyAncestors, "f.txt", "", false, -1, "", 0},
        OpenCase{"TypedFolder", EditBox | Validate, "", "sub", true, QDialog::Accepted, "sub", 0},
        OpenCase{"TypedNothingValidated", EditBox | Validate, "", "nothing", true, QDialog::Rejected, "", 1}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(QdFolderDialogTest, RootFolderRootsTheTree)
{
    const std::string fonts = DataHome() + "fonts";
    QDir().mkpath(QString::fromStdString(fonts + "/inner"));
    dialog.RootFolder = TSHFolders::foFonts;
    dialog.Flags |= EditBox;
    ASSERT_EQ(dialog.Root(), fonts);
    dialog.Folder = WithoutTrailingSep(env.Work()); // outside: the tree starts at its root
    auto shown = dialog.CreateDialog(nullptr);
    EXPECT_EQ(shown->directory().absolutePath().toStdString(), fonts);
    EXPECT_EQ(shown->sidebarUrls(), QList<QUrl>{QUrl::fromLocalFile(QString::fromStdString(fonts))});
    // Going above it leads back to it.
    emit shown->directoryEntered(QString::fromStdString(env.Work()));
    EXPECT_EQ(shown->directory().absolutePath().toStdString(), fonts);
    // A typed path outside it is not taken; one inside is.
    int finished = -1;
    QObject::connect(shown.get(), &QDialog::finished, [&](int result) { finished = result; });
    auto* edit = shown->findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(edit, nullptr);
    edit->setText(QString::fromStdString(env.Work()));
    static_cast<QDialog*>(shown.get())->accept();
    EXPECT_EQ(finished, -1);
    edit->setText("inner");
    static_cast<QDialog*>(shown.get())->accept();
    EXPECT_EQ(finished, QDialog::Accepted);
    EXPECT_EQ(dialog.SelectionPath, fonts + "/inner");

    // A root this system has no folder for leaves the tree whole.
    dialog.RootFolder = TSHFolders::foPrinters;
    EXPECT_EQ(dialog.Root(), "");
}

TEST_F(QdFolderDialogTest, HintAndSharesOnlyWhenAsked)
{
    const QByteArray oldRuntime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(WithoutTrailingSep(env.Runtime())));
    QDir().mkpath(QString::fromStdString(env.Runtime() + "gvfs"));
    const QUrl shares = QUrl::fromLocalFile(QString::fromStdString(env.Runtime() + "gvfs"));
    struct Row
    {
        TBrowseInfoFlagSet Flags;
        bool Hint;
        bool Shares;
    };
    for (const Row& row : {Row{UsageHint | ShowShared, true, true}, Row{UsageHint | EditBox, false, false},
                           Row{ShowPath, false, false}}) {
        dialog.Flags = row.Flags;
        auto shown = dialog.CreateDialog(nullptr);
        EXPECT_EQ(shown->findChild<QLabel*>("UsageHint") != nullptr, row.Hint) << row.Flags;
        EXPECT_EQ(shown->sidebarUrls().contains(shares), row.Shares) << row.Flags;
    }
    if (oldRuntime.isNull())
        qunsetenv("XDG_RUNTIME_DIR");
    else
        qputenv("XDG_RUNTIME_DIR", oldRuntime);
}

} // namespace
} // namespace morvane::test
