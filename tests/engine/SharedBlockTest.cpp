#include "engine/SharedBlock.h"

#include "common/TestSupport.h"
#include "engine/ItemRecordIO.h"
#include "platform/IniFile.h"
#include "platform/NamedMutex.h"

#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <set>
#include <vector>

namespace morvane {
namespace {

std::uint32_t Le32At(const std::vector<unsigned char>& raw, std::size_t offset)
{
    return std::uint32_t(raw[offset]) | std::uint32_t(raw[offset + 1]) << 8 |
           std::uint32_t(raw[offset + 2]) << 16 | std::uint32_t(raw[offset + 3]) << 24;
}

std::string TextAt(const std::vector<unsigned char>& raw, std::size_t offset)
{
    return std::string(reinterpret_cast<const char*>(&raw[offset + 1]), raw[offset]);
}

class SharedBlockLayout : public ::testing::Test
{
protected:
    std::vector<unsigned char> Raw() const
    {
        std::vector<unsigned char> raw(sizeof(SharedBlock));
        std::memcpy(raw.data(), m_block.get(), raw.size());
        return raw;
    }
    std::unique_ptr<SharedBlock> m_block = std::make_unique<SharedBlock>();
};

TEST_F(SharedBlockLayout, FieldsSitAtTheirFixedByteOffsets)
{
    SharedBlock& b = *m_block;
    b.MonitorWnd = 0x11223344;
    b.Settings.LimitShowNumber = 0x01020304;
    b.Settings.DateFormat.Set("dd/mm/yyyy");
    b.MessageIds[MsgStart] = 0xC00A;
    b.MessageIds[MsgActivate] = 0xC0FF;
    b.AgentWnd = 0xA1B2C3D4;
    b.ItemRecord.FileID.Set("f12");
    b.ItemRecord.LastTime = 1.5;
    b.ItemRecord.IsFolder = true;
    b.Texts[TxtStatusBarNoFiles].Set("none");
    b.AddHandshake = true;
    ASSERT_TRUE(b.SetPathArg("/a/b"));

    const std::vector<unsigned char> raw = Raw();
    EXPECT_EQ(Le32At(raw, 4), 0x11223344u);
    EXPECT_EQ(Le32At(raw, 780), 0x01020304u);
    EXPECT_EQ(TextAt(raw, 521), "dd/mm/yyyy");
    EXPECT_EQ(Le32At(raw, 1052), 0xC00Au);
    EXPECT_EQ(Le32At(raw, 1088), 0xC0FFu);
    EXPECT_EQ(Le32At(raw, 1092), 0xA1B2C3D4u);
    EXPECT_EQ(TextAt(raw, 1609), "f12");
    double lastTime = 0;
    std::memcpy(&lastTime, &raw[2184], sizeof lastTime);
    EXPECT_EQ(lastTime, 1.5);
    EXPECT_EQ(raw[2192], 1);
    EXPECT_EQ(TextAt(raw, 9632), "none");
    EXPECT_EQ(raw[10145], 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&raw[10146])), "/a/b");
}

TEST_F(SharedBlockLayout, PathArgumentMustFitWithItsEnd)
{
    SharedBlock& b = *m_block;
    ASSERT_TRUE(b.SetPathArg("/kept"));
    EXPECT_FALSE(b.SetPathArg(std::string(1024, 'p')));
    EXPECT_FALSE(b.SetPathArg(std::string("/a\0b", 4)));
    EXPECT_EQ(b.PathArgText(), "/kept");

    const std::string longest(1023, 'p');
    ASSERT_TRUE(b.SetPathArg(longest));
    EXPECT_EQ(b.PathArgText(), longest);
    ASSERT_TRUE(b.SetPathArg("/x"));
    EXPECT_EQ(b.PathArgText(), "/x") << "the rest of an earlier, longer path must not show";

    // A writer that left no NUL: the text ends with the field.
    std::memset(b.PathArg, 'q', sizeof b.PathArg);
    EXPECT_EQ(b.PathArgText(), std::string(1024, 'q'));
}

TEST(SharedBlockTables, MessagesAndTextSlotsKeepTheirOrder)
{
    EXPECT_STREQ(kMessageNames[MsgAdd], "PELLARY_MESSAGE_ADD");
    // A monitor picks START or STOP by index: 3 minus the wanted state.
    EXPECT_STREQ(kMessageNames[3 - 1], "PELLARY_MESSAGE_START");
    EXPECT_STREQ(kMessageNames[3 - 0], "PELLARY_MESSAGE_STOP");
    EXPECT_STREQ(kMessageNames[MsgActivate], "PELLARY_MESSAGE_ACTIVATE");
    EXPECT_EQ(std::set<std::string>(kMessageNames.begin(), kMessageNames.end()).size(), kMessageNames.size());

    std::set<std::string> keys;
    for (int slot = 0; slot < kTextSlotCount; ++slot) {
        const TextSlotInfo& info = kTextSlots[slot];
        ASSERT_NE(info.Default, nullptr);
        EXPECT_TRUE(FitsShortText(info.Default));
        if (slot == TxtReserved24 || slot == TxtReserved25) {
            EXPECT_EQ(info.Key, nullptr);
            continue;
        }
        ASSERT_NE(info.Key, nullptr) << slot;
        EXPECT_TRUE(keys.insert(info.Key).second) << info.Key;
    }
    EXPECT_STREQ(kTextSlots[TxtStatusBarNoFiles].Key, "StatusBarNoFiles");
    EXPECT_EQ(std::string(kTextSlots[TxtStatusBarFiles].Default).rfind("  N", 0), 0u);
    EXPECT_EQ(std::string(kTextSlots[TxtMesBrokenFile].Default).rfind(" c", 0), 0u);
}

