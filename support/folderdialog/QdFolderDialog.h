#pragma once

#include <QObject>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QFileDialog;
class QLabel;
class QPushButton;
class QWidget;

namespace morvane {

// Options of the folder-browse dialog; Flags holds the OR of them.
enum BrowseInfoFlag : std::uint32_t
{
    OnlyComputers = 0x1000,
    OnlyPrinters = 0x2000,
    OnlyDomains = 0x0002,
    OnlyAncestors = 0x0008,
    OnlyFileSystem = 0x0001,
    ShowPath = 0x0004,
    EditBox = 0x0010,
    Includefiles = 0x4000,
    IncludeURLs = 0x0080,
    NewDialogStyle = 0x0040,
    UsageHint = 0x0100,
    HideNewFolderButton = 0x0200,
    ShowShared = 0x8000,
    Validate = 0x0020,
};
using TBrowseInfoFlagSet = std::uint32_t;

// Where the folder tree starts when no folder is given.
enum class TSHFolders
{
    foDesktop,
    foDesktopExpanded,
    foPrograms,
    foControlPanel,
    foPrinters,
    foPersonal,
    foFavorites,
    foStartup,
    foRecent,
    foSendto,
    foRecycleBin,
    foStartMenu,
    foDesktopFolder,
    foMyComputer,
    foNetwork,
    foNetworkNeighborhood,
    foFonts,
    foTemplates,
};

// A component that lets the user pick a folder in a Qt folder dialog (widget mode)
// and hands back its path. Flags: OnlyFileSystem and OnlyAncestors (never a file) steer
// the Open button; with EditBox and Validate a typed name must name something (the
// toolkit's dialog always has its name box); Includefiles lists files and lets one be chosen; UsageHint shows
// a hint where the name box would be; ShowShared offers the mounted network shares; ShowPath the status line;
// RootFolder roots the tree (the user cannot go above it). The computer, printer and domain options have
// nothing to browse here and change nothing. Around the toolkit's dialog it adds a caption above the tree, a
// "New folder" caption and an optional title, each picked from per-language lists by the system's language; a
// status line with the selected path shortened to 50 characters; and, in the classic style, its own
// New-folder button.
//
// Execute is modal. Like message boxes it never blocks a test or an unattended run: a
// queued answer (PushAnswer) is taken instead of showing anything, and offscreen or with
// MORVANE_AUTO_ANSWER set the dialog counts as cancelled ("DIALOG folder: cancelled" on
// stderr). Main thread only.
class TQdFolderDialog : public QObject
{
    Q_OBJECT
public:
    explicit TQdFolderDialog(QObject* owner = nullptr);
    ~TQdFolderDialog() override;

    // Published properties.
    bool ReturnSpecialFolder = false;
    // The special folder selected at open (-1: none); after a successful browse the
    // chosen one's number, or -1.
    int SpecialFolder = -1;
    // Before Execute the folder selected at open; after a successful one the chosen path.
    std::string Folder;
    TBrowseInfoFlagSet Flags = ShowPath | NewDialogStyle | ShowShared;
    TSHFolders RootFolder = TSHFolders::foDesktopExpanded;
    std::function<void(TQdFolderDialog&, QFileDialog&)> OnInitialized;
    std::function<void(TQdFolderDialog&, QFileDialog&, const std::string& folder)> OnSelectionChanged;
    // With EditBox and Validate: the typed name names nothing (the dialog then closes
    // unchosen). Without a handler the computer beeps.
    std::function<void(TQdFolderDialog&, QFileDialog&)> OnValidateFailed;

    const QStringList& LabelCaptions() const { return m_labelCaptions; }
    const QStringList& NewFolderCaptions() const { return m_newFolderCaptions; }
    const QStringList& Titles() const { return m_titles; }
    // Copy the list only when its text differs; the matching caption is picked again.
    void SetLabelCaptions(const QStringList& list);
    void SetNewFolderCaptions(const QStringList& list);
    void SetTitles(const QStringList& list);
    std::string Version() const { return "8.00.00.00"; }

    // Public state.
    std::string SelectionPath;
    std::string DisplayName;
    const std::string& LabelCaption() const { return m_labelCaption; }
    const std::string& NewFolderCaption() const { return m_newFolderCaption; }
    const std::string& LanguageKey() const { return m_languageKey; }
    // Picks every caption again for another language key (the constructor uses the
    // system's).
    void SetLanguageKey(const std::string& key);
    bool SelectionHasPath() const { return m_selectionHasPath; }

    // Shows the dialog. True when a folder was chosen: Folder and SelectionPath then hold
    // its path (no trailing "/", except for the root "/").
    bool Execute();

    // The dialog as Execute shows it, set up and positioned but not shown (the caller
    // owns it). The component follows its selection while it lives.
    std::unique_ptr<QFileDialog> CreateDialog(QWidget* parent);

    // What the New-folder button does with a typed name: makes SelectionPath + "/" +
    // name, with every missing level ("a/b" makes both), and selects it in the dialog
    // when one is open. Returns the made folder, or nothing with error set: a name with a
    // "." or ".." level or none at all, or a folder the file system refused. An empty
    // name does nothing (no error).
    std::optional<std::string> CreateNewFolder(const std::string& name, std::string* error = nullptr);

    // The text of list for key: the entry named key, else "Default", else the first
    // entry; names compare without case; an empty list gives "".
    static std::string PickLocalizedText(const QStringList& list, const std::string& key);
    // path cut to maxLen characters, folders in the middle left out as "...".
    static std::string ShortenPath(const std::string& path, int maxLen);
    static QStringList DefaultLabelCaptions();
    static QStringList DefaultNewFolderCaptions();
    // The system language as four upper-case hexadecimal digits ("0409").
    static std::string SystemLanguageKey();
    // The folder a special-folder number stands for here, "" when none.
    static std::string SpecialFolderPath(int csidl);
    // The folders of network shares this computer has mounted (offered with ShowShared).
    static std::vector<std::string> SharedFolders();
    // The folder RootFolder roots the tree at; "" when the tree is not rooted (the whole
    // file system, or a root this system has no folder for).
    std::string Root() const;

    // What Open does with the selection or the typed name.
    enum class Answer
    {
        Take,    // chosen
        Stay,    // not choosable here (outside the root, or a file where only folders go)
        Close,   // a typed name that names nothing, with Validate: closed unchosen
        AsUsual, // the toolkit's own handling
    };

    // Test hook: the next Execute answers this (nothing: cancelled) without a dialog.
    static void PushAnswer(std::optional<std::string> answer);
    static void Reset();

private:
    void Repick();
    void SelectionChanged(const QString& path);
    void UpdateOk();
    std::string StartFolder() const;
    bool InsideRoot(const std::string& path) const;
    Answer Decide();
    void Finish(const std::string& chosen);

    QStringList m_labelCaptions;
    QStringList m_newFolderCaptions;
    QStringList m_titles;
    std::string m_labelCaption;
    std::string m_newFolderCaption;
    std::string m_languageKey;
    bool m_selectionHasPath = true;
    bool m_selectionIsFolder = true;
    std::optional<std::string> m_chosen; // what Open took
    std::string m_selected;              // the item last selected, choosable or not
    QFileDialog* m_dialog = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_newFolderButton = nullptr;
};

} // namespace morvane
