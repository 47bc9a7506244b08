#include "support/CommandLine.h"

#include "common/RowNames.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <vector>

using namespace morvane;

namespace {

struct ArgsCase
{
    std::vector<std::string> args;
    bool ends;
    std::string says; // the first line of what is written
};

void PrintTo(const ArgsCase& c, std::ostream* out)
{
    for (const std::string& a : c.args)
        *out << a << ' ';
}

class InfoOptions : public ::testing::TestWithParam<ArgsCase>
{
};

TEST_P(InfoOptions, AnsweredWithoutStartingTheProgram)
{
    const ArgsCase& c = GetParam();
    std::vector<std::string> storage{"quennet"};
    storage.insert(storage.end(), c.args.begin(), c.args.end());
    std::vector<char*> argv;
    for (std::string& s : storage)
        argv.push_back(s.data());
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    const ProgramInfo info{"quennet", "The agent.", "Details.\n"};
    EXPECT_EQ(AnswerInfoOption(int(argv.size()), argv.data(), info, out), c.ends);
    std::rewind(out);
    char line[256] = {};
    const std::string first = std::fgets(line, sizeof line, out) ? line : "";
    std::fclose(out);
    EXPECT_EQ(first, c.says);
}

INSTANTIATE_TEST_SUITE_P(
    Table, InfoOptions,
    ::testing::Values(ArgsCase{{"--version"}, true, "quennet (Morvane) " MORVANE_VERSION "\n"},
                      ArgsCase{{"-v"}, true, "quennet (Morvane) " MORVANE_VERSION "\n"},
                      ArgsCase{{"--help"}, true, "Usage: quennet [--help] [--version]\n"},
                      ArgsCase{{"/home/u/a file.txt", "-h"}, true, "Usage: quennet [--help] [--version]\n"},
                      // The toolkit's own options and the program's arguments are not ours.
                      ArgsCase{{"-platform", "offscreen"}, false, ""}, ArgsCase{{}, false, ""},
                      ArgsCase{{"--", "--help"}, false, ""}, ArgsCase{{"--helpful"}, false, ""}),
    test::RowNamesBy(&ArgsCase::args));

} // namespace
