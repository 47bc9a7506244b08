// INI module figures for a large item list: 10,000 sections of 28 keys.
// Compared against, in the same run: reading the file's bytes and one bare parse of them.
#include "platform/IniDocument.h"
#include "platform/IniFile.h"
#include "platform/OleDate.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

using namespace morvane;

namespace {

constexpr int kSections = 10000;
constexpr int kKeys = 28;

double Ms(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since).count();
}

std::string Section(int s)
{
    return "/home/user/documents/project/file" + std::to_string(s) + ".txt";
}

// Reads one record the way the item loader does: one object, every key.
long ReadRecord(const std::string& path, int s)
{
    IniFile ini(path);
    const std::string section = Section(s);
    long sum = 0;
    for (int k = 0; k < kKeys - 4; ++k)
        sum += ini.ReadInteger(section, "Key" + std::to_string(k), 0);
    sum += static_cast<long>(ini.ReadDate(section, "LastTime", 0));
    sum += static_cast<long>(ini.ReadDate(section, "MonModeInterval", 2));
    sum += static_cast<long>(ini.ReadString(section, "Templates", "").size());
    sum += ini.ReadBool(section, "Monitored", false);
    return sum;
}

} // namespace

int main()
{
    char dir[] = "/tmp/mvbench-XXXXXX";
    if (!::mkdtemp(dir))
        return 1;
    const std::string path = std::string(dir) + "/mvlist.srv";
    const double lastTime = EncodeOleDate(2026, 12, 8, 13, 5, 9);

    auto t = std::chrono::steady_clock::now();
    {
        IniFile ini(path);
        for (int s = 0; s < kSections; ++s) {
            const std::string section = Section(s);
            for (int k = 0; k < kKeys - 4; ++k)
                ini.WriteInteger(section, "Key" + std::to_string(k), s + k);
            ini.WriteDate(section, "LastTime", lastTime);
            ini.WriteDate(section, "MonModeInterval", kZeroDuration);
            ini.WriteString(section, "Templates", "*.doc;*.txt");
            ini.WriteBool(section, "Monitored", true);
        }
        std::printf("write %d records x %d keys, pending:  %8.1f ms\n", kSections, kKeys, Ms(t));
        t = std::chrono::steady_clock::now();
        ini.Flush();
        std::printf("  then the one flush:                       %8.1f ms\n", Ms(t));
    }

    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    t = std::chrono::steady_clock::now();
    bytes << in.rdbuf();
    const std::string text = bytes.str();
    std::printf("  baseline: read the %zu bytes:            %8.1f ms\n", text.size(), Ms(t));
    t = std::chrono::steady_clock::now();
    const IniDocument doc = IniDocument::Parse(text);
    std::printf("  baseline: one parse of them:              %8.1f ms\n", Ms(t));

    long sum = 0;
    IniFile::ClearCache();
    t = std::chrono::steady_clock::now();
    for (int s = 0; s < kSections; ++s)
        sum += ReadRecord(path, s);
    std::printf("load every record, cold cache:              %8.1f ms\n", Ms(t));
    t = std::chrono::steady_clock::now();
    for (int s = 0; s < kSections; ++s)
        sum += ReadRecord(path, s);
    std::printf("load every record, warm cache:              %8.1f ms\n", Ms(t));

    t = std::chrono::steady_clock::now();
    for (int i = 0; i < 20; ++i) {
        IniFile ini(path);
        ini.WriteInteger(Section(i * 37), "Key3", i);
        ini.WriteDate(Section(i * 37), "LastTime", lastTime + i);
        ini.Flush();
    }
    std::printf("save one record into the large file (avg):  %8.1f ms\n", Ms(t) / 20);

    std::printf("(checksum %ld)\n", sum);
    std::remove(path.c_str());
    ::rmdir(dir);
    return 0;
}
