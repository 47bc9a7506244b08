#pragma once

#include "engine/SharedBlock.h"
#include "monitor/AgentLink.h"
#include "monitor/FileListView.h"
#include "monitor/FoldersTreeView.h"
#include "monitor/ListView.h"
#include "monitor/MonitorHost.h"
#include "monitor/MonitorLanguage.h"
#include "monitor/VersionLine.h"
#include "monitor/VersionsListView.h"
#include "platform/MessageWindow.h"

#include <QDeadlineTimer>
#include <QMainWindow>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QLabel;
class QMenu;
class QSplitter;
class QStatusBar;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace morvane {

class TQdFolderDialog;
class TRKMonItem;
class TRKMonItems;

namespace monitor {

class CaptionToolBar;
class SplitterPlace;
class TForm5;
class TAboutBox;
class TForm2;
class TForm3;
class TForm8;

// What opening a file, a version or a folder asks of the desktop. Program empty: open
// Document with the desktop's handler; otherwise start Program with Document as its one
// argument. Folder is the working folder.
struct OpenRequest
{
    std::string Program;
    std::string Document;
    std::string Folder;
};

// The monitor's main window: the folders tree, the file list of the folder selected in
// it, the versions list of the selected file, and every command on them. It mirrors the
// agent's item list in a passive engine copy, sends each change to the agent through
// the shared block and follows the agent's answers (AppMessage).
//
// The block may be nullptr (nothing is loaded or sent then). Main thread only.
class TForm1 : public QMainWindow
{
    Q_OBJECT
    // Where the user left the two splitters, so that the layout file keeps them: the
    // width of the folders tree and the height of the file list.
    Q_PROPERTY(int FoldersWidth READ FoldersWidth WRITE SetFoldersWidth)
    Q_PROPERTY(int FileListHeight READ FileListHeight WRITE SetFileListHeight)
public:
    // FormCreate: builds the window and the (inactive) engine copy. home holds the
    // settings file the engine reads the backup root from.
    TForm1(SharedBlock* block, const std::string& home, QWidget* parent = nullptr);
    ~TForm1() override;

    SharedBlock* Block() const { return m_block; }
    TRKMonItems& Items() const { return *m_items; }

    // Localises the window and the list columns from a language file.
    void ApplyLanguage(const std::string& languageFile);
    // The language chosen in the options: the window switches now, and the rows and the
    // status bar take the agent's texts as soon as it has read them (after REINIT).
    void LanguageChanged(const std::string& languageFile);
    // Loads the agent's item list (SharedBlock.AgentDir + "mvlist.srv") and builds the
    // tree. Items the list file cannot hold are said in a warning box.
    void InitActiveList();

    // The answer handler. A report's record is taken out of the block as soon as the
    // report arrives, and the block is handed back to the agent at once, so its next
    // report cannot write over one not handled yet. Reports arriving before Hook() are
    // kept with their records and handled then, so none sent while the list loads is
    // lost; after Unhook() nothing is handled. Returns true when the message was one of
    // the agent's reports.
    bool AppMessage(const WindowMessage& message);
    void Hook();
    void Unhook();
    bool Hooked() const { return m_hooked; }
    // Reports that arrived before Hook() and wait for it.
    std::size_t PendingAnswers() const;

    // Layout of the six controls in the layout file, and where the options dialog was.
    void LoadLayout(const std::string& layoutFile);
    void SaveLayout(const std::string& layoutFile);
    int FoldersWidth() const;
    void SetFoldersWidth(int width);
    int FileListHeight() const;
    void SetFileListHeight(int height);

    // The handle of the monitor's message window, published in the block again when a
    // restarted agent has cleared it.
    void SetWindowHandle(std::uint32_t handle) { m_windowHandle = handle; }

    // Closes the window as File > Exit does, once the dialogs and boxes open over it have
    // been cancelled and their commands have returned.
    void CloseAsExit();
    // Called when the window has closed (after the block flag was cleared).
    void SetOnClosed(std::function<void()> onClosed) { m_onClosed = std::move(onClosed); }
    // Replaces how files, versions and folders are opened (tests record instead).
    void SetOpener(std::function<void(const OpenRequest&)> opener) { m_opener = std::move(opener); }

