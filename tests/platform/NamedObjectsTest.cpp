#include "ChildProcess.h"
#include "common/TestSupport.h"
#include "platform/NamedMapping.h"
#include "platform/NamedMutex.h"

#include <QDir>
#include <QFileInfo>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <system_error>
#include <unistd.h>

namespace morvane {
namespace {

using test::ChildProcess;

class NamedObjects : public ::testing::Test
{
protected:
    std::string RuntimeFile(const std::string& name) const { return m_env.Runtime() + name; }
    bool AllZero(const NamedMapping& mapping) const
    {
        const auto* bytes = static_cast<const unsigned char*>(mapping.Data());
        for (std::size_t i = 0; i < mapping.Size(); ++i)
            if (bytes[i] != 0)
                return false;
        return true;
    }
    std::string BytesAt(const NamedMapping& mapping, std::size_t offset, std::size_t len) const
    {
        return std::string(static_cast<const char*>(mapping.Data()) + offset, len);
    }

    test::TestEnv m_env;
};

TEST_F(NamedObjects, MutexIsTakenOnceAcrossProcessesAndFreedWhenItsHolderIsKilled)
{
    EXPECT_FALSE(NamedMutex::IsHeld("M"));
    auto mine = NamedMutex::TryAcquire("M");
    ASSERT_TRUE(mine);
    EXPECT_FALSE(NamedMutex::TryAcquire("M")) << "a second owner in the same process";
    EXPECT_TRUE(NamedMutex::IsHeld("M"));
    ChildProcess refused({"hold-mutex", "M"});
    EXPECT_EQ(refused.ReadLine(), "busy");

    mine.reset();
    EXPECT_FALSE(NamedMutex::IsHeld("M"));
    ChildProcess holder({"hold-mutex", "M"});
    ASSERT_EQ(holder.ReadLine(), "ready");
    EXPECT_TRUE(NamedMutex::IsHeld("M"));
    EXPECT_FALSE(NamedMutex::TryAcquire("M"));

    holder.Kill();
    EXPECT_FALSE(NamedMutex::IsHeld("M"));
    EXPECT_TRUE(NamedMutex::TryAcquire("M"));
}

TEST_F(NamedObjects, ChildProcessesInheritNoHold)
{
    auto mutex = NamedMutex::TryAcquire("M");
    ASSERT_TRUE(mutex);
    std::optional<NamedMapping> mapping = NamedMapping::Create("B", 64);
    ChildProcess child({"hold-mutex", "Other"});
    ASSERT_EQ(child.ReadLine(), "ready");

    mutex.reset();
    mapping.reset();
    EXPECT_FALSE(NamedMutex::IsHeld("M"));
    EXPECT_FALSE(NamedMapping::Exists("B"));
}

TEST_F(NamedObjects, PresenceTestsCreateNothing)
{
    EXPECT_FALSE(NamedMapping::Exists("B"));
    EXPECT_FALSE(NamedMapping::Exists("B", "M"));
    EXPECT_FALSE(NamedMapping::OpenExisting("B"));
    EXPECT_FALSE(NamedMapping::OpenExisting("B", "M"));
    EXPECT_FALSE(NamedMutex::IsHeld("M"));
    EXPECT_TRUE(QDir(QString::fromStdString(m_env.Runtime())).isEmpty());

    // A block made and dropped again leaves files behind, yet counts as absent.
    NamedMapping::Create("B", 64);
    EXPECT_FALSE(NamedMapping::Exists("B"));
    EXPECT_FALSE(NamedMapping::OpenExisting("B"));
}

TEST_F(NamedObjects, BadNamesAndSizesAreRefused)
{
    EXPECT_THROW(NamedMapping::Create("a/b", 64), std::system_error);
    EXPECT_THROW(NamedMapping::Create("..", 64), std::system_error);
    EXPECT_THROW(NamedMapping::Create("B", 0), std::system_error);
    EXPECT_THROW(NamedMutex::TryAcquire(""), std::system_error);
}

TEST_F(NamedObjects, MappingHeldByAChildExistsUntilTheChildIsKilled)
{
    ChildProcess holder({"hold-mapping", "B", "8192"});
    ASSERT_EQ(holder.ReadLine(), "ready existed=0 size=8192");
    EXPECT_TRUE(NamedMapping::Exists("B"));

    holder.Kill();
    EXPECT_FALSE(NamedMapping::Exists("B"));
    EXPECT_FALSE(NamedMapping::OpenExisting("B"));
}

TEST_F(NamedObjects, ProcessesShareTheBytesAndAJoinNeverShrinks)
{
    ChildProcess writer({"write-mapping", "B", "100", "hello"});
    ASSERT_EQ(writer.ReadLine(), "ready existed=0 size=4096");

    bool existed = false;
    NamedMapping joined = NamedMapping::Create("B", 50, &existed);
    EXPECT_TRUE(existed);
    EXPECT_EQ(joined.Size(), 4096u);
    EXPECT_EQ(BytesAt(joined, 100, 5), "hello");

    auto opened = NamedMapping::OpenExisting("B");
    ASSERT_TRUE(opened);
    EXPECT_EQ(BytesAt(*opened, 100, 5), "hello");

    std::memcpy(static_cast<char*>(opened->Data()) + 200, "world", 5);
    ChildProcess reader({"read-mapping", "B", "200", "5"});
    EXPECT_EQ(reader.ReadLine(), "world");
}

TEST_F(NamedObjects, AMappingNobodyHoldsStartsZeroFilled)
{
    // Left behind by a holder that was killed ...
    {
        ChildProcess writer({"write-mapping", "B", "0", "stale"});
        ASSERT_EQ(writer.ReadLine(), "ready existed=0 size=4096");
    }
    bool existed = true;
    {
        NamedMapping fresh = NamedMapping::Create("B", 4096, &existed);
        EXPECT_FALSE(existed);
        EXPECT_TRUE(AllZero(fresh));
    }

    // ... or a stale file, larger than asked for, full of bytes.
    test::WriteFile(RuntimeFile("B.shm"), std::string(10000, '\xAB'));
    NamedMapping fresh = NamedMapping::Create("B", 2048, &existed);
    EXPECT_FALSE(existed);
    EXPECT_EQ(fresh.Size(), 2048u);
    EXPECT_TRUE(AllZero(fresh));
}

TEST_F(NamedObjects, RequiredMutexHolderMustBeAlive)
{
    ChildProcess agent({"hold-mapping", "B", "4096", "M"});
    ASSERT_EQ(agent.ReadLine(), "ready existed=0 size=4096");
    EXPECT_TRUE(NamedMapping::Exists("B", "M"));
    auto mine = NamedMapping::OpenExisting("B", "M");
    ASSERT_TRUE(mine);

    agent.Kill();
    // Our own hold keeps the block alive, but it no longer counts as the agent's.
    EXPECT_TRUE(NamedMapping::Exists("B"));
    EXPECT_FALSE(NamedMapping::Exists("B", "M"));
    EXPECT_FALSE(NamedMapping::OpenExisting("B", "M"));
}

TEST_F(NamedObjects, AFileCutShortUnderItsHoldersIsGrownBackOnTouch)
{
    // Where the file is cut, and where the holder touches it afterwards.
    const struct
    {
        off_t cutTo;
        std::size_t touch;
    } cases[] = {{0, 0}, {0, 3 * 4096 - 1}, {100, 4096}, {4096, 2 * 4096 + 7}};
    for (const auto& c : cases) {
        NamedMapping mapping = NamedMapping::Create("B", 3 * 4096);
        auto opened = NamedMapping::OpenExisting("B");
        ASSERT_TRUE(opened);
        char* bytes = static_cast<char*>(mapping.Data());
        bytes[c.touch] = 'x';
        const unsigned before = NamedMapping::RegrownCount();
        ASSERT_EQ(::truncate(RuntimeFile("B.shm").c_str(), c.cutTo), 0);

        bytes[c.touch] = 'y'; // dies here unless the file is grown back
        EXPECT_EQ(static_cast<const char*>(opened->Data())[c.touch], 'y') << c.touch;
        EXPECT_EQ(NamedMapping::RegrownCount(), before + 1) << c.touch;
        EXPECT_EQ(QFileInfo(QString::fromStdString(RuntimeFile("B.shm"))).size(), 3 * 4096) << c.touch;
    }
}

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer's handler was there first: the fault goes on to it, which reports it and
// ends the process.
const auto kBusErrorEnds = [](int status) {
    return WIFEXITED(status) && WEXITSTATUS(status) != 0;
};
const char* const kBusErrorSays = "AddressSanitizer.*BUS";
#else
const auto kBusErrorEnds = ::testing::KilledBySignal(SIGBUS);
const char* const kBusErrorSays = "";
#endif

TEST_F(NamedObjects, ABusErrorOutsideTheMappingsStillEndsTheProcess)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string path = RuntimeFile("plain");
    test::WriteFile(path, std::string(8192, 'a'));
    EXPECT_EXIT(
        {
            NamedMapping mapping = NamedMapping::Create("B", 4096);
            const int fd = ::open(path.c_str(), O_RDWR);
            auto* other =
                static_cast<volatile char*>(::mmap(nullptr, 8192, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
            if (::ftruncate(fd, 0) != 0)
                std::_Exit(3);
            other[4096] = 'b';
            std::_Exit(0);
        },
        kBusErrorEnds, kBusErrorSays);
}

} // namespace
} // namespace morvane