class SharedBlockMappingTest : public ::testing::Test
{
protected:
    test::TestEnv m_env;
};

TEST_F(SharedBlockMappingTest, AgentCreatesAZeroBlockThatAMonitorOpensOnlyWhileTheAgentLives)
{
    EXPECT_FALSE(SharedBlockMapping::OpenExisting());
    bool existed = true;
    SharedBlockMapping agent = SharedBlockMapping::Create(&existed);
    EXPECT_FALSE(existed);
    const auto* bytes = reinterpret_cast<const unsigned char*>(agent.Block());
    for (std::size_t i = 0; i < sizeof(SharedBlock); ++i)
        ASSERT_EQ(bytes[i], 0) << "byte " << i;

    EXPECT_FALSE(SharedBlockMapping::OpenExisting()) << "no agent mutex held";
    auto mutex = NamedMutex::TryAcquire(kAgentMutexName);
    ASSERT_TRUE(mutex);
    auto monitor = SharedBlockMapping::OpenExisting();
    ASSERT_TRUE(monitor);
    agent->AgentWnd = 0x5151;
    EXPECT_EQ((*monitor)->AgentWnd, 0x5151u);
    (*monitor)->MonitorRunning = true;
    EXPECT_TRUE(agent->MonitorRunning);
}

} // namespace
} // namespace morvane

namespace morvane {
namespace {

// Another program may leave any byte in a Boolean: every byte but 0 is true, and the list
// stores it as 1.
TEST(SharedBlockBooleans, AnyNonZeroByteReadsTrueAndIsStoredAsOne)
{
    const std::pair<const char*, ByteBool TMonItemRecord::*> recordFlags[] = {
        {"Monitored", &TMonItemRecord::Monitored},
        {"MonModeConfirmation", &TMonItemRecord::MonModeConfirmation},
        {"MonModeCompare", &TMonItemRecord::MonModeCompare},
        {"MonModeSize", &TMonItemRecord::MonModeSize},
        {"IsFolder", &TMonItemRecord::IsFolder},
        {"AddNewFiles", &TMonItemRecord::AddNewFiles},
        {"UseTemplates", &TMonItemRecord::UseTemplates},
        {"IsWholeFolder", &TMonItemRecord::IsWholeFolder},
        {"FolderMonHidden", &TMonItemRecord::FolderMonHidden},
        {"FolderMonSystem", &TMonItemRecord::FolderMonSystem},
    };
    const ByteBool SharedBlock::*blockFlags[] = {&SharedBlock::MonitorRunning, &SharedBlock::AgentBusy,
                                                 &SharedBlock::AddHandshake};
    const ByteBool SharedSettings::*settingFlags[] = {
        &SharedSettings::ShowDate, &SharedSettings::ShowFileName, &SharedSettings::LimitShow,
        &SharedSettings::ShowBaloon};
    test::TestEnv env;
    for (const unsigned char byte : {0x00, 0x01, 0x02, 0x80, 0xFF}) {
        const bool expected = byte != 0;
        auto block = std::make_unique<SharedBlock>();
        std::memset(block.get(), byte, sizeof(SharedBlock));
        for (const auto flag : blockFlags)
            EXPECT_EQ(block.get()->*flag, expected) << int(byte);
        for (const auto flag : settingFlags)
            EXPECT_EQ(block->Settings.*flag, expected) << int(byte);

        TMonItemRecord record = EmptyItemRecord();
        record.Path.Set("/d/a.txt");
        for (const auto& [name, flag] : recordFlags)
            std::memset(static_cast<void*>(&(record.*flag)), byte, 1);
        IniFile::ClearCache();
        {
            IniFile list(env.Home() + "list");
            WriteItemRecord(record, list, nullptr);
            list.Flush();
        }
        const IniFile list(env.Home() + "list");
        for (const auto& [name, flag] : recordFlags) {
            EXPECT_EQ(!(record.*flag), !expected) << name << " " << int(byte);
            EXPECT_EQ(list.ReadString("/d/a.txt", name, ""), expected ? "1" : "0")
                << name << " " << int(byte);
        }
    }
}

} // namespace
} // namespace morvane
