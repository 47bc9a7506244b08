// Action states and the view commands.
#include "engine/TRKMonItem.h"
#include "engine/TRKMonItems.h"
#include "monitor/CaptionToolBar.h"
#include "monitor/ListView.h"
#include "monitor/TForm1.h"

#include <QAction>
#include <QTreeWidget>

namespace morvane::monitor {

void TForm1::UpdateActions()
{
    const bool fileSelected = m_fileList->Selected() >= 0;
    for (const char* name : {"aProperties", "aDeleteFile", "aMakeVersion", "aReassing", "aFileOpen"})
        Action(name)->setEnabled(fileSelected);
    // aFolderPropertiesUpdate: the folder commands need a node that stands for a folder.
    const bool folderSelected = FolderIndexOfNode(m_tree->currentItem()) >= 0;
    for (const char* name : {"aFolderProperties", "aDeleteFolder", "aReassignFolder"})
        Action(name)->setEnabled(folderSelected);
    // Clearing keeps the newest version, so it is offered from two versions on.
    Action("aClearVersions")->setEnabled(fileSelected && m_verList->Lines().size() >= 2);
    const bool versionSelected = m_verList->Selected() >= 0;
    for (const char* name : {"aVerOpen", "aOpenLocation", "aVerDelete"})
        Action(name)->setEnabled(versionSelected);

    // Exactly one of start and stop is offered, and a broken file cannot be started.
    const int index = SelectedItemIndex();
    if (index >= 0) {
        const auto item = m_items->GetFile(index);
        const bool monitored = item->Monitored();
        Action("aStartMonitoring")->setVisible(!monitored);
        Action("aStartMonitoring")->setEnabled(item->MonStatus() != msBroken);
        Action("aStopMonitoring")->setVisible(monitored);
    } else {
        Action("aStartMonitoring")->setVisible(true);
        Action("aStartMonitoring")->setEnabled(false);
        Action("aStopMonitoring")->setVisible(false);
    }

    Action("aToolBarReport")->setChecked(m_fileList->ViewStyle() == ListView::vsReport);
    Action("aToolBarList")->setChecked(m_fileList->ViewStyle() == ListView::vsList);
    Action("aToolBarIcon")->setChecked(m_fileList->ViewStyle() == ListView::vsIcon);
    Action("aVerReport")->setChecked(m_verList->ViewStyle() == ListView::vsReport);
    Action("aVerList")->setChecked(m_verList->ViewStyle() == ListView::vsList);
    Action("aVerIcon")->setChecked(m_verList->ViewStyle() == ListView::vsIcon);
    Action("aShowToolBar")->setChecked(!m_toolBar->isHidden() && !m_coolBar->isHidden());
    Action("aToolBarCaptions")->setChecked(m_toolBar->ShowCaptions());
    Action("aToolBarCaptionsList")->setEnabled(m_toolBar->ShowCaptions());
    Action("aToolBarCaptionsList")->setChecked(m_toolBar->List());
}

void TForm1::SetFileListStyle(bool checkboxes, ListView::ViewStyleKind style)
{
    // Muted: the check boxes coming and going are not the user's changes.
    m_fileList->SetTag(1);
    m_fileList->SetCheckboxes(checkboxes);
    m_fileList->SetViewStyle(style);
    m_fileList->SetTag(0);
}

void TForm1::List1Click()
{
    SetFileListStyle(true, ListView::vsReport);
}

void TForm1::aToolBarListExecute()
{
    SetFileListStyle(true, ListView::vsList);
}

void TForm1::Icons1Click()
{
    SetFileListStyle(false, ListView::vsIcon);
}

void TForm1::List2Click()
{
    m_verList->SetViewStyle(ListView::vsList);
    VersionsClick();
}

void TForm1::Icons2Click()
{
    m_verList->SetViewStyle(ListView::vsIcon);
    VersionsClick();
}

void TForm1::aShowToolBarExecute()
{
    if (m_coolBar->isHidden()) {
        m_coolBar->show();
        m_toolBar->show();
        return;
    }
    m_toolBar->setHidden(!m_toolBar->isHidden());
}

void TForm1::aToolBarCaptionsExecute()
{
    m_toolBar->SetShowCaptions(!m_toolBar->ShowCaptions());
}

void TForm1::aToolBarCaptionsListExecute()
{
    m_toolBar->SetList(!m_toolBar->List());
}

} // namespace morvane::monitor
