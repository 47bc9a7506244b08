// A backup move stopped at a random point (the user's cancel, the monitor killed, the
// agent killed), with a save made meanwhile, then run again to the same folder: every
// version is in the new folder exactly once with its bytes and date, the save's version
// too, no temporary file stays, the agent works in the new folder and the window's lists
// count there at once.
#include "MonitorE2EFixture.h"
#include "engine/ItemRecordIO.h"
#include "engine/TRKMonItem.h"
#include "engine/TRKMonItems.h"
#include "monitor/ListView.h"
#include "monitor/MonitorProgram.h"
#include "monitor/TForm5.h"
#include "monitor/VersionsListView.h"
#include "platform/DirListing.h"
#include "platform/FileTree.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "support/components/MessageBoxes.h"
#include "support/components/ModalDialogs.h"

#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <algorithm>
#include <csignal>
#include <filesystem>
#include <map>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace morvane::e2e {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

#if defined(__SANITIZE_ADDRESS__) // several times slower: fewer rounds keep within the timeout
constexpr int kRounds = 5;
#else
constexpr int kRounds = 20;
#endif
constexpr int kFiles = 8;
constexpr int kFileBytes = 512 * 1024;

struct Stored
{
    std::string Bytes;
    timespec Time{};
    timespec FolderTime{}; // its version folder's: the age pruning and clearing go by
};

// Every version below root by its path relative to root ("<FileID>/<nnn>/<name>"); also
// what no version may be: anything else below the item folders.
std::map<std::string, Stored> Versions(const std::string& root, std::vector<std::string>* strays = nullptr)
{
    std::map<std::string, Stored> found;
    // The agent's copies come and go meanwhile: a walk that met a folder going away is
    // made again.
    for (int attempt = 0; attempt < 20; ++attempt) {
        found.clear();
        if (strays)
            strays->clear();
        std::error_code ec;
        if (!fs::is_directory(root, ec))
            return found;
        fs::recursive_directory_iterator it(root, ec);
        for (const fs::recursive_directory_iterator end; !ec && it != end; it.increment(ec)) {
            const std::string rel = it->path().string().substr(root.size());
            const auto parts = std::count(rel.begin(), rel.end(), '/');
            std::error_code typeError;
            const bool file = it->is_regular_file(typeError);
            if (parts == 2 && file) {
                struct stat st = {}, folder = {};
                if (::stat(it->path().c_str(), &st) == 0 &&
                    ::stat(it->path().parent_path().c_str(), &folder) == 0)
                    found[rel] = {test::ReadFile(it->path().string()), st.st_mtim, folder.st_mtim};
            } else if (strays && (parts > 2 || (parts == 2 && !file) ||
                                  (parts == 0 && file && rel != kBackupIndexName))) {
                strays->push_back(rel);
            }
        }
        if (!ec)
            break;
    }
    return found;
}

enum class Stop
{
    Cancel,
    KillMonitor,
    KillAgent
};

