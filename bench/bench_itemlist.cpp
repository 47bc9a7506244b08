// Writes 10,000 item records into one list file, then loads them all back, and prints
// records per second for both. Loading must parse the file once, not once per key.
#include "engine/ItemRecordIO.h"
#include "platform/IniFile.h"
#include "platform/OleDate.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

using namespace morvane;
using Clock = std::chrono::steady_clock;

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "morvane-bench-itemlist";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::string list = (dir / "mvlist.srv").string();
    const std::string backup = (dir / "backup/").string();

    auto t0 = Clock::now();
    {
        IniFile file(list);
        IniFile index(backup + "files.lst");
        std::filesystem::create_directories(backup);
        for (int i = 0; i < count; ++i) {
            TMonItemRecord r = EmptyItemRecord();
            r.Path.Set("/home/user/Documents/project-" + std::to_string(i / 100) + "/file-" +
                       std::to_string(i) + ".txt");
            r.FileID.Set("261208" + std::to_string(100000 + i));
            r.Monitored = true;
            r.MonModeInterval = kZeroDuration;
            r.DelModeInterval = EncodeOleDate(1900, 1, 3);
            r.LastTime = EncodeOleDate(2026, 12, 8, 14, 5, i % 60);
            r.VersionNum = i % 1200;
            r.FolderWait = 3;
            WriteItemRecord(r, file, &index);
        }
        file.Flush();
        index.Flush();
    }
    const double writeSec = std::chrono::duration<double>(Clock::now() - t0).count();

    IniFile::ClearCache();
    t0 = Clock::now();
    long checksum = 0;
    {
        IniFile file(list);
        for (const std::string& section : file.ReadSections()) {
            if (section == kDefaultSection)
                continue;
            TMonItemRecord r = EmptyItemRecord();
            r.Path.Set(section);
            ReadItemRecord(r, file, backup);
            checksum += r.VersionNum;
        }
    }
    const double loadSec = std::chrono::duration<double>(Clock::now() - t0).count();

    std::printf("item list: %d records, file %.1f MB\n", count, std::filesystem::file_size(list) / 1048576.0);
    std::printf("write: %.3f s, %.0f records/s (one flush for the whole batch)\n", writeSec,
                count / writeSec);
    std::printf("load:  %.3f s, %.0f records/s (aim: all loaded in under 1 s) [checksum %ld]\n", loadSec,
                count / loadSec, checksum);
    std::filesystem::remove_all(dir);
    return 0;
}
