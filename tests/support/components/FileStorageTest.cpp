#include "common/TestSupport.h"
#include "support/components/TkitCustomFileStorage.h"

#include <QBuffer>
#include <QFile>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace morvane;

namespace {

QByteArray Pattern(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + i / 251) & 0xFF);
    return bytes;
}

class FileStorageRoundTrip : public ::testing::TestWithParam<qsizetype>
{
};

TEST_P(FileStorageRoundTrip, FileAndStoredFormKeepEveryByte)
{
    test::TestEnv env;
    const QByteArray bytes = Pattern(GetParam());
    const QString source = QString::fromStdString(env.Work() + "source.bin");
    const QString target = QString::fromStdString(env.Work() + "target.bin");
    {
        QFile file(source);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    TkitFileStorage storage;
    std::vector<bool> loads;
    storage.SetOnLoad([&](QObject*, bool ok) { loads.push_back(ok); });
    ASSERT_TRUE(storage.LoadFrom(source));
    EXPECT_EQ(loads, std::vector<bool>{true});
    EXPECT_EQ(storage.DataSize(), static_cast<std::uint32_t>(bytes.size()));

    QBuffer stored;
    stored.open(QIODevice::ReadWrite);
    storage.WriteData(stored);
    EXPECT_EQ(stored.size(), bytes.size() + 4);
    stored.seek(0);
    TkitFileStorage copy;
    copy.ReadData(stored);
    EXPECT_EQ(copy.Data(), bytes);

    ASSERT_TRUE(copy.SaveTo(target));
    QFile written(target);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), bytes);
}

INSTANTIATE_TEST_SUITE_P(Sizes, FileStorageRoundTrip, ::testing::Values(0, 1, 4096 + 3, 10 * 1024 * 1024),
                         [](const ::testing::TestParamInfo<qsizetype>& info) {
                             return "Bytes" + std::to_string(info.param);
                         });

struct StoredCase
{
    const char* Name;
    QByteArray Stored;
};

class BadStoredData : public ::testing::TestWithParam<StoredCase>
{
};

TEST_P(BadStoredData, IsRefusedAndEmptiesTheComponent)
{
    TkitFileStorage storage;
    test::TestEnv env;
    test::WriteFile(env.Work() + "old.bin", "old bytes");
    ASSERT_TRUE(storage.LoadFrom(QString::fromStdString(env.Work() + "old.bin")));
    QByteArray stored = GetParam().Stored;
    QBuffer buffer(&stored);
    buffer.open(QIODevice::ReadOnly);
    EXPECT_THROW(storage.ReadData(buffer), EkitFileStorage);
    EXPECT_EQ(storage.DataSize(), 0u);
    EXPECT_TRUE(storage.Data().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Cases, BadStoredData,
                         ::testing::Values(StoredCase{"Empty", QByteArray()},
                                           StoredCase{"SizeCut", QByteArray("\x05\x00", 2)},
                                           StoredCase{"BytesCut", QByteArray("\x0A\x00\x00\x00hello", 9)},
                                           StoredCase{"HugeSize", QByteArray("\xFF\xFF\xFF\xFF"
                                                                             "abc",
                                                                             7)}),
                         [](const ::testing::TestParamInfo<StoredCase>& info) {
                             return std::string(info.param.Name);
                         });

TEST(FileStorageTest, LoadFailuresEmptyTheComponentAndReportFalse)
{
    test::TestEnv env;
    TkitFileStorage storage;
    std::vector<bool> loads;
    storage.SetOnLoad([&](QObject*, bool ok) { loads.push_back(ok); });
    test::WriteFile(env.Work() + "data.bin", "abc");
    ASSERT_TRUE(storage.LoadFrom(QString::fromStdString(env.Work() + "data.bin")));

    // A missing file is no error; a FIFO is never opened (it would block).
    EXPECT_FALSE(storage.LoadFrom(QString::fromStdString(env.Work() + "missing.bin")));
    EXPECT_EQ(storage.DataSize(), 0u);
    ASSERT_TRUE(storage.LoadFrom(QString::fromStdString(env.Work() + "data.bin")));
    const std::string fifo = env.Work() + "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    try {
        storage.LoadFrom(QString::fromStdString(fifo));
        ADD_FAILURE() << "a FIFO was loaded";
    } catch (const EkitFileStorage& e) {
        EXPECT_EQ(std::string(e.what()), "Can not load data from the \"" + fifo + "\" file");
    }
    EXPECT_EQ(storage.DataSize(), 0u);

    // A file past the 32-bit size is refused before anything is read (a sparse file).
    const std::string huge = env.Work() + "huge.bin";
    {
        QFile file(QString::fromStdString(huge));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(TkitFileStorage::kMaxSize + 1));
    }
    EXPECT_THROW(storage.LoadFrom(QString::fromStdString(huge)), EkitFileStorage);
    EXPECT_EQ(loads, (std::vector<bool>{true, false, true, false, false}));
}

TEST(FileStorageTest, SaveRefusalsAndFailures)
{
    test::TestEnv env;
    TkitFileStorage storage;
    test::WriteFile(env.Work() + "data.bin", "new");
    ASSERT_TRUE(storage.LoadFrom(QString::fromStdString(env.Work() + "data.bin")));
    std::vector<bool> saves;
    storage.SetOnSave([&](QObject*, bool ok) { saves.push_back(ok); });

    // A refused override leaves the old file as it was.
    test::WriteFile(env.Work() + "keep.bin", "old");
    storage.SetOnConfirmOverride([](QObject*, bool& overrideFile) { overrideFile = false; });
    EXPECT_FALSE(storage.SaveTo(QString::fromStdString(env.Work() + "keep.bin")));
    EXPECT_EQ(test::ReadFile(env.Work() + "keep.bin"), "old");

    // AutoSave into a folder that does not exist fails when the component is loaded.
    const std::string bad = env.Work() + "no/such/folder/out.bin";
    storage.SetSaveName(QString::fromStdString(bad));
    storage.SetAutoSave(true);
    try {
        storage.Loaded();
        ADD_FAILURE() << "the save did not fail";
    } catch (const EkitFileStorage& e) {
        EXPECT_EQ(std::string(e.what()), "Can not save data to the \"" + bad + "\" file");
    }
    EXPECT_EQ(saves, (std::vector<bool>{false, false}));

    // An empty component saves an empty file.
    storage.Clear();
    storage.SetOnConfirmOverride({});
    EXPECT_TRUE(storage.SaveTo(QString::fromStdString(env.Work() + "keep.bin")));
    EXPECT_EQ(test::ReadFile(env.Work() + "keep.bin"), "");
}

} // namespace
