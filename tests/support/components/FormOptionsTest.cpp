#include "support/components/FormOptions.h"

#include "FakeTrayShell.h"
#include "common/TestSupport.h"
#include "platform/IniFile.h"
#include "support/LanguageFiles.h"
#include "support/TkitTrayIcon.h"

#include <QAction>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <unistd.h>

using namespace morvane;
namespace fs = std::filesystem;

namespace {

// A dialog with one of each kind of component the walks know, some of them placed where
// they must be skipped.
struct PropertiesDialog
{
    test::FakeTrayState trayState; // outlives the form, which deletes the tray icon
    QDialog form;
    QLabel* title;
    QLabel* empty;
    QGroupBox* group;
    QRadioButton* always;
    QPushButton* ok;
    QAction* hiddenAction;
    QAction* save;
    QAction* separator;
    QToolButton* saveButton;
    QTabWidget* pages;
    QWidget* general;
    QLabel* multiLine;
    QLabel* internal;
    TkitTrayIcon* tray;

    PropertiesDialog()
    {
        form.setObjectName("Form2");
        form.setWindowTitle("Properties");
        auto* layout = new QVBoxLayout(&form);
        title = Add<QLabel>(layout, "TitleLabel", "Title");
        empty = Add<QLabel>(layout, "EmptyLabel", "");
        group = Add<QGroupBox>(layout, "ModeGroup", "");
        group->setTitle("Mode");
        always = new QRadioButton("Make version for every saving", group);
        always->setObjectName("MakeAlwaysRadio");
        always->setToolTip("Always");
        auto* panel = new QWidget(&form); // unnamed container: what sits on it still counts
        layout->addWidget(panel);
        ok = new QPushButton("OK", panel);
        ok->setObjectName("OkButton");
        auto* menu = new QMenu(&form); // unnamed menu: it owns its items
        hiddenAction = new QAction("Hidden", menu);
        hiddenAction->setObjectName("HiddenAction");
        menu->addAction(hiddenAction);
        save = new QAction("Save", &form);
        save->setObjectName("SaveAction");
        save->setStatusTip("Save the item");
        separator = new QAction("-", &form);
        separator->setObjectName("Separator1");
        saveButton = Add<QToolButton>(layout, "SaveButton", "");
        saveButton->setDefaultAction(save);
        pages = Add<QTabWidget>(layout, "Pages", "");
        general = new QWidget;
        general->setObjectName("GeneralPage");
        pages->addTab(general, "General");
        multiLine = Add<QLabel>(layout, "MultiLine", "two\nlines");
        internal = Add<QLabel>(layout, "qt_internal_label", "Internal");
        tray = new TkitTrayIcon(&form, std::make_unique<test::FakeTrayShell>(&trayState));
        tray->setObjectName("kitTrayIcon1");
        tray->SetHint("Morvane Agent");
    }

    template <class W>
    W* Add(QVBoxLayout* layout, const char* name, const char* text)
    {
        auto* w = new W(&form);
        w->setObjectName(name);
        if constexpr (requires { w->setText(QString()); })
            w->setText(text);
        layout->addWidget(w);
        return w;
    }
};

class FormLanguageTest : public ::testing::Test
{
protected:
    test::TestEnv env;
    std::string file = LanguageFolder() + "German.ini";
    PropertiesDialog dialog;

