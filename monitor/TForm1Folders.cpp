// The folder commands of the folders tree and the dialogs of the main window.
#include "engine/ItemRecordIO.h"
#include "engine/TRKMonFolder.h"
#include "engine/TRKMonItem.h"
#include "engine/TRKMonItems.h"
#include "monitor/ListView.h"
#include "monitor/TAboutBox.h"
#include "monitor/TForm1.h"
#include "monitor/TForm2.h"
#include "monitor/TForm3.h"
#include "monitor/TForm5.h"
#include "monitor/TForm8.h"
#include "platform/Paths.h"
#include "platform/ShortText.h"
#include "support/PellaryDefs.h"
#include "support/components/MessageBoxes.h"
#include "support/components/ModalDialogs.h"
#include "support/folderdialog/QdFolderDialog.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QTreeWidget>

namespace morvane::monitor {

namespace {

// Whether two folder records filter the folder alike.
bool SameFolderOptions(const TMonItemRecord& a, const TMonItemRecord& b)
{
    return bool(a.IsWholeFolder) == bool(b.IsWholeFolder) && bool(a.UseTemplates) == bool(b.UseTemplates) &&
           bool(a.FolderMonHidden) == bool(b.FolderMonHidden) &&
           bool(a.FolderMonSystem) == bool(b.FolderMonSystem) && a.FolderWait == b.FolderWait &&
           a.Templates.Get() == b.Templates.Get();
}

// The folder the browse dialog chose, as an item's folder path.
std::string ChosenFolder(const TQdFolderDialog& dialog)
{
    return WithTrailingSep(dialog.SelectionPath);
}

} // namespace

void TForm1::CreateDialogs()
{
    m_form2 = new TForm2(m_items.get(), m_block, this);
    connect(m_form2, &TForm2::Saved, this,
            [this](const QString& path) { InitFileListItem(m_items->FileByPath(path.toStdString())); });
    m_form3 = new TForm3(m_block, m_items->Home(), this);
    m_form3->SetBackupFolderDialog([this] { BackupFolderDialog(); });
    m_form3->SetAgentLink(&m_link);
    m_form3->SetOnLanguageChanged([this](const std::string& languageFile) { LanguageChanged(languageFile); });
    m_aboutBox = new TAboutBox(this);
    m_form8 = new TForm8(this);
    m_folderDialog1 = new TQdFolderDialog(this);
    m_folderDialog1->setObjectName("FolderDialog1");
    m_folderDialog1->Flags = OnlyFileSystem | NewDialogStyle | HideNewFolderButton;
    m_folderDialog1->RootFolder = TSHFolders::foMyComputer;
    // The first browse starts where the user's folders are; later ones where the last ended.
    m_folderDialog1->Folder = QDir::homePath().toStdString();
}

void TForm1::aAddFolderExecute()
{
    if (!m_folderDialog1->Execute())
        return;
    const std::string path = ChosenFolder(*m_folderDialog1);
    if (!FitsShortText(path)) {
        MessageBoxes::Show(BoxKind::Error, Message(MonitorText::PathTooLong, {path}), BoxButtons::Ok,
                           BoxAnswer::Ok, this);
        return;
    }
    if (m_items->FolderByPath(path)) {
        AddListedFolder(path);
        return;
    }
    m_form8->PrepareNew(m_folderDialog1->SelectionPath);
    if (ModalDialogs::Exec(*m_form8) != QDialog::Accepted)
        return;

    TMonItemRecord record = EmptyItemRecord();
    SetRecordPath(record, path);
    record.IsFolder = true;
    ReadItemRecord(record, m_items->ListFile(), m_items->BackupRoot());
    if (!m_form8->ReadInto(record))
        return;
    record.Monitored = true;
    record.IsFolder = true;
    record.FileID.Set(NewFileId(m_items->BackupRoot(), m_items->ListFile()));
    if (!EnsureAgent())
        return;
    // The folder enters the tree with the agent's answer: a folder the agent refuses
    // never shows as monitored.
    SendFailed(m_link.RequestAdd(record));
}

void TForm1::aFolderPropertiesExecute()
{
    QTreeWidgetItem* node = m_tree->currentItem();
    if (!node)
        return;
    const std::string path = NodePath(node);
    const auto folder = m_items->FolderByPath(path);
    if (!folder) {
        MessageBoxes::Show(BoxKind::Information, Message(MonitorText::FolderDescriptionNotFound),
                           BoxButtons::Ok, BoxAnswer::Ok, this);
        return;
    }
    m_form8->PrepareFrom(folder->Data());
    if (ModalDialogs::Exec(*m_form8) != QDialog::Accepted)
        return;
    // The agent's answers may have taken the folder away while the dialog was open.
    const int index = m_items->FindFolder(path);
    if (index < 0) {
        MessageBoxes::Show(BoxKind::Information, Message(MonitorText::FolderDescriptionNotFound),
                           BoxButtons::Ok, BoxAnswer::Ok, this);
        return;
    }
    TMonItemRecord record = folder->Data();
    if (!m_form8->ReadInto(record) || !EnsureAgent())
        return;
    // The copy takes the options with the agent's answer: options the agent refuses, or
    // never gets, never show as the folder's.
    const bool sent = m_link.RequestUpdate(record, 0);
    SendFailed(sent);
    if (!sent)
        return;
    const bool monitored = m_form8->MonitoredChecked();
    if (monitored != record.Monitored)
        StateMonFolder(monitored ? 1 : 0, index, true);
}

void TForm1::AddListedFolder(const std::string& path)
{
    // The folder is listed already (perhaps only as the folder of files added one by
    // one): adding it again applies the options chosen now to the folder the agent has,
    // with its history, and starts it when it was stopped.
    const auto folder = m_items->FolderByPath(path);
    TMonItemRecord record = folder->Data();
    m_form8->PrepareFrom(record);
    m_form8->PrepareMonitored();
    if (ModalDialogs::Exec(*m_form8) != QDialog::Accepted)
        return;
    const TMonItemRecord before = record;
    if (!m_form8->ReadInto(record))
        return;
    const bool optionsChange = !SameFolderOptions(before, record);
    const bool start = !before.Monitored || before.MonStatus == msBroken;
    if (!optionsChange && !start) {
        MessageBoxes::Show(BoxKind::Information, Message(MonitorText::FolderListedAlready, {path}),
                           BoxButtons::Ok, BoxAnswer::Ok, this);
        return;
    }
    if (!EnsureAgent())
        return;
    if (optionsChange) {
        const bool sent = m_link.RequestUpdate(record, 0);
        SendFailed(sent);
        if (!sent)
            return;
    }
    if (start)
        StateMonFolder(1, m_items->FindFolder(path), true);
}

void TForm1::aDeleteFolderExecute()
{
    QTreeWidgetItem* node = m_tree->currentItem();
    if (!node)
        return;
    const auto folder = m_items->FolderByPath(NodePath(node));
    if (!folder) {
        MessageBoxes::Show(BoxKind::Information, Message(MonitorText::FolderDefinitionNotFound),
                           BoxButtons::Ok, BoxAnswer::Ok, this);
        return;
    }
    if (!EnsureAgent())
        return;
    // Nothing changes here: the folder goes with the agent's DELETE answer.
    SendFailed(m_link.RequestDelete(folder->Path()));
}

void TForm1::aReassignFolderExecute()
{
    QTreeWidgetItem* node = m_tree->currentItem();
    if (!node || !m_folderDialog1->Execute())
        return;
    const auto folder = m_items->FolderByPath(NodePath(node));
    if (!folder)
        return;
    const std::string newPath = ChosenFolder(*m_folderDialog1);
    std::string tooLong = FitsShortText(newPath) ? std::string() : newPath;
    for (const auto& member : folder->Files())
        if (tooLong.empty() && !FitsShortText(newPath + NamePart(member->Path())))
            tooLong = newPath + NamePart(member->Path());
    if (!tooLong.empty()) {
        MessageBoxes::Show(BoxKind::Error, Message(MonitorText::PathTooLong, {tooLong}), BoxButtons::Ok,
                           BoxAnswer::Ok, this);
        return;
    }
    if (newPath == folder->Path() || !EnsureAgent())
        return;
    // The agent removes a folder monitored at the new place, with its files and their
    // histories: never unasked.
    if (const auto other = m_items->FolderByPath(newPath); other && other != folder) {
        std::size_t versions = 0;
        const auto files = other->Files();
        for (const auto& member : files)
            versions += m_block ? CountItemVersions(m_block->Settings, member->Data()) : 0;
        const std::string question =
            Message(MonitorText::ReassignReplacesFolder,
                    {newPath, CountOf(files.size(), MonitorText::FileCountOne, MonitorText::FileCountMany),
                     CountOf(versions, MonitorText::VersionCountOne, MonitorText::VersionCountMany)});
        if (MessageBoxes::Show(BoxKind::Confirmation, question, BoxButtons::YesNo, BoxAnswer::No, this) !=
            BoxAnswer::Yes)
            return;
    }
    TMonItemRecord record = folder->Data();
    record.Path.Set(newPath);
    record.MonStatus = msActive;
    record.Monitored = true;
    // The folder moves in the tree once the agent has taken the new place (its ADD
    // answer); a place it refuses leaves everything as it is.
    SendFailed(m_link.RequestUpdate(record, 0));
}

void TForm1::AddMonFolderAnswer(const TMonItemRecord& record)
{
    const std::string path = record.Path.Get();
    const std::string fileId = record.FileID.Get();
    std::shared_ptr<TRKMonFolder> moved;
    if (!fileId.empty())
        for (const auto& folder : m_items->Folders())
            if (folder->FileID() == fileId && folder->Path() != path)
                moved = folder;
    if (!moved) {
        // A folder the copy has already (the answer to new options) keeps its node and
        // the selection; a new one is shown.
        if (const auto folder = m_items->FolderByPath(path)) {
            folder->SetData(record);
        } else {
            AddMonFolderRecord(record);
            if (const auto added = m_items->FolderByPath(path))
                added->SetData(record);
        }
        RepaintViews();
        return;
    }
    const std::string oldPath = moved->Path();
    try {
        moved->Reassign(path);
    } catch (const std::exception& e) {
        qWarning("The moved folder %s could not follow to %s: %s", oldPath.c_str(), path.c_str(), e.what());
        return;
    }
    moved->SetData(record);
    if (QTreeWidgetItem* node = FindNode(oldPath))
        RemoveFolderNode(node);
    UpdateFoldersTree(path);
    if (QTreeWidgetItem* node = FindNode(path); node && node == m_tree->currentItem())
        FoldersTreeChange(node);
    UpdateStatusBar();
    UpdateActions();
}

void TForm1::FoldersTreeDblClick()
{
    if (m_tree->currentItem())
        Action("aFolderProperties")->trigger();
}

void TForm1::PropButtonClick()
{
    const QWidget* focus = QApplication::focusWidget();
    const auto within = [focus](const QWidget* pane) {
        return focus && (focus == pane || pane->isAncestorOf(focus));
    };
    UpdateActions();
    if (within(m_fileList) || within(m_verList))
        Action("aProperties")->trigger();
    else
        Action("aFolderProperties")->trigger();
}

void TForm1::PropertiesClick()
{
    const int index = SelectedItemIndex();
    if (index < 0)
        return;
    const std::string path = m_items->GetFile(index)->Path();
    m_form2->setWindowTitle(QString::fromStdString(Text(TxtCaptionProperties) + " " + NamePart(path)));
    m_form2->SetKey(path);
    ModalDialogs::Exec(*m_form2);
}

void TForm1::OptionsClick()
{
    ModalDialogs::Exec(*m_form3);
}

void TForm1::About1Click()
{
    ModalDialogs::Exec(*m_aboutBox);
}

bool TForm1::RejectOpenDialogs()
{
    bool any = false;
    // Boxes and dialogs open over each other: the top one goes first.
    for (int guard = 0; guard < 16; ++guard) {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            break;
        dialog->reject();
        any = true;
    }
    for (QDialog* dialog : std::initializer_list<QDialog*>{m_form2, m_form3, m_form8, m_aboutBox, m_form5}) {
        if (dialog && dialog->isVisible()) {
            dialog->reject();
            any = true;
        }
    }
    return any;
}

} // namespace morvane::monitor
