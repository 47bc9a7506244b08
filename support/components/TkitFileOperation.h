#pragma once

#include "support/TkitComponent.h"

#include <QStringList>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QProgressDialog;
class QWidget;

namespace morvane {

enum TkitFileOperationType
{
    fotCopy,
    fotDelete,
    fotMove,
    fotRename
};

// Element n is bit n of TkitFileOperationFlags.
enum TkitFileOperationFlag
{
    fofAllowUndo,       // deletes go to the desktop trash
    fofFilesOnly,       // a wildcard name matches files only, never folders
    fofNoConfirmation,  // no question before a delete
    fofNoConfirmMkDir,  // a missing destination folder is made without asking
    fofNoErrorUI,       // a failure is not shown in a box (OnError still hears of it)
    fofRenameCollision, // a copy or move whose target name is taken gets a free name
    fofSilent,          // no progress dialog
    fofSimpleProgress   // one progress dialog for the whole list
};
using TkitFileOperationFlags = std::uint8_t;
constexpr TkitFileOperationFlags FileOpFlag(TkitFileOperationFlag flag)
{
    return static_cast<TkitFileOperationFlags>(1u << flag);
}

using TkitFileOperationEvent = std::function<void(QObject* sender, const std::string& text, bool& handled)>;

// Copies, moves, deletes or renames a list of files and folders. A list line is a source
// path, or a source and a target joined by "=" (targets are taken against DestFolder; a
// target name like "*.bak" keeps the source's name with that extension). A line that
// names an existing entry is always a path, "=" or not; otherwise the longest part before
// an "=" that names an entry is the source. A source whose name holds "*" or "?" stands
// for every matching entry of its folder (files only with fofFilesOnly). A folder is never
// copied or moved into itself: such a list is refused before anything is touched. A delete
// with fofAllowUndo moves each entry into the desktop trash, from where the desktop can
// restore it; when an entry cannot reach a trash the delete stops and the entry stays. A
// move is one rename where source
// and target share a file system, else a copy (each file through a temporary name, dates
// kept) followed by deleting the source. Nothing that exists at a target is ever replaced:
// folders are merged into, a file of the same name stops the work (unless it holds the same
// bytes and date, being an interrupted earlier run's copy). Long work shows a progress
// dialog with a Cancel button. Main thread; the file work runs on a worker thread while the
// main thread keeps handling events.
class TkitFileOperation : public TkitComponent
{
    Q_OBJECT
    Q_PROPERTY(QStringList FileList READ FileListText WRITE SetFileListText)
    Q_PROPERTY(QString DestFolder READ DestFolderText WRITE SetDestFolderText)
    Q_PROPERTY(QString ProgressTitle READ ProgressTitleText WRITE SetProgressTitleText)
    Q_PROPERTY(int Operation READ OperationValue WRITE SetOperationValue)
    Q_PROPERTY(int Options READ OptionsValue WRITE SetOptionsValue)

public:
    // How the last operation ended, beyond the true/false the callers of Execute get.
    enum class Result
    {
        Done,
        Cancelled, // by the user (or declined at the confirmation); no error was shown
        Failed
    };
    struct Outcome
    {
        Result Kind = Result::Done;
        int Error = 0;                  // errno of the failure
        std::string Path;               // the entry the work stopped at
        std::vector<std::string> Moved; // sources completely handled, in list order
        std::string Text;               // what went wrong, where the errno alone says too little
    };

    explicit TkitFileOperation(QObject* owner = nullptr);
    ~TkitFileOperation() override;

    std::vector<std::string>& FileList() { return m_fileList; }
    const std::vector<std::string>& FileList() const { return m_fileList; }
    void SetFileList(const std::vector<std::string>& lines) { m_fileList = lines; }
    std::string DestFolder;
    std::string ProgressTitle;
    TkitFileOperationType Operation = fotCopy;
    TkitFileOperationFlags Options =
        FileOpFlag(fofAllowUndo) | FileOpFlag(fofFilesOnly) | FileOpFlag(fofRenameCollision);
    TkitFileOperationEvent OnError;

    // Runs operation over FileList. True when every line was carried out, or the list is
    // empty; false when the user cancelled or declined, or something failed (then OnError
    // hears the system's text first, and a box shows it unless fofNoErrorUI).
    virtual bool ExecuteOperation(TkitFileOperationType operation);
    // The system's text for an errno value; empty for 0.
    virtual std::string GetErrorText(int code);
    // OnError(this, text, handled) when assigned; returns handled (false without a handler).
    virtual bool DoError(const std::string& text);
    virtual bool Execute();
    // A move, whatever Operation holds.
    bool Move();

    const Outcome& LastOutcome() const { return m_outcome; }
    // The window the progress dialog and boxes belong to.
    void SetParentWidget(QWidget* parent) { m_parent = parent; }

    // The progress dialog as the operation shows it (also for pictures of it).
    static QProgressDialog* MakeProgressDialog(const QString& title, QWidget* parent);

    // Test hook: every move copies and deletes, as between file systems. Process-wide.
    static void SetForceCopy(bool on);
    static bool ForceCopy();
    // Test hook: called on the worker thread after each file; lets a test cancel part-way.
    void SetAfterFileHook(std::function<void(int filesDone)> hook) { m_afterFile = std::move(hook); }
    // Cancels a running operation as the dialog's Cancel button does. Any thread.
    void Cancel() { m_cancel.store(true); }

private:
    struct Job
    {
        std::string Source;
        std::string Target;
    };
    QStringList FileListText() const;
    void SetFileListText(const QStringList& lines);
    QString DestFolderText() const { return QString::fromStdString(DestFolder); }
    void SetDestFolderText(const QString& text) { DestFolder = text.toStdString(); }
    QString ProgressTitleText() const { return QString::fromStdString(ProgressTitle); }
    void SetProgressTitleText(const QString& text) { ProgressTitle = text.toStdString(); }
    int OperationValue() const { return Operation; }
    void SetOperationValue(int value) { Operation = static_cast<TkitFileOperationType>(value); }
    int OptionsValue() const { return Options; }
    void SetOptionsValue(int value) { Options = static_cast<TkitFileOperationFlags>(value); }
    bool Has(TkitFileOperationFlag flag) const { return (Options & FileOpFlag(flag)) != 0; }

    static bool HasWildcard(const std::string& path);
    // The path names an entry, or is a wildcard name in an existing folder.
    static bool Names(const std::string& path);
    // True for a "source=target" line, with both parts set; false for a path (source = line).
    static bool SplitLine(const std::string& line, std::string& source, std::string& target);
    std::vector<Job> MakeJobs(TkitFileOperationType operation) const;
    // Sets the outcome and returns true when a folder would go into itself.
    bool RefuseIntoItself(TkitFileOperationType operation, const std::vector<Job>& jobs);
    bool Confirm(TkitFileOperationType operation, const std::vector<Job>& jobs, bool& destMissing);
    // The worker's part: every job in order, stopping at the first that does not succeed.
    void Run(TkitFileOperationType operation, const std::vector<Job>& jobs);
    int RunOne(TkitFileOperationType operation, const Job& job);

    std::vector<std::string> m_fileList;
    QWidget* m_parent = nullptr;
    Outcome m_outcome;
    std::atomic<bool> m_cancel{false};
    std::atomic<std::int64_t> m_bytesDone{0};
    std::atomic<int> m_filesDone{0};
    std::function<void(int)> m_afterFile;
};

} // namespace morvane