    // --- list upkeep ---
    void InitFileListItem(const std::shared_ptr<TRKMonItem>& item, int row = -1);
    void AddMonFile(const std::string& path, const std::string& fileId, bool notify);
    void AddMonFolder();
    void UpdateFoldersTree(const std::string& folder);
    void DeleteMonFile(int index, const std::string& path, bool notify);
    void StateMonFile(int state, int index, bool notify);
    void StateMonFolder(int state, int index, bool notify);
    void UpdateStatusBar();

    // --- folders tree ---
    // The folder path a node stands for (ends with "/").
    std::string NodePath(QTreeWidgetItem* node) const;
    int FolderIndexOfNode(QTreeWidgetItem* node) const;
    void FoldersTreeChange(QTreeWidgetItem* node);
    void DeleteMonFolder(const std::string& path);
    // The node of a folder path, nullptr when there is none.
    QTreeWidgetItem* FindNode(const std::string& folder) const;

    // --- folder commands ---
    // Each asks the agent; the tree follows the agent's answers: a new folder appears with
    // its ADD answer, a reassigned one moves with it, a deleted one goes with DELETE.
    void aAddFolderExecute();
    void aFolderPropertiesExecute();
    void aDeleteFolderExecute();
    void aReassignFolderExecute();
    // The agent's ADD answer for a folder: a new folder, one whose options the agent
    // holds now, or (same FileID, another path) one the agent has moved.
    void AddMonFolderAnswer(const TMonItemRecord& record);
    void FoldersTreeDblClick();
    void PropButtonClick();

    // --- dialogs ---
    void PropertiesClick();
    // Opens the help pages in the desktop's browser; says where they are missing.
    void aPellaryHelpExecute();
    // Writes the texts of the main window, its lists' columns and its dialogs into the
    // current language's file (offered when the settings say _Developer=1).
    void Savelanguage1Click();
    // The backup folder dialog, made on first use; opened from the options dialog.
    TForm5* Form5();
    void BackupFolderDialog();
    // Replaces where the help page is looked for (tests).
    void SetHelpPage(std::function<std::string()> page) { m_helpPage = std::move(page); }
    void OptionsClick();
    void About1Click();
    TForm2* Form2() const { return m_form2; }
    TForm3* Form3() const { return m_form3; }
    TForm8* Form8() const { return m_form8; }
    TAboutBox* AboutBox() const { return m_aboutBox; }
    TQdFolderDialog* FolderDialog1() const { return m_folderDialog1; }

    // --- item commands ---
    void AddButtonClick();
    void RemoveButtonClick();
    void StartMonButtonClick();
    void StopMonButtonClick();
    void FileListClick();
    void Makeversion1Click();
    void ClearHistoryClick();
    void Maptoanother1Click();
    void Open2Click();
    void FileListChange();

    // --- versions list ---
    void VersionsClick();
    void VerListDblClick();
    void Openlocation1Click();
    void DeleteVersionClick();
    void Report1Click();
    const std::vector<std::string>& VersionLines() const { return m_verList->Lines(); }

    // --- views and action states ---
    void UpdateActions();
    void List1Click();
    void aToolBarListExecute();
    void Icons1Click();
    void List2Click();
    void Icons2Click();
    void aShowToolBarExecute();
    void aToolBarCaptionsExecute();
    void aToolBarCaptionsListExecute();

    // The file item a row shows (its folder column followed by its caption), or -1.
    int ItemIndexOfRow(int row) const;
    // The row that shows the item with path (the last such row), or -1.
    int RowOfPath(const std::string& path) const;
    // The selected row's item index, or -1.
    int SelectedItemIndex() const;