    std::set<std::string> Keys(const std::string& section)
    {
        IniFile::ClearCache();
        IniFile ini(file);
        const auto keys = ini.ReadKeys(section);
        return {keys.begin(), keys.end()};
    }
    std::string Value(const std::string& section, const std::string& key)
    {
        IniFile::ClearCache();
        return IniFile(file).ReadString(section, key, "<none>");
    }
};

TEST_F(FormLanguageTest, SaveWritesNonEmptyTextsOfNamedComponents)
{
    test::WriteFile(file, "[Form2]\nEmptyLabel.Caption=Old text\n");
    SaveFormLanguage(file, &dialog.form);
    EXPECT_EQ(Keys("Form2"),
              (std::set<std::string>{"EmptyLabel.Caption", "Form2.Caption", "TitleLabel.Caption",
                                     "ModeGroup.Caption", "MakeAlwaysRadio.Caption", "MakeAlwaysRadio.Hint",
                                     "OkButton.Caption", "SaveAction.Caption", "SaveAction.Hint",
                                     "GeneralPage.Caption", "kitTrayIcon1.Hint"}));
    EXPECT_EQ(Value("Form2", "MakeAlwaysRadio.Caption"), "Make version for every saving");
    EXPECT_EQ(Value("Form2", "SaveAction.Hint"), "Save the item");
    EXPECT_EQ(Value("Form2", "GeneralPage.Caption"), "General");
    EXPECT_EQ(Value("Form2", "kitTrayIcon1.Hint"), "Morvane Agent");
    EXPECT_EQ(Value("Form2", "EmptyLabel.Caption"), "Old text"); // its text is empty now: key stays

    // One section named after the window, one "Name.Property=text" line per key.
    const std::string text = test::ReadFile(file);
    EXPECT_EQ(text.rfind("[Form2]\n", 0), 0u) << text;
    EXPECT_NE(text.find("\nForm2.Caption=Properties"), std::string::npos) << text;
    EXPECT_NE(text.find("\nOkButton.Caption=OK"), std::string::npos) << text;
}

TEST_F(FormLanguageTest, ApplySetsOnlyTextsWhoseKeysArePresent)
{
    ApplyFormLanguage(file, &dialog.form); // no file yet: nothing changes
    EXPECT_EQ(dialog.form.windowTitle(), "Properties");
    test::WriteFile(file, "[Form2]\n"
                          "Form2.Caption=Eigenschaften\n"
                          "MakeAlwaysRadio.Caption=Bei jedem Speichern\n"
                          "SaveAction.Hint=Speichern\n"
                          "GeneralPage.Caption=Allgemein\n"
                          "ModeGroup.Caption=Modus\n"
                          "kitTrayIcon1.Hint=Agent\n"
                          "HiddenAction.Caption=Sichtbar\n"
                          "qt_internal_label.Caption=Intern\n"
                          "NoSuchComponent.Caption=Nirgends\n"
                          "[Form3]\n"
                          "OkButton.Caption=Elsewhere\n");
    ApplyFormLanguage(file, &dialog.form);
    EXPECT_EQ(dialog.form.windowTitle(), "Eigenschaften");
    EXPECT_EQ(dialog.always->text(), "Bei jedem Speichern");
    EXPECT_EQ(dialog.always->toolTip(), "Always");
    EXPECT_EQ(dialog.save->statusTip(), "Speichern");
    EXPECT_EQ(dialog.save->toolTip(), "Speichern");
    EXPECT_EQ(dialog.pages->tabText(0), "Allgemein");
    EXPECT_EQ(dialog.group->title(), "Modus");
    EXPECT_EQ(dialog.tray->Hint(), "Agent");
    EXPECT_EQ(dialog.ok->text(), "OK");
    EXPECT_EQ(dialog.title->text(), "Title");
    EXPECT_EQ(dialog.hiddenAction->text(), "Hidden");
    EXPECT_EQ(dialog.internal->text(), "Internal");
}

TEST_F(FormLanguageTest, MainWindowKeepsItsOwnTexts)
{
    QWidget main;
    main.setObjectName("Form1");
    main.setWindowTitle("Morvane");
    main.setToolTip("main tip");
    auto* label = new QLabel("Items", &main);
    label->setObjectName("ItemsLabel");
    test::WriteFile(file, "[Form1]\nForm1.Caption=Other\nForm1.Hint=Other tip\nItemsLabel.Caption=Objekte\n");
    ApplyFormLanguage(file, &main);
    EXPECT_EQ(main.windowTitle(), "Morvane");
    EXPECT_EQ(main.toolTip(), "main tip");
    EXPECT_EQ(label->text(), "Objekte");

    fs::remove(file);
    SaveFormLanguage(file, &main);
    EXPECT_EQ(Keys("Form1"), std::set<std::string>{"ItemsLabel.Caption"});
}

TEST_F(FormLanguageTest, UnwritableFileGivesClearErrorAndKeepsFile)
{
    // A folder that is a file cannot hold the language file, even for the superuser.
    const std::string blocker = env.Work() + "blocker";
    test::WriteFile(blocker, "not a folder");
    const std::string blocked = blocker + "/German.ini";
    try {
        SaveFormLanguage(blocked, &dialog.form);
        FAIL() << "no error";
    } catch (const IniWriteError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + blocked);
    }
    EXPECT_EQ(test::ReadFile(blocker), "not a folder");
    EXPECT_THROW(SaveControlLayout(blocked, &dialog.form, false), IniWriteError);
}

