#include "agent/OpenCommand.h"

#include "common/RowNames.h"

#include <gtest/gtest.h>

using namespace morvane;

namespace {

struct OpenCase
{
    std::string Text;
    std::string File;
    std::vector<std::string> Parameters;
    std::string Directory;
};

class OpenTable : public ::testing::TestWithParam<OpenCase>
{
};

} // namespace

TEST_P(OpenTable, SplitsProgramAndQuotedFile)
{
    const OpenCase& c = GetParam();
    const OpenCommand command = OpenCommand::Parse(c.Text);
    EXPECT_EQ(command.File, c.File) << c.Text;
    EXPECT_EQ(command.Parameters, c.Parameters) << c.Text;
    EXPECT_EQ(command.Directory, c.Directory) << c.Text;
}

INSTANTIATE_TEST_SUITE_P(
    Agent, OpenTable,
    ::testing::Values(
        // A program, one blank, the quoted file: the blank stays with the program (the
        // starter trims it), the quoted file is one parameter, quotes included.
        OpenCase{"/usr/bin/viewer \"/data/a b.txt\"", "/usr/bin/viewer ", {"\"/data/a b.txt\""}, "/data/"},
        // Only the quoted file: it is opened itself.
        OpenCase{"\"/data/report.pdf\"", "\"/data/report.pdf\"", {}, "/data/"},
        // Quotes, ";" and "$(...)" inside the file name stay inside the one parameter.
        OpenCase{
            "/bin/prog \"/d/x\"y;$(rm -rf z).txt\"", "/bin/prog ", {"\"/d/x\"y;$(rm -rf z).txt\""}, "/d/"},
        // Without any quote the whole text is the file, and its folder keeps its first
        // character.
        OpenCase{"/data/plain.txt", "/data/plain.txt", {}, "/data/"},
        // Blanks alone before the quote are no program.
        OpenCase{"   \"/data/a.txt\"", "\"/data/a.txt\"", {}, "/data/"}, OpenCase{"", "", {}, ""}),
    test::RowNamesBy(&OpenCase::Text));