    FileListView* FileList() const { return m_fileList; }
    VersionsListView* VerList() const { return m_verList; }
    FoldersTreeView* FoldersTree() const { return m_tree; }
    QStatusBar* StatusBar() const { return m_statusBar; }
    QString StatusText() const;
    // The text colour of a row: red for a broken file, grey in a stopped folder.
    std::optional<QColor> FileRowColour(int row) const;
    QAction* Action(const char* name) const;
    AgentLink& Link() { return m_link; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void CreateActions();
    std::string LanguageFileForSaving() const;
    void CreateMenus();
    void CreateWidgets();
    void AddMonFolderRecord(const TMonItemRecord& record);
    // Add folder on a folder the list holds already.
    void AddListedFolder(const std::string& path);
    // The agent's ADD answer for an item the copy holds under another path.
    void ReassignedByAgent(const std::shared_ptr<TRKMonItem>& item, const std::string& path);
    // Keeps an index of 0 or more; for -1 asks find, and tells the user notFound when the
    // item is not there.
    bool ResolveIndex(int& index, const std::function<int()>& find, const char* notFound);
    void ActivateWindow();
    void CreateDialogs();
    // Rejects every dialog and box that is open; true when there was one.
    bool RejectOpenDialogs();
    // Closes the window once no dialog's modal loop runs below it any more.
    void CloseWhenIdle();
    // Takes a folder node out of the tree as a deleted folder's node goes.
    void RemoveFolderNode(QTreeWidgetItem* node);
    void RepaintViews();
    void SetFileListStyle(bool checkboxes, ListView::ViewStyleKind style);
    void RefreshTreeColours();
    // True when the agent runs; shows its state and registers with a restarted agent.
    bool CheckAgent();
    // CheckAgent, and when the agent is gone tells the user that nothing was sent.
    bool EnsureAgent();
    // Tells the user that a request could not be sent (the agent is gone).
    void SendFailed(bool sent);
    void ShowAgentState(bool alive);
    void Open(const OpenRequest& request);
    std::string Text(TextSlot slot) const;
    // A text of the monitor's own boxes in the window's language.
    std::string Message(MonitorText text, const std::vector<std::string>& args = {}) const;
    std::string CountOf(std::size_t count, MonitorText one, MonitorText many) const;
    // A report of the agent that carries an item record, and that record as it arrived.
    struct Answer
    {
        WindowMessage Message;
        std::optional<TMonItemRecord> Record;
    };
    bool HandleMessage(const Answer& answer);
    // The record of the report being handled; the block's own outside a report.
    const TMonItemRecord& AnswerRecord() const;

    SharedBlock* m_block;
    AgentLink m_link;
    MonitorHost m_host;
    std::unique_ptr<TRKMonItems> m_items;
    bool m_hooked = false;
    bool m_unhooked = false;
    bool m_closed = false;
    std::uint32_t m_windowHandle = 0;
    std::vector<Answer> m_pending;
    const TMonItemRecord* m_answer = nullptr;
    // The agent's texts the rows were last filled with, watched for a while after the
    // language changed; and until when.
    std::vector<std::string> m_shownTexts;
    QTimer* m_textsWatch = nullptr;
    QDeadlineTimer m_textsDeadline;
    // The language file the window was last localised from ("" for the built-in texts).
    std::string m_languageFile;
    std::function<void()> m_onClosed;
    std::function<void(const OpenRequest&)> m_opener;

    QWidget* m_coolBar = nullptr;
    CaptionToolBar* m_toolBar = nullptr;
    FoldersTreeView* m_tree = nullptr;
    QSplitter* m_panel = nullptr;
    SplitterPlace* m_foldersPlace = nullptr;
    SplitterPlace* m_fileListPlace = nullptr;
    FileListView* m_fileList = nullptr;
    VersionsListView* m_verList = nullptr;
    QStatusBar* m_statusBar = nullptr;
    QLabel* m_statusPanel = nullptr;
    QLabel* m_agentPanel = nullptr;
    QMenu* m_fileMenu = nullptr;
    QMenu* m_verMenu = nullptr;
    QMenu* m_toolBarPopup = nullptr;
    QMenu* m_addNewPopup = nullptr;
    QMenu* m_folderPopup = nullptr;
    TForm2* m_form2 = nullptr;
    TForm3* m_form3 = nullptr;
    TForm8* m_form8 = nullptr;
    TForm5* m_form5 = nullptr;
    std::function<std::string()> m_helpPage;
    TAboutBox* m_aboutBox = nullptr;
    TQdFolderDialog* m_folderDialog1 = nullptr;
};

} // namespace monitor
} // namespace morvane