class InterruptedMove : public MonitorE2E, public ::testing::WithParamInterface<Stop>
{
protected:
    void SetUp() override
    {
        StartAgent();
        const std::string shm = "/dev/shm/mvt-imove-" + std::to_string(::getpid()) + "/";
        // Between two file systems where there are two: the copy road is the long one.
        if (fs::is_directory("/dev/shm") && ::access("/dev/shm", W_OK) == 0 &&
            !SameFileSystem("/dev/shm", env.Work())) {
            m_shm = shm;
            m_folders = {m_shm + "b1", env.Work() + "b2"};
        } else {
            m_folders = {env.Work() + "b1", env.Work() + "b2"};
        }
        for (const std::string& folder : m_folders)
            fs::create_directories(folder);
        StartMonitor();
        for (int i = 0; i < kFiles; ++i) {
            const std::string path = env.Work() + "docs/f" + std::to_string(i) + ".bin";
            test::WriteFile(path, Content(i, 0));
            TouchFile(path, -90);
            ASSERT_GE(AddFile(path), 0) << path;
            m_paths.push_back(path);
        }
        for (int i = 0; i < kFiles; ++i)
            ReplaceFile(m_paths[i], Content(i, 1), -30);
        // Every save has its version, and no more come.
        std::size_t last = 0;
        auto steadySince = std::chrono::steady_clock::now();
        ASSERT_TRUE(test::WaitUntil(
            [&] {
                const std::size_t now = Versions(Root()).size();
                if (now != last) {
                    last = now;
                    steadySince = std::chrono::steady_clock::now();
                }
                return now >= 2 * kFiles && std::chrono::steady_clock::now() - steadySince > 1500ms;
            },
            30s))
            << last;
        // A monitor that starts reads the agent's list: every item must be in it.
        ASSERT_TRUE(test::WaitUntil(
            [&] {
                const auto sections = ListSections(env);
                return std::all_of(m_paths.begin(), m_paths.end(), [&](const std::string& path) {
                    return std::find(sections.begin(), sections.end(), path) != sections.end();
                });
            },
            30s));
        program.reset(); // from here on the monitor is a process of its own
    }
    void TearDown() override
    {
        if (m_mover && m_mover->state() != QProcess::NotRunning) {
            m_mover->kill();
            m_mover->waitForFinished();
        }
        // The agent may still be making a version there: it ends first.
        program.reset();
        agent.reset();
        std::error_code ec;
        if (!m_shm.empty())
            fs::remove_all(m_shm, ec);
    }

    static std::string Content(int file, int round)
    {
        std::string text = "file " + std::to_string(file) + " round " + std::to_string(round) + "\n";
        text.resize(kFileBytes, static_cast<char>('a' + (file + round) % 26));
        return text;
    }
    std::string Setting(const char* key)
    {
        IniFile::ClearCache();
        return IniFile(env.Home() + kSettingsFileName).ReadString("Basic", key, "");
    }
    // The backup folder the settings name.
    std::string Root()
    {
        const std::string root = Setting("BackupPath");
        return root.empty() ? env.Home() + kDefaultBackupDir : root;
    }

    // The monitor process moving the backup folder to dest (cancelling after so many files).
    void StartMove(const std::string& dest, int cancelAfter = 0)
    {
        m_mover = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("MORVANE_AUTO_ANSWER", "no");
        environment.insert("XDG_CONFIG_HOME", QString::fromStdString(env.Home() + "config"));
        environment.insert("XDG_DATA_HOME", QString::fromStdString(env.Home() + "xdg"));
        m_mover->setProcessEnvironment(environment);
        m_mover->setProcessChannelMode(QProcess::MergedChannels);
        QStringList args{QString::fromStdString(dest)};
        if (cancelAfter > 0)
            args << QString::number(cancelAfter);
        m_mover->start(QString(MORVANE_TEST_BIN) + "/move_monitor", args);
        m_log.clear();
    }
    bool WaitMoverSays(const std::string& text, std::chrono::milliseconds timeout = 30s)
    {
        return test::WaitUntil(
            [&] {
                m_mover->waitForReadyRead(5);
                m_log += m_mover->readAll().toStdString();
                return m_log.find(text) != std::string::npos;
            },
            timeout);
    }
    // Runs a whole move; its outcome.
    int Move(const std::string& dest, int cancelAfter = 0)
    {
        StartMove(dest, cancelAfter);
        if (!m_mover->waitForFinished(60000))
            return -1;
        m_log += m_mover->readAll().toStdString();
        const std::size_t at = m_log.find("OUTCOME ");
        return at == std::string::npos ? -1 : std::atoi(m_log.c_str() + at + 8);
    }

    // A save of file i whose version must be kept wherever it lands.
    void SaveMeanwhile(int i, int round, const std::string& a, const std::string& b)
    {
        const std::string text = Content(i, round + 2);
        ReplaceFile(m_paths[i], text, round + 1);
        auto has = [&](const std::string& root) {
            for (const auto& [rel, version] : Versions(root)) {
                if (version.Bytes == text)
                    return true;
            }
            return false;
        };
        ASSERT_TRUE(test::WaitUntil([&] { return has(a) || has(b); }, 30s))
            << "round " << round << "\n"
            << agent->Output().substr(agent->Output().size() > 3000 ? agent->Output().size() - 3000 : 0);
    }

