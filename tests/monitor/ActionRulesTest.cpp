// Every action's enabled, visible and checked rule, driven through the main window.
#include "MonitorFixture.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <functional>

namespace morvane::test {

namespace {

struct Expect
{
    const char* Action;
    int Enabled; // -1: not looked at
    int Visible;
    int Checked;
};

class ActionRulesTest;

struct RulesCase
{
    const char* Name;
    std::function<void(ActionRulesTest&)> Setup;
    std::vector<Expect> Expects;
    bool FileSelected = false; // a monitored file's row: the file commands and Stop apply
};

const std::vector<Expect> kFileSelected = {
    {"aProperties", 1, -1, -1},     {"aDeleteFile", 1, -1, -1}, {"aMakeVersion", 1, -1, -1},
    {"aReassing", 1, -1, -1},       {"aFileOpen", 1, -1, -1},   {"aStartMonitoring", -1, 0, -1},
    {"aStopMonitoring", -1, 1, -1},
};

// The state with no row selected, on a folder node, every view as designed.
const std::vector<Expect> kBaseline = {
    {"aProperties", 0, -1, -1},
    {"aDeleteFile", 0, -1, -1},
    {"aMakeVersion", 0, -1, -1},
    {"aReassing", 0, -1, -1},
    {"aFileOpen", 0, -1, -1},
    {"aClearVersions", 0, -1, -1},
    {"aStartMonitoring", 0, 1, -1},
    {"aStopMonitoring", -1, 0, -1},
    {"aVerOpen", 0, -1, -1},
    {"aOpenLocation", 0, -1, -1},
    {"aVerDelete", 0, -1, -1},
    {"aAdd", 1, 1, -1},
    {"aOptions", 1, 1, -1},
    {"FileExit1", 1, 1, -1},
    {"aAbout", 1, 1, -1},
    {"aPellaryHelp", 1, 1, -1},
    {"aAddFolder", 1, 1, -1},
    {"aFolderProperties", 1, -1, -1},
    {"aDeleteFolder", 1, -1, -1},
    {"aReassignFolder", 1, -1, -1},
    {"aToolBarReport", -1, -1, 1},
    {"aToolBarList", -1, -1, 0},
    {"aToolBarIcon", -1, -1, 0},
    {"aVerReport", -1, -1, 1},
    {"aVerList", -1, -1, 0},
    {"aVerIcon", -1, -1, 0},
    {"aShowToolBar", 1, -1, 1},
    {"aToolBarCaptions", 1, -1, 1},
    {"aToolBarCaptionsList", 1, -1, 1},
};

class ActionRulesTest : public MonitorFixture, public ::testing::WithParamInterface<RulesCase>
{
public:
    using MonitorFixture::form;
    using MonitorFixture::SelectFile;
    std::string one, two, stopped, broken;