TEST_F(FormLanguageTest, ReadOnlyFileOrFolderRefusesTheWrite)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind the superuser";
    const std::string original = "[Form2]\nOkButton.Caption=Gut\n";
    test::WriteFile(file, original);
    fs::permissions(file, fs::perms::owner_read);
    EXPECT_THROW(SaveFormLanguage(file, &dialog.form), IniWriteError);
    EXPECT_EQ(test::ReadFile(file), original);

    const std::string langs = env.Home() + "Langs";
    const std::string other = langs + "/Dutch.ini";
    fs::permissions(langs, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_THROW(SaveFormLanguage(other, &dialog.form), IniWriteError);
    fs::permissions(langs, fs::perms::owner_all);
    EXPECT_FALSE(fs::exists(other));

    ApplyFormLanguage(file, &dialog.form); // reading a read-only file still works
    EXPECT_EQ(dialog.ok->text(), "Gut");
}

// A control class of the programs with a layout value of its own.
class ButtonBar : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(int ButtonWidth READ ButtonWidth WRITE SetButtonWidth)
    Q_PROPERTY(bool ShowCaptions READ ShowCaptions WRITE SetShowCaptions)
    Q_PROPERTY(QString Title READ Title WRITE SetTitle)

public:
    using QWidget::QWidget;
    int ButtonWidth() const { return m_width; }
    void SetButtonWidth(int v) { m_width = v; }
    bool ShowCaptions() const { return m_captions; }
    void SetShowCaptions(bool v) { m_captions = v; }
    QString Title() const { return {}; }
    void SetTitle(const QString&) {}

private:
    int m_width = 23;
    bool m_captions = false;
};

class ControlLayoutTest : public ::testing::Test
{
protected:
    test::TestEnv env;
    std::string file = env.Home() + "mvparam.ini";
    QWidget form;
    QListWidget* list = new QListWidget(&form);
    ButtonBar* bar = new ButtonBar(&form);
    QAction* action = new QAction("Go", &form);

    void SetUp() override
    {
        form.setObjectName("Form1");
        list->setObjectName("FileList");
        bar->setObjectName("ToolBar1");
        action->setObjectName("GoAction");
        action->setCheckable(true);
        form.setGeometry(30, 40, 500, 300);
    }
    std::vector<std::string> Keys(const std::string& section)
    {
        IniFile::ClearCache();
        return IniFile(file).ReadKeys(section);
    }
};

TEST_F(ControlLayoutTest, SaveWritesWindowValuesButNotVisibleOfMainWindow)
{
    SaveControlLayout(file, &form, false);
    EXPECT_EQ(Keys("Form1"),
              (std::vector<std::string>{"Form1.Left", "Form1.Top", "Form1.Width", "Form1.Height",
                                        "Form1.Enabled", "Form1.WindowState"}));
    IniFile::ClearCache();
    IniFile ini(file);
    EXPECT_EQ(ini.ReadInteger("Form1", "Form1.Left", -1), 30);
    EXPECT_EQ(ini.ReadInteger("Form1", "Form1.Width", -1), 500);
    EXPECT_EQ(ini.ReadInteger("Form1", "Form1.WindowState", -1), 0);
}

