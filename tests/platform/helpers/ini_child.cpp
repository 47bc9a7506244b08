// Child process for the INI tests: another program writing the same files.
//   ini_child set <path> <section> <key> <value>   one write, flushed
//   ini_child count <path> <key> <n>               n read-increment-write rounds
//   ini_child rewrite <path> <rounds> <sections>   rewrites the whole file every round
#include "platform/IniFile.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

using morvane::IniFile;

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    const std::string mode = argv[1];
    const std::string path = argv[2];
    try {
        if (mode == "set" && argc == 6) {
            IniFile ini(path);
            ini.WriteString(argv[3], argv[4], argv[5]);
            ini.Flush();
        } else if (mode == "count" && argc == 5) {
            const int rounds = std::atoi(argv[4]);
            for (int i = 0; i < rounds; ++i) {
                IniFile ini(path);
                ini.WriteInteger("Counters", argv[3], ini.ReadInteger("Counters", argv[3], 0) + 1);
                ini.Flush();
            }
        } else if (mode == "rewrite" && argc == 5) {
            const int rounds = std::atoi(argv[3]);
            const int sections = std::atoi(argv[4]);
            for (int round = 1; round <= rounds; ++round) {
                IniFile ini(path);
                for (int s = 0; s < sections; ++s) {
                    const std::string section = "/data/file" + std::to_string(s);
                    ini.WriteInteger(section, "Round", round);
                    // Varying length, so a torn file could not pass for a whole one.
                    ini.WriteString(section, "Text", std::string(static_cast<std::size_t>(round % 50), 'x'));
                }
                ini.WriteInteger("End", "Round", round);
                ini.Flush();
            }
        } else {
            return 2;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