    void SetUp() override
    {
        one = StoreFile("one.txt", "2401001").Path.Get();
        two = StoreFile("two.txt", "2401002").Path.Get();
        TMonItemRecord r = StoreFile("stopped.txt", "2401003");
        r.Monitored = false;
        r.MonStatus = msDisabled;
        StoreItem(r);
        stopped = r.Path.Get();
        r = StoreFile("broken.txt", "2401004");
        r.Monitored = false;
        r.MonStatus = msBroken;
        StoreItem(r);
        broken = r.Path.Get();
        WriteVersion(BackupRoot(), "2401001", "001", "one.txt");
        WriteVersion(BackupRoot(), "2401002", "001", "two.txt");
        WriteVersion(BackupRoot(), "2401002", "002", "two.txt");
        OpenForm();
        SelectFile(one);
        form->FileList()->SetSelected(-1);
    }
    void Trigger(const char* name) { form->Action(name)->trigger(); }
};

} // namespace

TEST_P(ActionRulesTest, RulesFollowSelectionAndViews)
{
    const RulesCase& c = GetParam();
    c.Setup(*this);
    // The rules as a menu opening finds them, with nothing else asked in between.
    emit form->menuBar()->findChild<QMenu*>("File1")->aboutToShow();
    std::map<std::string, Expect> expects;
    for (const Expect& e : kBaseline)
        expects[e.Action] = e;
    std::vector<Expect> overrides = c.FileSelected ? kFileSelected : std::vector<Expect>{};
    overrides.insert(overrides.end(), c.Expects.begin(), c.Expects.end());
    for (const Expect& e : overrides) {
        Expect& merged = expects[e.Action];
        merged.Action = e.Action;
        for (auto [field, value] :
             {std::pair{&Expect::Enabled, e.Enabled}, std::pair{&Expect::Visible, e.Visible},
              std::pair{&Expect::Checked, e.Checked}})
            if (value >= 0)
                merged.*field = value;
    }
    for (const auto& [name, e] : expects) {
        QAction* action = form->Action(name.c_str());
        ASSERT_NE(action, nullptr) << name;
        if (e.Enabled >= 0) {
            EXPECT_EQ(action->isEnabled(), e.Enabled == 1) << name << " enabled";
        }
        if (e.Visible >= 0) {
            EXPECT_EQ(action->isVisible(), e.Visible == 1) << name << " visible";
        }
        if (e.Checked >= 0) {
            EXPECT_EQ(action->isChecked(), e.Checked == 1) << name << " checked";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    States, ActionRulesTest,
    ::testing::Values(
        RulesCase{"NothingSelected", [](ActionRulesTest&) {}, {}},
        RulesCase{"FileWithOneVersion", [](ActionRulesTest& t) { t.SelectFile(t.one); }, {}, true},
        RulesCase{"FileWithTwoVersions",
                  [](ActionRulesTest& t) { t.SelectFile(t.two); },
                  {{"aClearVersions", 1, -1, -1}},
                  true},
        RulesCase{"StoppedFile",
                  [](ActionRulesTest& t) { t.SelectFile(t.stopped); },
                  {{"aStartMonitoring", 1, 1, -1}, {"aStopMonitoring", -1, 0, -1}},
                  true},
        RulesCase{"BrokenFile",
                  [](ActionRulesTest& t) { t.SelectFile(t.broken); },
                  {{"aStartMonitoring", 0, 1, -1}, {"aStopMonitoring", -1, 0, -1}},
                  true},
        RulesCase{"VersionSelected",
                  [](ActionRulesTest& t) {
                      t.SelectFile(t.two);
                      t.form->VerList()->SetSelected(0);
                  },
                  {{"aClearVersions", 1, -1, -1},
                   {"aVerOpen", 1, -1, -1},
                   {"aOpenLocation", 1, -1, -1},
                   {"aVerDelete", 1, -1, -1}},
                  true},
        RulesCase{
            "NoFolderNode",
            [](ActionRulesTest& t) { t.form->FoldersTree()->setCurrentItem(nullptr); },
            {{"aFolderProperties", 0, -1, -1}, {"aDeleteFolder", 0, -1, -1}, {"aReassignFolder", 0, -1, -1}}},
        RulesCase{"FileListIcons",
                  [](ActionRulesTest& t) { t.Trigger("aToolBarIcon"); },
                  {{"aToolBarReport", -1, -1, 0}, {"aToolBarIcon", -1, -1, 1}}},
        RulesCase{"FileListList",
                  [](ActionRulesTest& t) {
                      t.Trigger("aToolBarIcon");
                      t.Trigger("aToolBarList");
                  },
                  {{"aToolBarReport", -1, -1, 0}, {"aToolBarList", -1, -1, 1}}},
        RulesCase{"VersionsIcons",
                  [](ActionRulesTest& t) { t.Trigger("aVerIcon"); },
                  {{"aVerReport", -1, -1, 0}, {"aVerIcon", -1, -1, 1}}},
        RulesCase{"VersionsListBackToReport",
                  [](ActionRulesTest& t) {
                      t.Trigger("aVerList");
                      t.Trigger("aVerReport");
                  },
                  {}},
        RulesCase{"CaptionsOff",
                  [](ActionRulesTest& t) { t.Trigger("aToolBarCaptions"); },
                  {{"aToolBarCaptions", -1, -1, 0}, {"aToolBarCaptionsList", 0, -1, -1}}},
        RulesCase{"CaptionsOffAndOn",
                  [](ActionRulesTest& t) {
                      t.Trigger("aToolBarCaptions");
                      t.Trigger("aToolBarCaptions");
                  },
                  {}},
        RulesCase{"CaptionsBelow",
                  [](ActionRulesTest& t) { t.Trigger("aToolBarCaptionsList"); },
                  {{"aToolBarCaptionsList", 1, -1, 0}}},
        RulesCase{"ToolBarHidden",
                  [](ActionRulesTest& t) { t.Trigger("aShowToolBar"); },
                  {{"aShowToolBar", -1, -1, 0}}}),
    [](const auto& info) { return std::string(info.param.Name); });

// Switching the file list's style never sends a start or stop, and the check boxes go
// with the icons style only.
TEST_F(MonitorFixture, FileListStylesKeepChecksAndSendNothing)
{
    StoreFile("a.txt", "2401001");
    OpenForm();
    agent.ClearReceived();
    for (const auto& [action, boxes] :
         {std::pair{"aToolBarIcon", false}, std::pair{"aToolBarList", true}, std::pair{"aToolBarIcon", false},
          std::pair{"aToolBarReport", true}}) {
        form->Action(action)->trigger();
        EXPECT_EQ(form->FileList()->Checkboxes(), boxes) << action;
    }
    EXPECT_TRUE(agent.NothingArrives());
}

} // namespace morvane::test
