// The item properties dialog: what it shows of a record, what it stores and sends, and
// the options it refuses to store.
#include "monitor/TForm2.h"

#include "DialogInput.h"
#include "MonitorFixture.h"
#include "engine/TRKMonItem.h"
#include "engine/TRKMonItems.h"
#include "platform/OleDate.h"

#include <QCheckBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimeEdit>
#include <cstring>

namespace morvane::test {
namespace {

using monitor::TForm2;

class TForm2Test : public MonitorFixture
{
public:
    void SetUp() override
    {
        stored = StoreFile("report.txt", "240101123");
        path = stored.Path.Get();
        OpenForm();
        dialog = std::make_unique<TForm2>(&form->Items(), agent.Block());
        dialog->SetKey(path);
        agent.ClearReceived();
        MessageBoxes::TakeShownTexts();
    }

    // Replaces the monitor's copy of the item, then shows the dialog for it.
    void ShowWith(const std::function<void(TMonItemRecord&)>& change)
    {
        auto item = form->Items().FileByPath(path);
        item->UpdateData(change);
        dialog->show();
    }

    template <typename T = QWidget>
    T* Control(const char* name)
    {
        T* control = dialog->findChild<T*>(name);
        EXPECT_NE(control, nullptr) << name;
        return control;
    }
    QLineEdit* Edit(const char* name) { return Control<QLineEdit>(name); }

    TMonItemRecord Item() const { return form->Items().FileByPath(path)->Data(); }

