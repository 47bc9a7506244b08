// A folder name typed into the browse dialog is the one name it is, quotes and all.
#include "common/TestSupport.h"
#include "platform/Paths.h"
#include "support/components/MessageBoxes.h"
#include "support/components/ModalDialogs.h"
#include "support/folderdialog/QdFolderDialog.h"

#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <gtest/gtest.h>

namespace morvane::test {
namespace {

struct TypedCase
{
    const char* Name;
    const char* Typed;  // "@" stands for the start folder's path
    const char* Chosen; // below the start folder; nullptr: nothing chosen
    bool Told;          // the user is told the folder does not exist
};

class TypedFolder : public ::testing::TestWithParam<TypedCase>
{
protected:
    TypedFolder()
    {
        ModalDialogs::Reset();
        MessageBoxes::Reset();
    }
    ~TypedFolder() override
    {
        ModalDialogs::Reset();
        MessageBoxes::Reset();
    }
    TestEnv env;
};

TEST_P(TypedFolder, IsTakenWholeOrSaidMissing)
{
    const TypedCase& c = GetParam();
    const std::string start = env.Work() + "start";
    for (const char* folder : {"say \"hi\"", "\"quoted\"", "b", "plain"})
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(start + "/" + folder)));
    TQdFolderDialog browse;
    browse.Folder = start;
    std::string typed = c.Typed;
    if (typed.front() == '@')
        typed = start + typed.substr(1);
    ModalDialogs::PushHandler([&](QDialog& shown) {
        auto& dialog = static_cast<QFileDialog&>(shown);
        EXPECT_EQ(dialog.directory().absolutePath().toStdString(), start);
        auto* edit = dialog.findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(edit, nullptr);
        // Typed as a user types: into the focused field, while the folder's names load.
        dialog.activateWindow();
        edit->setFocus();
        ASSERT_TRUE(WaitUntil([&] { return edit->hasFocus(); }, std::chrono::seconds(5)));
        edit->setText(QString::fromStdString(typed));
        WaitUntil([] { return false; }, std::chrono::milliseconds(300));
        shown.accept();
    });
    const bool chosen = browse.Execute();
    EXPECT_EQ(chosen, c.Chosen != nullptr);
    EXPECT_EQ(browse.Folder, c.Chosen ? start + "/" + c.Chosen : start);
    const auto told = MessageBoxes::TakeShownTexts();
    EXPECT_EQ(told.size(), c.Told ? 1u : 0u);
    if (c.Told && !told.empty()) {
        EXPECT_NE(told[0].find(typed.front() == '/' ? typed : start + "/" + typed), std::string::npos)
            << told[0];
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TypedFolder,
    ::testing::Values(TypedCase{"QuotesInside", "say \"hi\"", "say \"hi\"", false},
                      TypedCase{"QuotesAround", "\"quoted\"", "\"quoted\"", false},
                      TypedCase{"WholePathWithQuotes", "@/say \"hi\"", "say \"hi\"", false},
                      // Only "b" exists: the quoted part is not taken for the name.
                      TypedCase{"MissingIsSaidNotReadAsAnother", "a \"b\" c", nullptr, true},
                      TypedCase{"PlainName", "plain", "plain", false}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
} // namespace morvane::test
