#include "support/CommandLine.h"

#include <string_view>

namespace morvane {

bool AnswerInfoOption(int argc, char** argv, const ProgramInfo& info, std::FILE* out)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        // What follows "--" is the program's own, never an option.
        if (arg == "--")
            return false;
        if (arg == "--version" || arg == "-v") {
            std::fprintf(out, "%s (Morvane) %s\n", info.Name, MORVANE_VERSION);
            return true;
        }
        if (arg == "--help" || arg == "-h") {
            std::fprintf(out, "Usage: %s [--help] [--version]\n%s\n\n%s", info.Name, info.Summary,
                         info.Details);
            std::fprintf(
                out,
                "\n  -h, --help     show this help and end\n  -v, --version  show the version and end\n");
            return true;
        }
    }
    return false;
}

} // namespace morvane