TEST_F(ControlLayoutTest, RecursionAddsTheComponentsBelowInOneSection)
{
    SaveControlLayout(file, &form, true);
    const std::vector<std::string> keys = Keys("Form1");
    const std::set<std::string> set(keys.begin(), keys.end());
    EXPECT_TRUE(set.count("FileList.Height"));
    EXPECT_TRUE(set.count("ToolBar1.ButtonWidth"));
    EXPECT_TRUE(set.count("ToolBar1.ShowCaptions"));
    EXPECT_FALSE(set.count("ToolBar1.Title")); // text properties are no layout values
    EXPECT_TRUE(set.count("GoAction.Checked"));
    EXPECT_FALSE(set.count("Form1.Visible"));
    EXPECT_TRUE(set.count("FileList.Visible"));
    EXPECT_TRUE(Keys("FileList").empty());
}

TEST_F(ControlLayoutTest, RoundTripRestoresGeometryStateAndSwitches)
{
    form.setWindowState(Qt::WindowMaximized);
    bar->SetButtonWidth(40);
    bar->SetShowCaptions(true);
    action->setChecked(true);
    list->setEnabled(false);
    SaveControlLayout(file, &form, true);

    form.setWindowState(Qt::WindowNoState);
    form.move(1, 2);
    form.resize(100, 90);
    bar->SetButtonWidth(1);
    bar->SetShowCaptions(false);
    action->setChecked(false);
    list->setEnabled(true);
    LoadControlLayout(file, &form, true);

    EXPECT_EQ(form.geometry().topLeft(), QPoint(30, 40));
    EXPECT_EQ(form.size(), QSize(500, 300));
    EXPECT_TRUE(form.windowState() & Qt::WindowMaximized);
    EXPECT_EQ(bar->ButtonWidth(), 40);
    EXPECT_TRUE(bar->ShowCaptions());
    EXPECT_TRUE(action->isChecked());
    EXPECT_FALSE(list->isEnabled());
}

TEST_F(ControlLayoutTest, MissingFileOrValuesThatDoNotFitLeavePropertiesUnchanged)
{
    LoadControlLayout(file, &form, true);
    EXPECT_EQ(form.geometry(), QRect(30, 40, 500, 300));
    EXPECT_FALSE(fs::exists(file));
    test::WriteFile(file, "[Form1]\nForm1.Width=wide\nForm1.Height=-5\nForm1.WindowState=7\n"
                          "Form1.Left=0x10\nToolBar1.ButtonWidth=12\n");
    LoadControlLayout(file, &form, false);
    EXPECT_EQ(form.size(), QSize(500, 300));
    EXPECT_EQ(form.windowState(), Qt::WindowNoState);
    EXPECT_EQ(form.geometry().x(), 16);
    EXPECT_EQ(bar->ButtonWidth(), 23); // not reached without recursion
}

TEST_F(ControlLayoutTest, BoundsNoWindowCanHaveLeaveTheGeometryAsItWas)
{
    // Each side alone: the rectangle's sums with the other sides must not overflow.
    const struct
    {
        const char* line;
    } cases[] = {
        {"Form1.Left=2147483647"}, {"Form1.Left=-2147483648"}, {"Form1.Top=2147483647"},
        {"Form1.Top=-2147483648"}, {"Form1.Width=2147483647"}, {"Form1.Height=2147483647"},
        {"Form1.Width=16777216"},  {"Form1.Left=-16777216"},
    };
    for (const auto& c : cases) {
        form.setGeometry(30, 40, 500, 300);
        test::WriteFile(file, std::string("[Form1]\n") + c.line + "\n");
        IniFile::ClearCache();
        LoadControlLayout(file, &form, false);
        EXPECT_EQ(form.geometry(), QRect(30, 40, 500, 300)) << c.line;
    }
    test::WriteFile(file, "[Form1]\nForm1.Left=-20\nForm1.Width=1200\n");
    IniFile::ClearCache();
    LoadControlLayout(file, &form, false);
    EXPECT_EQ(form.geometry(), QRect(-20, 40, 1200, 300));
}

TEST_F(ControlLayoutTest, SectionComesFromThePassedControl)
{
    test::WriteFile(file, "[FileList]\nFileList.Height=77\n[Form1]\nFileList.Height=11\n");
    list->resize(50, 50);
    LoadControlLayout(file, list, false);
    EXPECT_EQ(list->height(), 77);
}

} // namespace

#include "FormOptionsTest.moc"
