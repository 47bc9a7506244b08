// The folder options dialog: which controls each state leaves usable, its input rules
// and the options it hands back.
#include "monitor/TForm8.h"

#include "DialogInput.h"
#include "common/RowNames.h"
#include "support/components/MessageBoxes.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace morvane::test {
namespace {

using monitor::TForm8;

class TForm8Test : public ::testing::Test
{
protected:
    TForm8Test() { MessageBoxes::Reset(); }
    ~TForm8Test() override { MessageBoxes::Reset(); }

    template <typename T = QWidget>
    T* Control(const char* name)
    {
        T* control = form.findChild<T*>(name);
        EXPECT_NE(control, nullptr) << name;
        return control;
    }
    QTreeWidget* Templates() { return Control<QTreeWidget>("lvTemplates"); }
    void AddMask(const QString& mask)
    {
        Control<QLineEdit>("eNewTemplate")->setText(mask);
        Control<QPushButton>("bAddNewTemplate")->click();
    }

    TForm8 form;
};

TEST_F(TForm8Test, TheCaptionFitsWithTheFoldersNameAndItsWords)
{
    TMonItemRecord record = EmptyItemRecord();
    QFont bold = form.font();
    bold.setBold(true);
    for (const std::string& path : {std::string("/data/docs/"), "/" + std::string(230, 'x') + "/docs/"}) {
        record.Path.Set(path);
        form.PrepareFrom(record);
        const QString caption = form.windowTitle();
        EXPECT_TRUE(caption.endsWith("/docs/ settings")) << caption.toStdString();
        EXPECT_GE(form.width(), QFontMetrics(bold).horizontalAdvance(caption)) << caption.toStdString();
    }
}

struct EnableCase
{
    bool Monitored;
    const char* Mode;
    bool Templates;  // gbTemplates and what it holds
    bool Attributes; // cbHidden, cbSystem
    bool Wait;
};

class TForm8Enabling : public TForm8Test, public ::testing::WithParamInterface<EnableCase>
{
};

TEST_P(TForm8Enabling, ControlsFollowMonitoredAndFilterMode)
{
    const EnableCase& c = GetParam();
    TMonItemRecord record = EmptyItemRecord();
    record.Path.Set("/data/docs/");
    record.Monitored = true;
    form.PrepareFrom(record);
    form.show();
    Control<QRadioButton>(c.Mode)->setChecked(true);
    Control<QCheckBox>("cbMonitored")->setChecked(c.Monitored);

    for (const char* name : {"gbTemplates", "eNewTemplate", "lvTemplates", "bAddNewTemplate", "bEditTemplate",
                             "bDeleteTemplate"})
        EXPECT_EQ(Control(name)->isEnabled(), c.Templates) << name;
    EXPECT_EQ(Control("cbHidden")->isEnabled(), c.Attributes);
    EXPECT_EQ(Control("cbSystem")->isEnabled(), c.Attributes);
    EXPECT_EQ(Control("eWait")->isEnabled(), c.Wait);
    EXPECT_EQ(Control("rWholeFolder")->isEnabled(), c.Monitored);
    // OK and Cancel always work.
    EXPECT_TRUE(Control("Button4")->isEnabled());
    EXPECT_TRUE(Control("Button5")->isEnabled());
    // The checked filter mode is drawn bold, the others regular.
    for (const char* name : {"rWholeFolder", "rTemplates", "rFilesOnly"})
        EXPECT_EQ(Control<QRadioButton>(name)->font().bold(), std::string(name) == c.Mode) << name;
}

INSTANTIATE_TEST_SUITE_P(Matrix, TForm8Enabling,
                         ::testing::Values(EnableCase{true, "rFilesOnly", false, false, true},
                                           EnableCase{true, "rWholeFolder", false, true, true},
                                           EnableCase{true, "rTemplates", true, true, true},
                                           EnableCase{false, "rTemplates", false, false, false},
                                           EnableCase{false, "rWholeFolder", false, false, false}),
                         test::RowNamesBy(&EnableCase::Mode, &EnableCase::Monitored));

TEST_F(TForm8Test, CheckingMonitoredAgainRestoresTheFilterModesEnabling)
{
    TMonItemRecord record = EmptyItemRecord();
    record.Monitored = true;
    record.UseTemplates = true;
    form.PrepareFrom(record);
    form.show();
    Control<QCheckBox>("cbMonitored")->setChecked(false);
    Control<QCheckBox>("cbMonitored")->setChecked(true);
    EXPECT_TRUE(Control("lvTemplates")->isEnabled());
    EXPECT_TRUE(Control("cbHidden")->isEnabled());
}

TEST_F(TForm8Test, NewFolderIsMonitoredWholeAndCannotBeUnchecked)
{
    form.PrepareNew("/data/docs");
    EXPECT_EQ(form.windowTitle().toStdString(), "/data/docs/ settings");
    EXPECT_TRUE(Control<QCheckBox>("cbMonitored")->isChecked());
    EXPECT_FALSE(Control("cbMonitored")->isEnabled());
    EXPECT_TRUE(Control<QRadioButton>("rWholeFolder")->isChecked());
    EXPECT_EQ(Control<QLineEdit>("eWait")->text().toStdString(), "3");
    EXPECT_EQ(Templates()->topLevelItemCount(), 0);
}

struct StoredCase
{
    const char* Templates;
    bool Whole, UseTemplates;
    int Wait;
    const char* CheckedRadio;
    int Rows;
    const char* WaitText;
};

class TForm8Stored : public TForm8Test, public ::testing::WithParamInterface<StoredCase>
{
};

TEST_P(TForm8Stored, ShowsAndStoresTheRecordsOptions)
{
    const StoredCase& c = GetParam();
    TMonItemRecord record = EmptyItemRecord();
    record.Path.Set("/data/docs/");
    record.Templates.Set(c.Templates);
    record.IsWholeFolder = c.Whole;
    record.UseTemplates = c.UseTemplates;
    record.FolderWait = c.Wait;
    record.FolderMonHidden = true;
    form.PrepareFrom(record);
    EXPECT_TRUE(Control<QRadioButton>(c.CheckedRadio)->isChecked());
    EXPECT_EQ(Templates()->topLevelItemCount(), c.Rows);
    EXPECT_EQ(Control<QLineEdit>("eWait")->text().toStdString(), c.WaitText);

    TMonItemRecord back = EmptyItemRecord();
    ASSERT_TRUE(form.ReadInto(back));
    EXPECT_EQ(back.Templates.Get(), c.Templates);
    EXPECT_EQ(back.IsWholeFolder, c.Whole && !c.UseTemplates);
    EXPECT_EQ(back.UseTemplates, c.UseTemplates);
    EXPECT_TRUE(back.FolderMonHidden);
    EXPECT_EQ(back.FolderWait, std::stoi(c.WaitText));
}

INSTANTIATE_TEST_SUITE_P(Records, TForm8Stored,
                         ::testing::Values(StoredCase{"", false, false, 3, "rFilesOnly", 0, "3"},
                                           StoredCase{"*.txt;*.odt;", false, true, 10, "rTemplates", 2, "10"},
                                           StoredCase{"", true, false, 0, "rWholeFolder", 0, "0"},
                                           // A wait no field can hold (a corrupt list) shows the default.
                                           StoredCase{"", true, false, 5000, "rWholeFolder", 0, "3"},
                                           StoredCase{"", true, false, -1, "rWholeFolder", 0, "3"}),
                         test::RowNamesBy(&StoredCase::CheckedRadio, &StoredCase::Templates));

TEST_F(TForm8Test, WaitFieldTakesThreeDigitsAndNeverEmpties)
{
    auto* wait = Control<QLineEdit>("eWait");
    wait->clear();
    EXPECT_EQ(wait->text().toStdString(), "0");
    wait->selectAll();
    TypeKeys(wait, "1x2345");
    EXPECT_EQ(wait->text().toStdString(), "123");
    Backspaces(wait, 3);
    EXPECT_EQ(wait->text().toStdString(), "0");
}

struct MaskCase
{
    QString Mask;
    bool Added;
};

class TForm8Masks : public TForm8Test, public ::testing::WithParamInterface<MaskCase>
{
};

TEST_P(TForm8Masks, MasksThatCannotBeStoredWholeAreRefusedWithAMessage)
{
    const MaskCase& c = GetParam();
    AddMask("*.txt");
    ASSERT_EQ(Templates()->topLevelItemCount(), 1);
    MessageBoxes::TakeShownTexts();
    AddMask(c.Mask);
    EXPECT_EQ(Templates()->topLevelItemCount(), c.Added ? 2 : 1);
    EXPECT_EQ(MessageBoxes::TakeShownTexts().size(), c.Added || c.Mask.isEmpty() ? 0u : 1u);
    std::string text;
    ASSERT_TRUE(form.TemplatesText(text));
    EXPECT_LE(text.size(), 255u);
}

INSTANTIATE_TEST_SUITE_P(Masks, TForm8Masks,
                         ::testing::Values(MaskCase{"report*.odt", true}, MaskCase{"", false},
                                           MaskCase{"a;b", false}, MaskCase{QString(248, 'x'), true},
                                           MaskCase{QString(249, 'x'), false}),
                         test::RowNamesBy(&MaskCase::Mask));

TEST_F(TForm8Test, AnEditedMaskHoldingTheSeparatorKeepsTheDialogOpen)
{
    AddMask("*.txt");
    Templates()->topLevelItem(0)->setText(0, "*.txt;*.doc");
    form.show();
    MessageBoxes::TakeShownTexts();
    Control<QPushButton>("Button4")->click();
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(MessageBoxes::TakeShownTexts().size(), 1u);
    Templates()->topLevelItem(0)->setText(0, "*.doc");
    Control<QPushButton>("Button4")->click();
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.result(), QDialog::Accepted);
}

TEST_F(TForm8Test, TypeColumnSaysUndefinedForNamesWithoutAType)
{
    AddMask("draft-*.qqzz");
    EXPECT_EQ(Templates()->topLevelItem(0)->text(1).toStdString(), "Undefined");
    AddMask("*.txt");
    // Removing with a row selected takes that row only.
    Templates()->setCurrentItem(Templates()->topLevelItem(0));
    Control<QPushButton>("bDeleteTemplate")->click();
    ASSERT_EQ(Templates()->topLevelItemCount(), 1);
    EXPECT_EQ(Templates()->topLevelItem(0)->text(0).toStdString(), "*.txt");
}

} // namespace
} // namespace morvane::test
