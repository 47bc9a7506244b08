#include "engine/PackedItemRecord.h"

#include "common/RowNames.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace morvane {
namespace {

// Records that must come back to the byte: empty, typical, every text full, and stray
// bytes where records we build hold zeros (past a text's length, in gaps and reserved
// bytes), as a record from another program may.
TMonItemRecord Case(int which)
{
    TMonItemRecord r = EmptyItemRecord();
    if (which == 0)
        return r;
    r.Path.Set("/home/user/docs/report.txt");
    r.FileID.Set("1a2b");
    r.LastTime = 45000.123456789;
    r.IsFolder = which == 2;
    r.Monitored = true;
    r.MonStatus = msBroken;
    r.VersionNum = 123456;
    if (which == 1)
        return r;
    const std::string full(255, '\xC3');
    r.Path.Set(full);
    r.LastVersionPath.Set(full);
    r.FileID.Set(full);
    r.Executer.Set(full);
    r.Templates.Set(full);
    if (which == 2)
        return r;
    auto* bytes = reinterpret_cast<unsigned char*>(&r);
    for (std::size_t i = 0; i < sizeof r; i += 7)
        bytes[i] = static_cast<unsigned char>(i | 1);
    return r;
}

class PackedItemRecordTest : public ::testing::TestWithParam<int>
{
};

TEST_P(PackedItemRecordTest, UnpacksToTheSameBytesAndReadsItsFields)
{
    const TMonItemRecord r = Case(GetParam());
    const PackedItemRecord packed(r);
    const TMonItemRecord back = packed;
    EXPECT_EQ(std::memcmp(&back, &r, sizeof r), 0);
    EXPECT_EQ(packed.Path().Get(), r.Path.Get());
    EXPECT_EQ(packed.FileID().Get(), r.FileID.Get());
    EXPECT_EQ(packed.LastVersionPath().Get(), r.LastVersionPath.Get());
    EXPECT_EQ(packed.IsFolder(), r.IsFolder);
    EXPECT_EQ(packed.Monitored(), r.Monitored);
    EXPECT_EQ(packed.MonStatus(), r.MonStatus);
    EXPECT_EQ(std::memcmp(&r.LastTime, &back.LastTime, sizeof(double)), 0);
    const double last = packed.LastTime();
    EXPECT_EQ(std::memcmp(&last, &r.LastTime, sizeof last), 0);
}

// Changes made in place through Update: each must read back exactly, whether it touches
// the fixed bytes only, a text, a stray byte past a text's length, or the reserved bytes.
TEST_P(PackedItemRecordTest, UpdatesReadBackToTheByte)
{
    struct Change
    {
        const char* Name;
        void (*Apply)(TMonItemRecord&);
    };
    const Change changes[] = {
        {"flags, counters and dates",
         [](TMonItemRecord& r) {
             r.Monitored = !r.Monitored;
             r.VersionNum += 7;
             r.LastTime += 1.5;
             r.FolderWait = 1616;
         }},
        {"last gap byte",
         [](TMonItemRecord& r) {
             reinterpret_cast<unsigned char*>(&r)[sizeof r - 1] ^= 0x5A;
         }},
        {"a longer path",
         [](TMonItemRecord& r) {
             r.Path.Set(r.Path.Get() + "x");
         }},
        {"an emptied text",
         [](TMonItemRecord& r) {
             r.Templates.Set("");
         }},
        {"a byte behind a text's length",
         [](TMonItemRecord& r) {
             r.FileID.Chars[200] ^= 0x11;
         }},
        {"a reserved byte",
         [](TMonItemRecord& r) {
             r.Reserved[255] ^= 0x22;
         }},
    };
    for (const Change& change : changes) {
        SCOPED_TRACE(change.Name);
        const TMonItemRecord before = Case(GetParam());
        PackedItemRecord packed(before);
        TMonItemRecord after = before;
        change.Apply(after);
        packed.Update(before, after);
        const TMonItemRecord back = packed;
        EXPECT_EQ(std::memcmp(&back, &after, sizeof after), 0);
        EXPECT_EQ(packed.Path().Get(), after.Path.Get());
        EXPECT_EQ(packed.Monitored(), after.Monitored);
    }
}

INSTANTIATE_TEST_SUITE_P(Records, PackedItemRecordTest, ::testing::Values(0, 1, 2, 3), test::ValueRowName());

} // namespace
} // namespace morvane
