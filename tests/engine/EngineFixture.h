#pragma once

#include "ScriptedHost.h"
#include "common/TestSupport.h"
#include "engine/ItemRecordIO.h"
#include "engine/SharedBlock.h"
#include "engine/TRKMonFolder.h"
#include "engine/TRKMonItem.h"
#include "engine/TRKMonItems.h"
#include "engine/VersionStore.h"
#include "platform/IniFile.h"
#include "platform/OleDate.h"
#include "platform/Paths.h"

#include <QDateTime>
#include <chrono>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace morvane::test {

// Sets a file's or folder's modification time to a local calendar time.
inline void SetModTime(const std::string& path, int year, int month, int day, int hour = 0, int minute = 0,
                       int second = 0)
{
    const QDateTime local(QDate(year, month, day), QTime(hour, minute, second), Qt::LocalTime);
    const auto sys = std::chrono::sys_seconds(std::chrono::seconds(local.toSecsSinceEpoch()));
    std::filesystem::last_write_time(path, std::chrono::file_clock::from_sys(sys));
}

// Sets a modification time that lies age days before now.
inline void SetAge(const std::string& path, double days)
{
    const auto when =
        std::chrono::system_clock::now() - std::chrono::seconds(static_cast<long long>(days * 86400));
    std::filesystem::last_write_time(
        path, std::chrono::file_clock::from_sys(std::chrono::floor<std::chrono::seconds>(when)));
}

// An active engine on a private home folder, with a scripted host and a block in memory.
class EngineFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        IniFile::ClearCache();
        block.reset(new SharedBlock());
        block->Texts[TxtMesConfirmation].Set("Create a new version of");
        block->Texts[TxtMesNewVersion].Set("New version");
        block->Texts[TxtMesExistsVersion].Set("Version already exists");
        block->Texts[TxtMesBrokenFile].Set("is missing");
        block->Settings.ShowBaloon = true;
        items = std::make_unique<TRKMonItems>(block.get(), &host, env.Home());
        items->SetActive(true);
    }

    std::string BackupRoot() const { return env.Home() + "backup/"; }
    std::string Work(const std::string& name) const { return env.Work() + name; }
    std::string ItemFolder(const TRKMonItem& item) const
    {
        return ItemBackupFolder(BackupRoot(), item.FileID());
    }

    // A file item for path (the file is written when text is given), with options applied.
    std::shared_ptr<TRKMonItem> AddFile(const std::string& path,
                                        const std::function<void(TMonItemRecord&)>& options = {})
    {
        TMonItemRecord record = EmptyItemRecord();
        record.Path.Set(path);
        std::shared_ptr<TRKMonItem> item = items->Add(record, "");
        if (options)
            item->UpdateData(options);
        return item;
    }

    // Names of the item's version folders in numeric order.
    std::vector<std::string> Versions(const TRKMonItem& item) const
    {
        std::vector<std::string> names;
        for (const VersionEntry& v : ListVersionFolders(ItemFolder(item)))
            names.push_back(v.Name);
        return names;
    }

    TestEnv env;
    ScriptedHost host;
    std::unique_ptr<SharedBlock> block;
    std::unique_ptr<TRKMonItems> items;
};

} // namespace morvane::test