    TMonItemRecord stored;
    std::string path;
    std::unique_ptr<TForm2> dialog;
};

TEST_F(TForm2Test, ShowsTheKeepAgeAsDaysAndTime)
{
    ShowWith([](TMonItemRecord& r) {
        r.DelMode = dmInterval;
        r.DelModeInterval = EncodeOleDate(1900, 1, 8, 6, 30);
        r.MonModeInterval = EncodeOleDate(1900, 1, 1, 0, 15);
    });
    EXPECT_EQ(Edit("DelIntervalDaysEdit")->text().toStdString(), "7");
    EXPECT_EQ(Control<QTimeEdit>("DelIntervalTime")->time(), QTime(6, 30));
    EXPECT_EQ(Control<QTimeEdit>("IntervalTime")->time(), QTime(0, 15));
    EXPECT_TRUE(Control<QRadioButton>("DelIntervalRadio")->isChecked());
    EXPECT_TRUE(Control<QRadioButton>("DelIntervalRadio")->font().bold());
    EXPECT_FALSE(Control<QRadioButton>("DelNumberRadio")->font().bold());
    EXPECT_EQ(Control<QTabWidget>("PageControl1")->currentWidget()->objectName().toStdString(),
              "MonitorPage");
}

TEST_F(TForm2Test, AnUnknownModeShowsNoRadioAndIsKeptOnSave)
{
    ShowWith([](TMonItemRecord& r) { r.MonMode = static_cast<TMonMode>(7); });
    for (const char* name : {"MakeAlwaysRadio", "MakeIntervalRadio", "MakeNumberRadio"})
        EXPECT_FALSE(Control<QRadioButton>(name)->isChecked()) << name;
    Control<QPushButton>("SaveButton")->click();
    ASSERT_TRUE(agent.WaitFor(MsgUpdate));
    EXPECT_EQ(agent.Block()->ItemRecord.MonMode, 7);
}

// One edit of the dialog and the fields it must leave in the record sent to the agent.
struct SaveCase
{
    const char* Name;
    std::function<void(TForm2Test&)> Edit;
    std::function<void(const TMonItemRecord&)> Expect;
    std::uint32_t WParam;
};

class TForm2Saves : public TForm2Test, public ::testing::WithParamInterface<SaveCase>
{
};

TEST_P(TForm2Saves, SendsTheWholeRecordThenStoresIt)
{
    const SaveCase& c = GetParam();
    ShowWith([](TMonItemRecord& r) {
        r.DelMode = dmNumber;
        r.DelModeNumber = 10;
        r.MonModeInterval = EncodeOleDate(1900, 1, 1, 0, 30);
    });
    c.Edit(*this);
    Control<QPushButton>("SaveButton")->click();
    const auto message = agent.WaitFor(MsgUpdate);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->WParam, c.WParam);
    EXPECT_FALSE(dialog->isVisible());
    const TMonItemRecord sent = agent.Block()->ItemRecord;
    c.Expect(sent);
    // The monitor's copy holds what was sent; path and FileID are untouched.
    const TMonItemRecord item = Item();
    EXPECT_EQ(std::memcmp(&sent, &item, sizeof sent), 0);
    EXPECT_EQ(sent.Path.Get(), path);
    EXPECT_EQ(sent.FileID.Get(), "240101123");
}

INSTANTIATE_TEST_SUITE_P(
    Edits, TForm2Saves,
    ::testing::Values(SaveCase{"HalfADayKeepAge",
                               [](TForm2Test& t) {
                                   t.Control<QRadioButton>("DelIntervalRadio")->setChecked(true);
                                   t.Edit("DelIntervalDaysEdit")->setText("0");
                                   t.Control<QTimeEdit>("DelIntervalTime")->setTime(QTime(12, 0));
                               },
                               [](const TMonItemRecord& r) {
                                   EXPECT_EQ(r.DelMode, dmInterval);
                                   EXPECT_EQ(r.DelModeInterval, 2.5);
                               },
                               0},
                      SaveCase{"EveryThirdSaveKeepTwoAsDefaults",
                               [](TForm2Test& t) {
                                   t.Control<QRadioButton>("MakeNumberRadio")->setChecked(true);
                                   t.Edit("MakingNumberEdit")->setText("3");
                                   t.Edit("DelNumberEdit")->setText("2");
                                   t.Control<QCheckBox>("MakeSizeCheck")->setChecked(true);
                                   t.Control<QCheckBox>("DefaultCheck")->setChecked(true);
                               },
                               [](const TMonItemRecord& r) {
                                   EXPECT_EQ(r.MonMode, mmNumber);
                                   EXPECT_EQ(r.MonModeNumber, 3);
                                   EXPECT_EQ(r.DelModeNumber, 2);
                                   EXPECT_TRUE(r.MonModeSize);
                                   EXPECT_FALSE(r.MonModeCompare);
                               },
                               1},
                      SaveCase{"IntervalKeepsItsDatePart",
                               [](TForm2Test& t) {
                                   t.Control<QRadioButton>("MakeIntervalRadio")->setChecked(true);
                                   t.Control<QTimeEdit>("IntervalTime")->setTime(QTime(1, 2, 3));
                               },
                               [](const TMonItemRecord& r) {
                                   EXPECT_EQ(r.MonMode, mmInterval);
                                   EXPECT_EQ(r.MonModeInterval, EncodeOleDate(1900, 1, 1, 1, 2, 3));
                               },
                               0},
                      SaveCase{"CustomProgram",
                               [](TForm2Test& t) {
                                   t.Control<QRadioButton>("ExecuterCustomCheck")->setChecked(true);
                                   t.Edit("ExecuterPathEdit")->setText("/usr/bin/gedit");
                                   t.Control<QRadioButton>("NameDateRadio")->setChecked(true);
                               },
                               [](const TMonItemRecord& r) {
                                   EXPECT_EQ(r.ExecuterMode, emCustom);
                                   EXPECT_EQ(r.Executer.Get(), "/usr/bin/gedit");
                                   EXPECT_EQ(r.NameMode, nmDateTime);
                               },
                               0}),
    [](const auto& info) { return std::string(info.param.Name); });

// Options that cannot be stored: the dialog says why, stays open, sends nothing and
// leaves the monitor's item as it was.
struct RefusedCase
{
    const char* Name;
    std::function<void(TForm2Test&)> Edit;
};

class TForm2Refuses : public TForm2Test, public ::testing::WithParamInterface<RefusedCase>
{
};

TEST_P(TForm2Refuses, SaysWhyAndStaysOpen)
{
    ShowWith([](TMonItemRecord&) {});
    const TMonItemRecord before = Item();
    GetParam().Edit(*this);
    Control<QPushButton>("SaveButton")->click();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(MessageBoxes::TakeShownTexts().size(), 1u);
    EXPECT_TRUE(agent.NothingArrives());
    const TMonItemRecord after = Item();
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Bad, TForm2Refuses,
    ::testing::Values(RefusedCase{"KeepNoVersion",
                                  [](TForm2Test& t) {
                                      t.Control<QRadioButton>("DelNumberRadio")->setChecked(true);
                                      t.Edit("DelNumberEdit")->setText("0");
                                  }},
                      RefusedCase{"KeepForNoTime",
                                  [](TForm2Test& t) {
                                      t.Control<QRadioButton>("DelIntervalRadio")->setChecked(true);
                                      t.Edit("DelIntervalDaysEdit")->setText("0");
                                      t.Control<QTimeEdit>("DelIntervalTime")->setTime(QTime(0, 0));
                                  }},
                      RefusedCase{"EmptyNumber",
                                  [](TForm2Test& t) {
                                      t.Edit("MakingNumberEdit")->clear();
                                  }},
                      RefusedCase{"OverlongProgram",
                                  [](TForm2Test& t) {
                                      t.Edit("ExecuterPathEdit")->setText(QString(300, 'p'));
                                  }}),
    [](const auto& info) { return std::string(info.param.Name); });

// Typed keys and what the field then holds.
struct InputCase
{
    const char* Field;
    const char* Keys;
    int Backspaces;
    const char* Expected;
};

class TForm2Input : public TForm2Test, public ::testing::WithParamInterface<InputCase>
{
};

TEST_P(TForm2Input, NumberFieldsTakeDigitsUpToTheirLimit)
{
    const InputCase& c = GetParam();
    ShowWith([](TMonItemRecord&) {});
    QLineEdit* edit = Edit(c.Field);
    edit->clear();
    TypeKeys(edit, c.Keys);
    Backspaces(edit, c.Backspaces);
    EXPECT_EQ(edit->text().toStdString(), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(Keys, TForm2Input,
                         ::testing::Values(InputCase{"DelNumberEdit", "1234", 0, "123"},
                                           InputCase{"DelNumberEdit", "1a2-", 0, "12"},
                                           InputCase{"DelNumberEdit", "123", 1, "12"},
                                           InputCase{"MakingNumberEdit", "99", 2, ""},
                                           InputCase{"DelIntervalDaysEdit", "45", 0, "30"},
                                           InputCase{"DelIntervalDaysEdit", "129", 0, "12"},
                                           InputCase{"DelIntervalDaysEdit", "7", 0, "7"}),
                         test::RowNamesBy(&InputCase::Field, &InputCase::Keys, &InputCase::Backspaces));

TEST_F(TForm2Test, AFileThatLeftTheListClosesTheDialog)
{
    dialog->SetKey(env.Work() + "gone.txt");
    dialog->show();
    EXPECT_TRUE(WaitUntil([&] { return !dialog->isVisible(); }));
    EXPECT_TRUE(agent.NothingArrives());
}

TEST(TForm2Dates, ConversionsOfTheIntervalFields)
{
    EXPECT_EQ(TForm2::IntervalDate(0, QTime(12, 0)), 2.5);
    EXPECT_EQ(TForm2::IntervalDate(30, QTime(23, 59, 59)), EncodeOleDate(1900, 1, 31, 23, 59, 59));
    EXPECT_EQ(TForm2::IntervalDays(EncodeOleDate(1900, 1, 8, 6, 30)), 7);
    EXPECT_EQ(TForm2::TimeOfDay(EncodeOleDate(1900, 1, 8, 6, 30)), QTime(6, 30));
    // Values no date can have read as zero.
    EXPECT_EQ(TForm2::IntervalDays(std::nan("")), 0);
    EXPECT_EQ(TForm2::TimeOfDay(-5e9), QTime(0, 0));
    EXPECT_EQ(TForm2::WithTimeOfDay(EncodeOleDate(2024, 5, 6, 7, 8, 9), QTime(1, 2, 3)),
              EncodeOleDate(2024, 5, 6, 1, 2, 3));
}

} // namespace
} // namespace morvane::test
