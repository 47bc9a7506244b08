#include "engine/ItemRecordIO.h"

#include "common/TestSupport.h"
#include "platform/IniFile.h"
#include "platform/OleDate.h"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>

using namespace morvane;
using morvane::test::ReadFile;
using morvane::test::WriteFile;

namespace {

class ItemRecordIO : public ::testing::Test
{
protected:
    void SetUp() override { IniFile::ClearCache(); }

    TMonItemRecord Blank(const std::string& path, bool isFolder = false)
    {
        TMonItemRecord r = EmptyItemRecord();
        r.Path.Set(path);
        r.IsFolder = isFolder;
        return r;
    }
    TMonItemRecord Read(const std::string& path, bool isFolder = false)
    {
        TMonItemRecord r = Blank(path, isFolder);
        ReadItemRecord(r, list, backup);
        return r;
    }

    test::TestEnv env;
    std::string list = env.Home() + "mvlist.srv";
    std::string backup = env.Home() + "backup/";
};

bool IsDigits(const std::string& s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

TEST_F(ItemRecordIO, SectionWithoutFileIdTakesDefaultsSectionAndKeepsItsPath)
{
    WriteFile(list, "[_Default settings]\nMonMode=2\nMonModeNumber=7\nFolderWait=9\nVersionNum=55\n"
                    "IsSaved=1\n[/data/a.txt]\nMonMode=1\nMonModeNumber=3\n");
    const TMonItemRecord r = Read("/data/a.txt");
    EXPECT_EQ(r.Path.Get(), "/data/a.txt");
    EXPECT_EQ(r.MonMode, mmNumber);
    EXPECT_EQ(r.MonModeNumber, 7);
    EXPECT_EQ(r.FolderWait, 9);
    EXPECT_EQ(r.VersionNum, 0) << "a new item starts its numbering afresh";
    EXPECT_FALSE(r.IsSaved);
    EXPECT_TRUE(IsDigits(r.FileID.Get())) << r.FileID.Get();
    EXPECT_GE(r.FileID.Get().size(), 9u);
}

TEST_F(ItemRecordIO, MissingFileGivesTheBuiltInDefaults)
{
    const TMonItemRecord r = Read("/data/a.txt");
    EXPECT_EQ(r.MonModeNumber, 10);
    EXPECT_EQ(r.DelModeNumber, 0);
    EXPECT_EQ(r.FolderWait, 3);
    EXPECT_EQ(r.MonModeInterval, kZeroDuration);
    EXPECT_EQ(r.DelModeInterval, kZeroDuration);
    EXPECT_EQ(r.LastTime, 0.0);
    EXPECT_FALSE(r.Monitored || r.MonModeConfirmation || r.MonModeCompare || r.MonModeSize ||
                 r.IsWholeFolder || r.UseTemplates || r.AddNewFiles || r.FolderMonHidden ||
                 r.FolderMonSystem || r.IsSaved);
    EXPECT_TRUE(Read("/data/sub/", true).IsFolder) << "IsFolder defaults to the caller's value";
}

TEST_F(ItemRecordIO, ValuesThatDoNotParseTakeTheirDefaults)
{
    WriteFile(list, "[/d/a]\nFileID=261208042\nMonModeNumber=0x1F\nFolderWait=abc\n"
                    "VersionNum=99999999999999999999\nMonMode=7\nNameMode=-1\nLastTime=not a date\n"
                    "DelModeNumber=  12  \nIsFolder=1\n");
    const TMonItemRecord r = Read("/d/a");
    EXPECT_EQ(r.MonModeNumber, 31);
    EXPECT_EQ(r.FolderWait, 3);
    EXPECT_EQ(r.VersionNum, 0);
    EXPECT_EQ(r.MonMode, mmAlways) << "an ordinal outside the enumeration is no value";
    EXPECT_EQ(r.NameMode, nmOriginal);
    EXPECT_EQ(r.LastTime, 0.0);
    EXPECT_EQ(r.DelModeNumber, 12);
    EXPECT_TRUE(r.IsFolder);
}

TEST_F(ItemRecordIO, NegativeCountsAndWaitsTakeTheirDefaults)
{
    struct Case
    {
        const char* Key;
        const char* Text;
        int TMonItemRecord::*Field;
        int Expected;
    };
    const Case cases[] = {
        {"MonModeNumber", "-3", &TMonItemRecord::MonModeNumber, 10},
        {"MonModeNumberCount", "-1", &TMonItemRecord::MonModeNumberCount, 0},
        {"DelModeNumber", "0xFFFFFFFF", &TMonItemRecord::DelModeNumber, 0},
        {"VersionNum", "-2147483648", &TMonItemRecord::VersionNum, 0},
        {"NameModeNumberCount", "-5", &TMonItemRecord::NameModeNumberCount, 0},
        {"FolderWait", "-10", &TMonItemRecord::FolderWait, 3},
        {"DelModeNumber", "99999999999999999999", &TMonItemRecord::DelModeNumber, 0},
        {"FolderWait", "2147483647", &TMonItemRecord::FolderWait, 2147483647},
    };
    for (const Case& c : cases) {
        IniFile::ClearCache();
        WriteFile(list, std::string("[/d/a]\nFileID=261208042\n") + c.Key + "=" + c.Text + "\n");
        const TMonItemRecord r = Read("/d/a");
        EXPECT_EQ(r.*c.Field, c.Expected) << c.Key << "=" << c.Text;
    }
}

TEST_F(ItemRecordIO, GarbageListFilesLoadWithDefaults)
{
    std::mt19937 rng(7);
    std::string junk;
    for (int i = 0; i < 200000; ++i)
        junk.push_back(static_cast<char>(rng()));
    for (const std::string& content :
         {junk, std::string("[/d/a]\nFileID=1\nMonMode=1"), std::string("[/d/a\nFileID=2\n"),
          std::string("\0\0\0[", 4), std::string(5000, '[') + "]\n=\n==\n"}) {
        WriteFile(list, content);
        IniFile::ClearCache();
        const TMonItemRecord r = Read("/d/a");
        EXPECT_EQ(r.Path.Get(), "/d/a");
        EXPECT_EQ(r.FolderWait, 3);
    }
}

TEST_F(ItemRecordIO, WrittenRecordReadsBackEqual)
{
    TMonItemRecord w = Blank("/home/u/Documents/report.doc");
    w.Monitored = true;
    w.FileID.Set("261208042");
    w.MonMode = mmInterval;
    w.MonModeInterval = EncodeOleDate(1900, 1, 1, 2, 0, 0);
    w.MonModeNumber = 4;
    w.MonModeNumberCount = 2;
    w.MonModeConfirmation = true;
    w.MonModeCompare = true;
    w.MonStatus = msActive;
    w.DelMode = dmInterval;
    w.DelModeInterval = EncodeOleDate(1900, 1, 3);
    w.DelModeNumber = 5;
    w.NameMode = nmDateTime;
    w.NameModeNumberCount = 17;
    w.ExecuterMode = emCustom;
    w.Executer.Set("/usr/bin/gedit");
    w.VersionNum = 1000;
    w.LastTime = EncodeOleDate(2026, 12, 8, 14, 5, 9);
    w.Templates.Set(" *.txt;*.doc;");
    w.FolderWait = 0;
    w.LastVersionPath.Set("/never/stored");
    WriteItemRecord(w, list, backup);

    const std::string text = ReadFile(list);
    EXPECT_NE(text.find("IsSaved=1"), std::string::npos);
    EXPECT_EQ(text.find("LastVersionPath"), std::string::npos);
    EXPECT_EQ(text.find("/never/stored"), std::string::npos);

    TMonItemRecord r = Read("/home/u/Documents/report.doc");
    TMonItemRecord expected = w;
    expected.IsSaved = true;
    expected.LastVersionPath.Set("");
    r.LastVersionPath.Set("");
    EXPECT_EQ(std::memcmp(&r, &expected, sizeof r), 0) << "every field, dates to the bit";
    EXPECT_EQ(r.Templates.Get(), " *.txt;*.doc;") << "leading blank survives the file";
    EXPECT_FALSE(w.IsSaved) << "the caller's record is not changed";
}

TEST_F(ItemRecordIO, BackupIndexMapsFileIdToPathOnlyWhenThereIsOne)
{
    TMonItemRecord a = Blank("/d/a.txt");
    a.FileID.Set("261208001");
    WriteItemRecord(a, list, backup);
    TMonItemRecord b = Blank("/d/b.txt");
    WriteItemRecord(b, list, backup);

    IniFile index(backup + "files.lst");
    EXPECT_EQ(index.ReadString("Files", "261208001", ""), "/d/a.txt");
    EXPECT_EQ(index.ReadKeys("Files").size(), 1u);
}

TEST_F(ItemRecordIO, UnusableFileIdIsReplacedSoNothingOutsideTheBackupFolderIsTouched)
{
    for (const std::string bad : {"..", ".", "a/b", "../../home"}) {
        WriteFile(list, "[/d/a]\nFileID=" + bad + "\nVersionNum=4\nIsSaved=1\n");
        IniFile::ClearCache();
        const TMonItemRecord r = Read("/d/a");
        EXPECT_TRUE(IsPlainFolderName(r.FileID.Get())) << bad;
        EXPECT_NE(r.FileID.Get(), bad);
        EXPECT_EQ(r.VersionNum, 4) << "the item keeps its own settings";
    }
    EXPECT_FALSE(IsPlainFolderName(""));
    EXPECT_TRUE(IsPlainFolderName("261208042"));
}

TEST_F(ItemRecordIO, NewFileIdAvoidsFoldersAndIdsInTheList)
{
    const std::string id = NewFileId(backup, list);
    ASSERT_TRUE(IsDigits(id));
    const DateParts today = DecodeOleDate(Now());
    char stamp[8];
    std::snprintf(stamp, sizeof stamp, "%02d%02d%02d", today.Year % 100, today.Month, today.Day);
    EXPECT_EQ(id.substr(0, 6), stamp);

    // Every name of the day taken, half by folders and half by the list: a fresh id
    // still comes back, past the day's 10,000 names.
    std::string listText;
    for (int n = 0; n <= 9999; ++n) {
        char suffix[8];
        std::snprintf(suffix, sizeof suffix, "%03d", n);
        const std::string taken = std::string(stamp) + suffix;
        if (n % 2)
            std::filesystem::create_directories(backup + taken);
        else
            listText += "[/f" + std::to_string(n) + "]\nFileID=" + taken + "\n";
    }
    WriteFile(list, listText);
    IniFile::ClearCache();
    const std::string crowded = NewFileId(backup, list);
    EXPECT_EQ(crowded, std::string(stamp) + "10000");
}

TEST_F(ItemRecordIO, NewFileIdSeesIdsWrittenSinceItsLastCall)
{
    const std::string id = NewFileId(backup, list);
    const std::string stamp = id.substr(0, 6);
    // Then the list takes every name of the day but one.
    {
        IniFile file(list);
        for (int n = 0; n <= 9999; ++n) {
            char suffix[8];
            std::snprintf(suffix, sizeof suffix, "%03d", n);
            if (n != 4242)
                file.WriteString("/f" + std::to_string(n), "FileID", stamp + suffix);
        }
        file.Flush();
    }
    EXPECT_EQ(NewFileId(backup, list), stamp + "4242");
}

TEST(ItemRecordNames, VersionFoldersAreZeroPadded)
{
    EXPECT_EQ(VersionFolderName(1), "001");
    EXPECT_EQ(VersionFolderName(42), "042");
    EXPECT_EQ(VersionFolderName(999), "999");
    EXPECT_EQ(VersionFolderName(1000), "1000");
    EXPECT_EQ(ItemBackupFolder("/b", "7"), "/b/7/");
}

TEST(ItemRecordNames, OverlongPathIsRefusedNeverCut)
{
    TMonItemRecord r = EmptyItemRecord();
    const std::string ok = "/" + std::string(254, 'a');
    SetRecordPath(r, ok);
    EXPECT_EQ(r.Path.Get(), ok);
    EXPECT_THROW(SetRecordPath(r, ok + "b"), std::length_error);
    EXPECT_EQ(r.Path.Get(), ok) << "a refused path leaves the record alone";
}
