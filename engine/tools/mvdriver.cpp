// A console driver of the engine, for tests and benchmarks: it runs the engine the way
// the agent does (active: watching and versioning) or the way the monitor does
// (passive: load and list), with a console host in place of windows and tray.
//
//   mvdriver --active|--passive [--list FILE] [--home DIR] [--exit-after SECONDS] [--yes|--no]
//
// Active prints "READY" once the list is loaded and "VERSION <path>" for every version
// reported; passive prints one line per item: path, FileID, status, VersionNum (tab
// separated), folders after files. Boxes go to stderr and are answered Yes (or No with
// --no). The list file defaults to the home folder's "mvlist.srv".
#include "engine/EngineHost.h"
#include "engine/ItemRecordIO.h"
#include "engine/SharedBlock.h"
#include "engine/TMonDirThread.h"
#include "engine/TRKMonFolder.h"
#include "engine/TRKMonItem.h"
#include "engine/TRKMonItems.h"
#include "platform/OleDate.h"
#include "platform/Paths.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>

using namespace morvane;

namespace {

class ConsoleHost : public EngineHost
{
public:
    ConsoleHost(QObject* context, bool answerYes) : m_context(context), m_answerYes(answerYes) {}

    void SetItems(TRKMonItems* items) { m_items = items; }

    void ShowMainWindow() override {}
    void BringMainWindowToFront() override {}
    void HideMainWindow() override {}
    void SetBalloonTitle(const std::string& title) override { m_title = title; }
    void SetBalloonText(const std::string& text) override { m_text = text; }
    void ShowBalloon() override
    {
        std::cout << "VERSION " << VersionPath(m_text) << std::endl;
        std::cerr << "balloon: " << m_title << ": " << m_text << std::endl;
    }
    void SetTrayImage(int) override {}

    BoxAnswer ShowMessage(BoxKind, const std::string& text, BoxButtons buttons) override
    {
        std::cerr << "BOX " << text << std::endl;
        if (buttons == BoxButtons::Ok)
            return BoxAnswer::Ok;
        return m_answerYes ? BoxAnswer::Yes : BoxAnswer::No;
    }

    void PostToMainThread(std::function<void()> fn) override
    {
        QMetaObject::invokeMethod(m_context, std::move(fn), Qt::QueuedConnection);
    }
    bool IsMainThread() const override { return QThread::currentThread() == m_context->thread(); }

private:
    // The balloon names only the version file; the item being reported is the one whose
    // last version has that name and whose file date is not recorded yet.
    std::string VersionPath(const std::string& name) const
    {
        if (!m_items)
            return name;
        std::string fallback;
        for (const auto& item : m_items->Files()) {
            const std::string last = item->LastVersionPath();
            if (last.empty() || NamePart(last) != name)
                continue;
            const auto date = FileDate(item->Path());
            if (date && *date != item->LastTime())
                return last;
            if (fallback.empty())
                fallback = last;
        }
        return fallback.empty() ? name : fallback;
    }

    QObject* m_context;
    bool m_answerYes;
    TRKMonItems* m_items = nullptr;
    std::string m_title;
    std::string m_text;
};

const char* StatusName(TMonStatus s)
{
    switch (s) {
    case msDisabled:
        return "Disabled";
    case msActive:
        return "Active";
    case msBroken:
        return "Broken";
    }
    return "Unknown";
}

int Usage()
{
    std::cerr << "usage: mvdriver --active|--passive [--list FILE] [--home DIR] [--exit-after SECONDS] "
                 "[--yes|--no]"
              << std::endl;
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);

    int mode = 0; // 1 active, 2 passive
    std::string list;
    double exitAfter = -1;
    bool answerYes = true;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--active")
            mode = 1;
        else if (a == "--passive")
            mode = 2;
        else if (a == "--yes")
            answerYes = true;
        else if (a == "--no")
            answerYes = false;
        else if (a == "--list" && hasValue)
            list = argv[++i];
        else if (a == "--home" && hasValue)
            setenv("MORVANE_HOME", argv[++i], 1);
        else if (a == "--exit-after" && hasValue)
            exitAfter = std::atof(argv[++i]);
        else
            return Usage();
    }
    if (mode == 0)
        return Usage();

    try {
        const std::string home = HomeDir();
        if (list.empty())
            list = home + kListFileName;

        // The engine's block: settings and texts as the agent would put them there; no
        // monitor runs.
        auto block = std::make_unique<SharedBlock>();
        std::memset(static_cast<void*>(block.get()), 0, sizeof(SharedBlock));
        block->Settings.ShowBaloon = true;
        block->AgentDir.Set(home);
        for (int slot = 0; slot < kTextSlotCount; ++slot) {
            if (kTextSlots[slot].Default)
                block->Texts[slot].Set(kTextSlots[slot].Default);
        }

        QObject context;
        ConsoleHost host(&context, answerYes);
        TRKMonItems items(block.get(), &host, home);
        host.SetItems(&items);
        items.SetListFile(list);
        block->Settings.BackupPath.Set(items.BackupRoot());

        if (mode == 2) {
            for (const std::string& skipped : items.LoadAll())
                std::cerr << "skipped: " << skipped << std::endl;
            auto print = [](const TRKMonItem& item) {
                std::cout << item.Path() << '\t' << item.FileID() << '\t' << StatusName(item.MonStatus())
                          << '\t' << item.Data().VersionNum << '\n';
            };
            for (const auto& f : items.Files())
                print(*f);
            for (const auto& f : items.Folders())
                print(*f);
            std::cout.flush();
            return 0;
        }

        items.SetActive(true);
        TMonDirThread::Install(items);
        for (const std::string& skipped : items.LoadAll())
            std::cerr << "skipped: " << skipped << std::endl;
        std::cout << "READY" << std::endl;
        if (exitAfter >= 0)
            QTimer::singleShot(static_cast<int>(exitAfter * 1000), &app, &QCoreApplication::quit);
        const int rc = app.exec();
        items.StopAllWatches();
        return rc;
    } catch (const std::exception& e) {
        std::cerr << "mvdriver: " << e.what() << std::endl;
        return 1;
    }
}
