#include "support/components/TkitFileOperation.h"

#include "platform/DirListing.h"
#include "platform/FileCopy.h"
#include "platform/FileTree.h"
#include "platform/Paths.h"
#include "platform/Trash.h"
#include "support/KitSysUtils.h"
#include "support/components/MessageBoxes.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProgressDialog>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <system_error>
#include <thread>

namespace morvane {

namespace {

std::atomic<bool> g_forceCopy{false};

constexpr int kProgressSteps = 1000;
constexpr int kShowProgressAfter = 500; // ms: short work never flashes a dialog
constexpr int kProgressRefresh = 100;   // ms

const char* Verb(TkitFileOperationType operation)
{
    switch (operation) {
    case fotCopy:
        return "copy";
    case fotDelete:
        return "delete";
    case fotMove:
        return "move";
    case fotRename:
        return "rename";
    }
    return "handle";
}

bool Exists(const std::string& path)
{
    return FileExists(path) || DirectoryExists(path);
}

// "Copy of name", then "Copy (2) of name" and so on, until the name is free.
std::string FreeName(const std::string& target)
{
    const std::string folder = FolderPart(target);
    const std::string name = NamePart(target);
    std::string candidate = folder + "Copy of " + name;
    for (int n = 2; Exists(candidate); ++n)
        candidate = folder + "Copy (" + std::to_string(n) + ") of " + name;
    return candidate;
}

} // namespace

TkitFileOperation::TkitFileOperation(QObject* owner) : TkitComponent(owner) {}

TkitFileOperation::~TkitFileOperation() = default;

QStringList TkitFileOperation::FileListText() const
{
    QStringList lines;
    for (const std::string& line : m_fileList)
        lines << QString::fromStdString(line);
    return lines;
}

void TkitFileOperation::SetFileListText(const QStringList& lines)
{
    m_fileList.clear();
    for (const QString& line : lines)
        m_fileList.push_back(line.toStdString());
}

void TkitFileOperation::SetForceCopy(bool on)
{
    g_forceCopy.store(on);
}

bool TkitFileOperation::ForceCopy()
{
    return g_forceCopy.load();
}

bool TkitFileOperation::Execute()
{
    return ExecuteOperation(Operation);
}

bool TkitFileOperation::Move()
{
    return ExecuteOperation(fotMove);
}

std::string TkitFileOperation::GetErrorText(int code)
{
    if (code == 0)
        return {};
    return std::system_category().message(code);
}

bool TkitFileOperation::DoError(const std::string& text)
{
    bool handled = false;
    if (OnError)
        OnError(this, text, handled);
    return handled;
}

QProgressDialog* TkitFileOperation::MakeProgressDialog(const QString& title, QWidget* parent)
{
    auto* dialog = new QProgressDialog(title, QObject::tr("Cancel"), 0, kProgressSteps, parent);
    dialog->setObjectName("FileOperationProgress");
    dialog->setWindowTitle(title);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setMinimumDuration(kShowProgressAfter);
    dialog->setAutoClose(false);
    dialog->setAutoReset(false);
    dialog->setMinimumWidth(380);
    return dialog;
}

bool TkitFileOperation::HasWildcard(const std::string& path)
{
    return NamePart(path).find_first_of("*?") != std::string::npos;
}

bool TkitFileOperation::Names(const std::string& path)
{
    const std::string plain = WithoutTrailingSep(path);
    if (Exists(plain))
        return true;
    const std::string folder = FolderPart(plain);
    return HasWildcard(plain) && DirectoryExists(folder.empty() ? std::string(".") : folder);
}

bool TkitFileOperation::SplitLine(const std::string& line, std::string& source, std::string& target)
{
    source = line;
    target.clear();
    // A line that names something is a path, whatever "=" it holds: reading it as a pair
    // would act on whatever its beginning happens to name.
    if (line.find('=') == std::string::npos || Names(line))
        return false;
    // The longest beginning that names something is the source, so a source holding "="
    // itself still pairs.
    for (std::size_t eq = line.rfind('='); eq != std::string::npos; eq = line.rfind('=', eq - 1)) {
        if (eq > 0 && Names(line.substr(0, eq))) {
            source = line.substr(0, eq);
            target = line.substr(eq + 1);
            return true;
        }
        if (eq == 0)
            break;
    }
    return false;
}

std::vector<TkitFileOperation::Job> TkitFileOperation::MakeJobs(TkitFileOperationType operation) const
{
    std::vector<Job> jobs;
    for (const std::string& line : m_fileList) {
        std::string source, target;
        const bool pair = SplitLine(line, source, target);
        if (source.empty())
            continue;
        source = WithoutTrailingSep(source);
        std::vector<std::string> sources;
        if (HasWildcard(source) && !Exists(source) && Names(source)) {
            // Every entry of the folder the name matches, in name order; with
            // fofFilesOnly folders are left out.
            const std::string folder = FolderPart(source);
            const std::string mask = NamePart(source);
            for (const DirEntry& entry : ListDir(folder.empty() ? std::string(".") : folder))
                if (MatchesMask(entry.Name, mask) && !(entry.IsDir && Has(fofFilesOnly)))
                    sources.push_back(folder + entry.Name);
            std::sort(sources.begin(), sources.end());
        } else {
            sources.push_back(source); // a missing one fails as missing
        }
        for (const std::string& one : sources) {
            Job job;
            job.Source = one;
            if (pair)
                job.Target = ComposeDestName(one, MakeAbsolutePath(DestFolder, target));
            else if (operation == fotRename)
                job.Target = MakeAbsolutePath(FolderPart(one), DestFolder);
            else if (operation != fotDelete)
                job.Target = WithTrailingSep(DestFolder) + NamePart(one);
            jobs.push_back(std::move(job));
        }
    }
    return jobs;
}

bool TkitFileOperation::RefuseIntoItself(TkitFileOperationType operation, const std::vector<Job>& jobs)
{
    if (operation == fotDelete)
        return false;
    for (const Job& job : jobs) {
        // A folder copied or moved into itself would go on copying its own copy.
        if (DirectoryExists(job.Source) && !job.Target.empty() && IsInsideFolder(job.Target, job.Source) &&
            !IsInsideFolder(job.Source, job.Target)) {
            m_outcome = {Result::Failed, EINVAL, job.Source, {}, {}};
            m_outcome.Text = "\"" + job.Target + "\" lies inside \"" + job.Source +
                             "\" itself; a folder cannot go into itself.";
            return true;
        }
    }
    return false;
}

bool TkitFileOperation::Confirm(TkitFileOperationType operation, const std::vector<Job>& jobs,
                                bool& destMissing)
{
    destMissing = false;
    if (operation == fotDelete) {
        if (Has(fofNoConfirmation))
            return true;
        const std::string what =
            jobs.size() == 1 ? "\"" + jobs.front().Source + "\"" : std::to_string(jobs.size()) + " items";
        const std::string text = Has(fofAllowUndo) ? "Move " + what + " to the trash?"
                                                   : "Delete " + what + " for good? This cannot be undone.";
        return MessageBoxes::Show(BoxKind::Confirmation, text, BoxButtons::YesNo,
                                  Has(fofAllowUndo) ? BoxAnswer::Yes : BoxAnswer::No,
                                  m_parent) == BoxAnswer::Yes;
    }
    const bool single = (operation == fotCopy || operation == fotMove) && !jobs.empty() &&
                        jobs.front().Target == WithTrailingSep(DestFolder) + NamePart(jobs.front().Source);
    if (!single || DestFolder.empty() || DirectoryExists(DestFolder))
        return true;
    destMissing = true;
    if (Has(fofNoConfirmMkDir) || Has(fofNoConfirmation))
        return true;
    return MessageBoxes::Show(BoxKind::Confirmation,
                              "The folder \"" + DestFolder + "\" does not exist. Do you want to create it?",
                              BoxButtons::YesNo, BoxAnswer::Yes, m_parent) == BoxAnswer::Yes;
}

bool TkitFileOperation::ExecuteOperation(TkitFileOperationType operation)
{
    m_outcome = {};
    std::vector<Job> jobs = MakeJobs(operation);
    if (jobs.empty())
        return true;
    bool destMissing = false;
    const bool refused = RefuseIntoItself(operation, jobs); // before anything is touched
    if (!refused && !Confirm(operation, jobs, destMissing)) {
        m_outcome.Kind = Result::Cancelled;
        m_outcome.Error = ECANCELED;
        return false;
    }
    if (refused) {
        // The outcome says why.
    } else if (destMissing && !MakeDirs(DestFolder)) {
        m_outcome = {Result::Failed, errno, DestFolder, {}, {}};
    } else {
        m_cancel.store(false);
        m_bytesDone.store(0);
        m_filesDone.store(0);
        std::atomic<std::int64_t> total{0};
        std::atomic<bool> finished{false};
        QEventLoop loop;
        std::thread worker([&] {
            std::int64_t bytes = 0;
            for (const Job& job : jobs)
                bytes += TreeBytes(job.Source);
            total.store(bytes);
            Run(operation, jobs);
            finished.store(true);
            QMetaObject::invokeMethod(
                &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
        });
        QProgressDialog* dialog = nullptr;
        if (!Has(fofSilent))
            dialog = MakeProgressDialog(QString::fromStdString(ProgressTitle), m_parent);
        QTimer refresh;
        QObject::connect(&refresh, &QTimer::timeout, &loop, [&] {
            if (!dialog)
                return;
            if (dialog->wasCanceled())
                m_cancel.store(true);
            const std::int64_t all = total.load();
            const int value = all > 0 ? static_cast<int>(m_bytesDone.load() * kProgressSteps / all) : 0;
            dialog->setValue(std::min(value, kProgressSteps - 1));
        });
        refresh.start(kProgressRefresh);
        if (!finished.load())
            loop.exec();
        worker.join();
        refresh.stop();
        delete dialog;
    }
    switch (m_outcome.Kind) {
    case Result::Done:
        return true;
    case Result::Cancelled:
        return false;
    case Result::Failed:
        break;
    }
    const std::string text = GetErrorText(m_outcome.Error);
    DoError(text);
    if (!Has(fofNoErrorUI)) {
        const std::string verb =
            operation == fotDelete && Has(fofAllowUndo) ? "move to the trash" : Verb(operation);
        MessageBoxes::Show(BoxKind::Error,
                           "Cannot " + verb + " \"" + m_outcome.Path +
                               "\": " + (m_outcome.Text.empty() ? text : m_outcome.Text),
                           BoxButtons::Ok, BoxAnswer::Ok, m_parent);
    }
    return false;
}

void TkitFileOperation::Run(TkitFileOperationType operation, const std::vector<Job>& jobs)
{
    for (const Job& job : jobs) {
        if (m_cancel.load()) {
            m_outcome.Kind = Result::Cancelled;
            m_outcome.Error = ECANCELED;
            m_outcome.Path = job.Source;
            return;
        }
        const int err = RunOne(operation, job);
        if (m_outcome.Kind != Result::Done)
            return;
        if (err != 0) {
            m_outcome.Kind = Result::Failed;
            m_outcome.Error = err;
            if (m_outcome.Path.empty())
                m_outcome.Path = job.Source;
            return;
        }
        m_outcome.Moved.push_back(job.Source);
    }
}

int TkitFileOperation::RunOne(TkitFileOperationType operation, const Job& job)
{
    const TreeStep step = [this](const std::string&, std::int64_t bytes) {
        m_bytesDone.fetch_add(bytes);
        const int done = m_filesDone.fetch_add(1) + 1;
        if (m_afterFile)
            m_afterFile(done);
    };
    const auto settle = [this](const TreeResult& r) -> int {
        switch (r.Status) {
        case TreeStatus::Ok:
            return 0;
        case TreeStatus::Cancelled:
            m_outcome.Kind = Result::Cancelled;
            m_outcome.Error = ECANCELED;
            m_outcome.Path = r.Path;
            return 0;
        default:
            m_outcome.Path = r.Path;
            return r.Error ? r.Error : EIO;
        }
    };

    if (operation == fotDelete) {
        if (!Exists(job.Source))
            return settle({TreeStatus::SourceMissing, ENOENT, job.Source});
        if (Has(fofAllowUndo)) {
            const std::int64_t bytes = TreeBytes(job.Source);
            errno = 0;
            if (!MoveToTrash(job.Source)) {
                // Never deleted for good when the user asked for a way back.
                const int err = errno ? errno : EXDEV;
                m_outcome.Path = job.Source;
                m_outcome.Text = "it cannot go to a trash on its file system (" + GetErrorText(err) +
                                 "), so it was left where it is.";
                return err;
            }
            m_bytesDone.fetch_add(bytes);
            return 0;
        }
        return settle(RemoveTree(job.Source, &m_cancel, step));
    }

    std::string target = job.Target;
    if (!MakeDirs(FolderPart(target)))
        return settle({TreeStatus::Failed, errno, FolderPart(target)});
    const bool sourceIsDir = DirectoryExists(job.Source);
    if (Has(fofRenameCollision) && operation != fotRename && Exists(target))
        target = FreeName(target);
    if (SameFile(job.Source, target))
        return settle({TreeStatus::Failed, EINVAL, target});

    if (operation == fotCopy)
        return settle(CopyTree(job.Source, target, false, &m_cancel, step));

    if (operation == fotRename || !ForceCopy()) {
        const std::int64_t bytes = TreeBytes(job.Source);
        const TreeResult renamed = RenameNoReplace(job.Source, target);
        if (renamed.Status == TreeStatus::Ok) {
            m_bytesDone.fetch_add(bytes);
            if (m_afterFile)
                m_afterFile(m_filesDone.fetch_add(1) + 1);
            return 0;
        }
        const bool merge =
            renamed.Status == TreeStatus::TargetExists && sourceIsDir && DirectoryExists(target);
        const bool crossDevice = renamed.Status == TreeStatus::Failed && renamed.Error == EXDEV;
        if (operation == fotRename || !(merge || crossDevice))
            return settle(renamed);
    }
    return settle(CopyTree(job.Source, target, true, &m_cancel, step));
}

} // namespace morvane
