#include "platform/Compression.h"

#include "common/TestSupport.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace morvane;

namespace {

TEST(Compression, RefusalsReadNaturallyAndNeverHang)
{
    test::TestEnv env;
    EXPECT_EQ(DriveSupportsCompression(env.Work() + "not/made/yet/"), DriveSupportsCompression(env.Work()));
    if (DriveSupportsCompression(env.Work()))
        GTEST_SKIP() << "the scratch volume compresses";
    ASSERT_EQ(::mkfifo((env.Work() + "pipe").c_str(), 0600), 0);
    const std::pair<std::string, int> cases[] = {
        {env.Work(), EOPNOTSUPP}, {env.Work() + "pipe", EOPNOTSUPP}, {env.Work() + "missing", ENOENT}};
    for (const auto& [path, err] : cases) {
        try {
            SetFileCompression(path, 1);
            ADD_FAILURE() << path;
        } catch (const std::system_error& e) {
            EXPECT_EQ(e.code().value(), err);
            EXPECT_EQ(std::string(e.what()), "Cannot switch on compression for " + path + ": " +
                                                 std::generic_category().message(err));
        }
    }
}

} // namespace
