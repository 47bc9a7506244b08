// Help, language saving and the backup folder dialog of the main window.
#include "engine/TRKMonItems.h"
#include "monitor/ColumnCaptions.h"
#include "monitor/HelpPages.h"
#include "monitor/MonitorLanguage.h"
#include "monitor/TAboutBox.h"
#include "monitor/TForm1.h"
#include "monitor/TForm2.h"
#include "monitor/TForm3.h"
#include "monitor/TForm5.h"
#include "monitor/TForm8.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "support/LanguageFiles.h"
#include "support/components/FormOptions.h"
#include "support/components/MessageBoxes.h"
#include "support/components/ModalDialogs.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QStatusBar>

namespace morvane::monitor {

void TForm1::aPellaryHelpExecute()
{
    const std::string page = m_helpPage ? m_helpPage() : HelpPagePath();
    if (page.empty()) {
        MessageBoxes::Show(BoxKind::Warning,
                           Message(MonitorText::HelpMissing, {ProgramHelpFolder(), InstalledHelpFolder()}),
                           BoxButtons::Ok, BoxAnswer::Ok, this);
        return;
    }
    Open({"", page, FolderPart(page)});
}

std::string TForm1::LanguageFileForSaving() const
{
    const std::string language = m_block ? m_block->Settings.Language.Get() : std::string();
    return LanguageFilePath(language.empty() ? ChooseLanguage(m_items->Home()) : language);
}

void TForm1::Savelanguage1Click()
{
    const std::string file = LanguageFileForSaving();
    if (file.empty()) {
        MessageBoxes::Show(BoxKind::Warning, "The language has no file name, so nothing was saved.",
                           BoxButtons::Ok, BoxAnswer::Ok, this);
        return;
    }
    try {
        SaveFormLanguage(file, this);
        {
            IniFile ini(file);
            SaveColumnCaptions(*m_fileList, ini);
            SaveColumnCaptions(*m_verList, ini);
            ini.Flush();
        }
        // Every dialog of the window, the backup folder one too (made now if need be).
        for (QObject* dialog :
             std::initializer_list<QObject*>{m_form2, m_form3, Form5(), m_aboutBox, m_form8})
            SaveFormLanguage(file, dialog);
        m_statusBar->showMessage(tr("Language saved to %1").arg(QString::fromStdString(file)), 5000);
    } catch (const std::exception& e) {
        MessageBoxes::Show(BoxKind::Error, e.what(), BoxButtons::Ok, BoxAnswer::Ok, this);
    }
}

TForm5* TForm1::Form5()
{
    // Localised by itself from the agent's language when it is made.
    if (!m_form5)
        m_form5 = new TForm5(m_block, *m_items, this);
    return m_form5;
}

void TForm1::BackupFolderDialog()
{
    TForm5* form = Form5();
    // The folder the options dialog shows is the one in use until a move changes it.
    auto* label = m_form3->findChild<QLabel*>("BackuppathLabel");
    // Until the options dialog was filled its label holds no folder: then the block's.
    const std::string shown = label ? label->text().toStdString() : std::string();
    if (!shown.empty() && shown.front() == kPathSep)
        form->SetBackupPath(shown);
    else if (m_block && !m_block->Settings.BackupPath.Get().empty())
        form->SetBackupPath(m_block->Settings.BackupPath.Get());
    const bool moved = ModalDialogs::Exec(*form) == QDialog::Accepted;
    if (moved && label)
        label->setText(QString::fromStdString(form->BackupPath()));
    if (moved && m_block) {
        // The lists count versions in the block's folder: the agent names the new one on
        // its reload; until it has, the monitor's copy does, so nothing shows stale.
        QDeadlineTimer deadline(2000);
        while (m_block->Settings.BackupPath.Get() != form->BackupPath() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (m_block->Settings.BackupPath.Get() != form->BackupPath())
            m_block->Settings.BackupPath.Set(form->BackupPath());
        // Said where the user looks: the options dialog when the move came from it.
        m_statusBar->showMessage(QString::fromStdString(form->LastResult().Text), 10000);
        m_form3->ShowMoveOutcome(form->LastResult().Text);
    }
    // Whatever the move did, the lists show every version where it is now.
    const int row = m_fileList->Selected();
    FoldersTreeChange(m_tree->currentItem());
    if (row >= 0 && row < m_fileList->RowCount()) {
        m_fileList->SetSelected(row);
        VersionsClick();
    }
}

} // namespace morvane::monitor
