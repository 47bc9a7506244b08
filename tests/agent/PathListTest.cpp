#include "agent/AgentCommands.h"

#include <gtest/gtest.h>

using namespace morvane;

TEST(PathList, SplitsAtLineFeedsAndDropsCarriageReturns)
{
    const auto lines = AgentCommands::SplitPathList("/a/one.txt\r\n/a/two/\n/a/three.txt");
    EXPECT_EQ(lines, (std::vector<std::string>{"/a/one.txt", "/a/two/", "/a/three.txt"}));
}

TEST(PathList, SkipsEmptyAndOverLongLines)
{
    const std::string tooLong = "/" + std::string(255, 'x');
    const auto lines = AgentCommands::SplitPathList("\n\r\n/a/kept.txt\n" + tooLong + "\r\n\n/a/last.txt\n");
    EXPECT_EQ(lines, (std::vector<std::string>{"/a/kept.txt", "/a/last.txt"}));
}

TEST(PathList, EmptyTextHasNoLines)
{
    EXPECT_TRUE(AgentCommands::SplitPathList("").empty());
    EXPECT_TRUE(AgentCommands::SplitPathList("\r\n\r\n").empty());
}

TEST(PathList, InnerCarriageReturnStaysInTheLine)
{
    // Only a CR right before the LF ends a line; one inside is left for the path tests
    // (which refuse control characters).
    EXPECT_EQ(AgentCommands::SplitPathList("/a/b\rc\n"), (std::vector<std::string>{"/a/b\rc"}));
}
