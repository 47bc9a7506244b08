#include "common/TestSupport.h"
#include "platform/RegistryStore.h"
#include "support/components/TkitFileAssociation.h"

#include <QByteArray>
#include <filesystem>
#include <gtest/gtest.h>

using namespace morvane;
namespace fs = std::filesystem;

namespace {

constexpr RegistryRoot kRoot = RegistryRoot::ClassesRoot;

class FileAssociationTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME"})
            m_old.emplace_back(name, qgetenv(name));
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(env.Work() + "config"));
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString(data));
        TkitFileAssociation::SetShellNotifier([this] { ++notices; });
        ASSERT_EQ(store.Path(), env.Work() + "config/morvane/registry.ini");
    }
    void TearDown() override
    {
        TkitFileAssociation::SetShellNotifier({});
        for (auto& [name, value] : m_old) {
            if (value.isNull())
                qunsetenv(name);
            else
                qputenv(name, value);
        }
    }

    // Every key of the classes root, for "nothing was touched".
    std::vector<std::string> Tree() const
    {
        std::vector<std::string> keys;
        std::function<void(const std::string&)> walk = [&](const std::string& key) {
            for (const std::string& sub : store.SubKeys(kRoot, key)) {
                const std::string path = key.empty() ? sub : key + "/" + sub;
                keys.push_back(path + "=" + store.ReadValue(kRoot, path, "").value_or("-"));
                walk(path);
            }
        };
        walk("");
        return keys;
    }

    test::TestEnv env;
    std::string data = env.Work() + "data/";
    int notices = 0;

private:
    // Set before the store is made, so that it opens the test's own file.
    std::vector<std::pair<const char*, QByteArray>> m_old;

protected:
    RegistryStore store{env.Work() + "config/morvane/registry.ini"};
};