    std::unique_ptr<QProcess> m_mover;
    std::string m_log;
    std::string m_shm;
    std::vector<std::string> m_folders;
    std::vector<std::string> m_paths;
};

TEST_P(InterruptedMove, RunAgainFinishesWithEveryVersionOnce)
{
    const Stop stop = GetParam();
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    int stoppedPartWay = 0;
    int noticed = 0; // moves finished through the window started after the kill
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const std::string from = Root();
        const std::string to = WithTrailingSep(m_folders[round % 2]);
        const auto before = Versions(from);
        ASSERT_TRUE(Versions(to).empty());

        if (stop == Stop::Cancel) {
            // The cancel comes after a random number of files (or folders renamed whole).
            const int files = std::uniform_int_distribution<int>(1, static_cast<int>(before.size()))(random);
            const int outcome = Move(to, files);
            ASSERT_TRUE(outcome == monitor::BackupMoveResult::Cancelled ||
                        outcome == monitor::BackupMoveResult::Done)
                << m_log;
            if (outcome == monitor::BackupMoveResult::Cancelled) {
                ++stoppedPartWay;
                // Everything is back where the setting still points.
                EXPECT_EQ(Root(), from);
                EXPECT_EQ(Setting(kMoveToKey), "");
                EXPECT_TRUE(Versions(to).empty());
                EXPECT_EQ(Versions(from).size(), before.size());
            }
        } else {
            StartMove(to);
            ASSERT_TRUE(WaitMoverSays("MOVING")) << m_log;
            // Until a restart has found a move unfinished, the kill waits for the move to be
            // recorded (a slow build records it only after the random delay).
            if (stop == Stop::KillMonitor && noticed == 0)
                test::WaitUntil([&] { return !Setting(kMoveToKey).empty(); }, 10s);
            else
                std::this_thread::sleep_for(
                    std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 150)(random)));
            if (stop == Stop::KillMonitor) {
                ::kill(static_cast<pid_t>(m_mover->processId()), SIGKILL);
                m_mover->waitForFinished();
            } else {
                agent->Kill();
                ASSERT_TRUE(m_mover->waitForFinished(60000));
                StartAgent(false);
            }
            m_log += m_mover->readAll().toStdString();
            stoppedPartWay += m_log.find("OUTCOME 0") == std::string::npos ? 1 : 0;
        }

        // A save while the move is unfinished: its version is kept, under a new number.
        SaveMeanwhile(round % kFiles, round, from, to);
        // The first times, the window started again says so, and its options and move
        // dialogs lead to that folder, where Change finishes the move.
        if (stop == Stop::KillMonitor && noticed < 3 && !Setting(kMoveToKey).empty()) {
            ++noticed;
            MessageBoxes::TakeShownTexts();
            MessageBoxes::PushAnswer(BoxAnswer::No);
            StartMonitor();
            const auto shown = MessageBoxes::TakeShownTexts();
            EXPECT_TRUE(!shown.empty() && shown.front().find(to) != std::string::npos) << m_log;
            ModalDialogs::PushHandler([&](QDialog& options) {
                const auto* notice = options.findChild<QLabel*>("MoveNoticeLabel");
                EXPECT_TRUE(notice->isVisible() &&
                            notice->text().toStdString().find(to) != std::string::npos);
                options.findChild<QPushButton*>("FinishMoveButton")->click();
            });
            ModalDialogs::PushHandler([&](QDialog& dialog) {
                auto& move = static_cast<monitor::TForm5&>(dialog);
                EXPECT_EQ(move.CurrentFolder(), FolderPart(WithoutTrailingSep(to)));
                EXPECT_EQ(move.SelectedFolder(), WithoutTrailingSep(to));
                EXPECT_TRUE(move.findChild<QLabel*>("UnfinishedMoveLabel")->isVisible());
                move.ChangeButtonClick();
            });
            Form().OptionsClick();
            EXPECT_EQ(Root(), to);
            program.reset();
        }
        if (Root() != to) {
            ASSERT_EQ(Move(to), monitor::BackupMoveResult::Done) << m_log;
        }

        std::vector<std::string> strays;
        const auto after = Versions(to, &strays);
        EXPECT_TRUE(strays.empty()) << strays.front();
        EXPECT_TRUE(Versions(from).empty()) << m_log;
        // The save's version, and no copy of a file that did not change.
        EXPECT_EQ(after.size(), before.size() + 1);
        for (const auto& [rel, version] : before) {
            const auto moved = after.find(rel);
            ASSERT_NE(moved, after.end()) << rel;
            EXPECT_EQ(moved->second.Bytes, version.Bytes) << rel;
            EXPECT_EQ(moved->second.Time.tv_sec, version.Time.tv_sec) << rel;
            EXPECT_EQ(moved->second.Time.tv_nsec, version.Time.tv_nsec) << rel;
            EXPECT_EQ(moved->second.FolderTime.tv_sec, version.FolderTime.tv_sec) << rel;
            EXPECT_EQ(moved->second.FolderTime.tv_nsec, version.FolderTime.tv_nsec) << rel;
        }
        EXPECT_EQ(Setting(kMoveToKey), "");
        EXPECT_FALSE(fs::exists(to + monitor::BackupMove::kNoteName));
        EXPECT_EQ(Root(), to);
        if (HasFailure())
            return;
    }
    std::printf("%d of %d rounds were stopped part-way\n", stoppedPartWay, kRounds);
    EXPECT_TRUE(stop != Stop::KillMonitor || noticed > 0);

    // The window: the move's last folder in use, every file's count and versions there.
    StartMonitor();
    const std::string root = Root();
    EXPECT_EQ(Form().Block()->Settings.BackupPath.Get(), root);
    const auto stored = Versions(root);
    for (const std::string& path : m_paths) {
        Select(path);
        const auto item = Form().Items().FileByPath(path);
        ASSERT_TRUE(item);
        int count = 0;
        for (const auto& [rel, version] : stored)
            count += rel.rfind(item->FileID() + "/", 0) == 0 ? 1 : 0;
        ASSERT_TRUE(WaitVersionRows(count)) << path << " " << VersionRows() << " of " << count;
        for (int row = 0; row < VersionRows(); ++row)
            EXPECT_EQ(Form().VerList()->VersionOfRow(row)->Path.rfind(root, 0), 0u);
    }

    // One more move through the window: the lists count in the new folder at once.
    const std::string to = WithTrailingSep(m_folders[kRounds % 2]);
    Select(m_paths[0]);
    const int rowsBefore = VersionRows();
    ModalDialogs::PushHandler([&](QDialog& dialog) {
        auto& form = static_cast<monitor::TForm5&>(dialog);
        form.SetCurrentFolder(FolderPart(WithoutTrailingSep(to)));
        form.SelectFolder(NamePart(WithoutTrailingSep(to)));
        form.ChangeButtonClick();
    });
    Form().BackupFolderDialog();
    EXPECT_EQ(Root(), to);
    EXPECT_EQ(VersionRows(), rowsBefore);
    for (int row = 0; row < VersionRows(); ++row)
        EXPECT_EQ(Form().VerList()->VersionOfRow(row)->Path.rfind(to, 0), 0u);
}

INSTANTIATE_TEST_SUITE_P(Stops, InterruptedMove,
                         ::testing::Values(Stop::Cancel, Stop::KillMonitor, Stop::KillAgent),
                         [](const auto& info) {
                             switch (info.param) {
                             case Stop::Cancel:
                                 return std::string("Cancel");
                             case Stop::KillMonitor:
                                 return std::string("KillMonitor");
                             default:
                                 return std::string("KillAgent");
                             }
                         });

} // namespace
} // namespace morvane::e2e