TEST_F(FileAssociationTest, WrittenAssociationReadsBackWhole)
{
    TkitFileAssociation writer;
    writer.SetExtension("mvx");
    EXPECT_EQ(writer.Extension(), ".mvx");
    writer.SetFileDescription("Morvane test file");
    writer.SetIconFile("/usr/share/icons/xy.png");
    writer.SetIconIndex(3);
    writer.SetCommand(TkitFileAssociation::Open, "\"/opt/m/kelvrim\" \"%1\"");
    writer.SetCommandDescription(TkitFileAssociation::Open, "&Open");
    writer.SetCommand(TkitFileAssociation::PrintTo, "/opt/m/print %1 %2");
    ASSERT_TRUE(writer.WriteAssociation());
    EXPECT_EQ(writer.ExtDescription(), "mvxfile");
    EXPECT_EQ(notices, 1);

    TkitFileAssociation reader;
    reader.SetExtension(".MVX");
    EXPECT_EQ(reader.ExtDescription(), "mvxfile");
    EXPECT_EQ(reader.FileDescription(), "Morvane test file");
    EXPECT_EQ(reader.IconFile(), "/usr/share/icons/xy.png");
    EXPECT_EQ(reader.IconIndex(), 3);
    EXPECT_EQ(reader.Command(TkitFileAssociation::Open), "\"/opt/m/kelvrim\" \"%1\"");
    EXPECT_EQ(reader.CommandDescription(TkitFileAssociation::Open), "&Open");
    EXPECT_EQ(reader.Command(TkitFileAssociation::PrintTo), "/opt/m/print %1 %2");
    EXPECT_EQ(reader.CommandDescription(TkitFileAssociation::PrintTo), "");
    // Verbs without a command get no key at all.
    EXPECT_FALSE(store.KeyExists(kRoot, "mvxfile/shell/edit"));
    EXPECT_FALSE(reader.LargeIcon().isNull());

    // The desktop learns the type and a hidden entry that opens it.
    const std::string xml = test::ReadFile(data + "mime/packages/morvane-mvxfile.xml");
    EXPECT_NE(xml.find("<glob pattern=\"*.mvx\"/>"), std::string::npos) << xml;
    const std::string entry = test::ReadFile(data + "applications/morvane-mvxfile.desktop");
    EXPECT_NE(entry.find("\nExec=\"/opt/m/kelvrim\" %f\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("\nMimeType=application/x-morvane-mvxfile;\n"), std::string::npos) << entry;

    ASSERT_TRUE(reader.DeleteAssociation());
    EXPECT_EQ(notices, 2);
    EXPECT_FALSE(store.KeyExists(kRoot, ".mvx"));
    EXPECT_TRUE(store.KeyExists(kRoot, "mvxfile")); // the type's own key stays
    EXPECT_EQ(reader.ExtDescription(), "");
    EXPECT_FALSE(reader.SmallIcon().isNull()); // the generic icon
    EXPECT_FALSE(fs::exists(data + "mime/packages/morvane-mvxfile.xml"));
    EXPECT_FALSE(fs::exists(data + "applications/morvane-mvxfile.desktop"));
}

TEST_F(FileAssociationTest, SettersOnlyStoreAndUnknownExtensionsDeleteNothing)
{
    TkitFileAssociation assoc;
    assoc.SetExtension("new");
    assoc.SetFileDescription("x");
    assoc.SetCommand(TkitFileAssociation::Edit, "/bin/editor %1");
    EXPECT_TRUE(Tree().empty());
    EXPECT_EQ(notices, 0);
    EXPECT_TRUE(assoc.DeleteAssociation());
    EXPECT_EQ(notices, 0);
}

class BadExtensionTest : public FileAssociationTest, public ::testing::WithParamInterface<std::string>
{
};

TEST_P(BadExtensionTest, IsRefusedAndTouchesNothing)
{
    TkitFileAssociation other;
    other.SetExtension("keep");
    other.SetFileDescription("kept");
    other.SetCommand(TkitFileAssociation::Open, "/bin/keep");
    ASSERT_TRUE(other.WriteAssociation());
    const auto before = Tree();
    const int noticesBefore = notices;

    TkitFileAssociation bad;
    bad.SetExtension(GetParam());
    bad.SetExtDescription("keepfile");
    bad.SetFileDescription("overwritten?");
    EXPECT_FALSE(bad.ReadAssociation());
    EXPECT_FALSE(bad.WriteAssociation());
    EXPECT_FALSE(bad.DeleteAssociation());
    EXPECT_EQ(Tree(), before);
    EXPECT_EQ(notices, noticesBefore);
}

INSTANTIATE_TEST_SUITE_P(Table, BadExtensionTest,
                         ::testing::Values("", ".", "/", "a/b", ".keep/..", "../keep"), test::ValueRowName());

struct IconRow
{
    std::string stored;
    std::string file;
    int index;
};

class IconValueTest : public FileAssociationTest, public ::testing::WithParamInterface<IconRow>
{
};

TEST_P(IconValueTest, SplitsTheFileFromItsIndex)
{
    ASSERT_TRUE(store.WriteValue(kRoot, ".ico1", "", "icofile"));
    ASSERT_TRUE(store.WriteValue(kRoot, "icofile/DefaultIcon", "", GetParam().stored));
    TkitFileAssociation assoc;
    assoc.SetExtension(".ico1");
    EXPECT_EQ(assoc.IconFile(), GetParam().file);
    EXPECT_EQ(assoc.IconIndex(), GetParam().index);
}

INSTANTIATE_TEST_SUITE_P(Table, IconValueTest,
                         ::testing::Values(IconRow{"file,3", "file", 3}, IconRow{"file,abc", "file,abc", 0},
                                           IconRow{"a,1,2", "a", 1}, IconRow{"plain", "plain", 0},
                                           IconRow{"f,-2", "f", -2}, IconRow{",5", "", 5}),
                         test::RowNamesBy(&IconRow::stored));

} // namespace

namespace {

// The desktop's list of default programs: writing puts the entry first for the type,
// deleting takes out only that entry; every other line stays as it was.
struct DefaultsCase
{
    const char* Name;
    std::string Before; // mimeapps.list before ("-": no file)
    bool Delete;        // write, then delete
    std::string After;
    const char* Extension = "mvx";
};

class DefaultProgramTest : public FileAssociationTest, public ::testing::WithParamInterface<DefaultsCase>
{
};

const std::string kType = "application/x-morvane-mvxfile";
const std::string kOurs = "morvane-mvxfile.desktop";

TEST_P(DefaultProgramTest, KeepsTheListTidy)
{
    const DefaultsCase& c = GetParam();
    const std::string list = env.Work() + "config/mimeapps.list";
    if (c.Before != "-")
        test::WriteFile(list, c.Before);
    TkitFileAssociation assoc;
    assoc.SetExtension(c.Extension);
    assoc.SetCommand(TkitFileAssociation::Open, "/opt/m/kelvrim %1");
    ASSERT_TRUE(assoc.WriteAssociation());
    // An extension the desktop knows keeps its type: no glob of ours competes with it.
    EXPECT_FALSE(fs::exists(data + "mime/packages/morvane-txtfile.xml"));
    if (c.Delete) {
        // The user may have picked another program meanwhile: that choice is written here.
        std::string now = test::ReadFile(list);
        const auto pos = now.find(kType + "=" + kOurs + ";");
        if (c.Before.find("#theirs-first") != std::string::npos && pos != std::string::npos)
            now.replace(pos, kType.size() + kOurs.size() + 2, kType + "=other.desktop;");
        test::WriteFile(list, now);
        ASSERT_TRUE(assoc.DeleteAssociation());
    }
    EXPECT_EQ(test::ReadFile(list), c.After);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DefaultProgramTest,
    ::testing::Values(
        DefaultsCase{"NoFileYet", "-", false, "[Default Applications]\n" + kType + "=" + kOurs + ";\n"},
        DefaultsCase{"OthersStay",
                     "# mine\n[Added Associations]\ntext/plain=a.desktop;\n\n[Default Applications]\n"
                     "text/plain=b.desktop;\n\n[Removed Associations]\n",
                     false,
                     "# mine\n[Added Associations]\ntext/plain=a.desktop;\n\n[Default Applications]\n"
                     "text/plain=b.desktop;\n" +
                         kType + "=" + kOurs + ";\n\n[Removed Associations]\n"},
        DefaultsCase{"OursGoesFirst", "[Default Applications]\n" + kType + "=other.desktop;\n", false,
                     "[Default Applications]\n" + kType + "=" + kOurs + ";other.desktop;\n"},
        DefaultsCase{"NoSectionYet", "[Added Associations]\ntext/plain=a.desktop;", false,
                     "[Added Associations]\ntext/plain=a.desktop;\n\n[Default Applications]\n" + kType + "=" +
                         kOurs + ";\n"},
        DefaultsCase{"DeleteTakesOursOut", "[Default Applications]\ntext/plain=b.desktop;\n", true,
                     "[Default Applications]\ntext/plain=b.desktop;\n"},
        DefaultsCase{"DeleteLeavesTheOtherProgram", "[Default Applications]\n" + kType + "=other.desktop;\n",
                     true, "[Default Applications]\n" + kType + "=other.desktop;\n"},
        DefaultsCase{"DeleteKeepsTheUsersChoice", "#theirs-first\n[Default Applications]\n", true,
                     "#theirs-first\n[Default Applications]\n" + kType + "=other.desktop;\n"},
        DefaultsCase{"KnownTypeOpensWithUs", "[Default Applications]\ntext/plain=b.desktop;\n", false,
                     "[Default Applications]\ntext/plain=morvane-txtfile.desktop;b.desktop;\n", "txt"},
        DefaultsCase{"KnownTypeGetsItsDefaultBack", "[Default Applications]\ntext/plain=b.desktop;\n", true,
                     "[Default Applications]\ntext/plain=b.desktop;\n", "txt"}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
