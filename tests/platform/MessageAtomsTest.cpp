#include "platform/MessageAtoms.h"

#include "ChildProcess.h"

#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <system_error>
#include <vector>

namespace morvane {
namespace {

using test::ChildProcess;

class MessageAtoms : public ::testing::Test
{
protected:
    // name -> number, as printed by a child's print-atoms.
    static std::map<std::string, std::uint32_t> ReadAtoms(ChildProcess& child, int count)
    {
        std::map<std::string, std::uint32_t> atoms;
        for (int i = 0; i < count; ++i) {
            const std::string line = child.ReadLine();
            const auto eq = line.find('=');
            if (eq == std::string::npos)
                break;
            atoms[line.substr(0, eq)] = static_cast<std::uint32_t>(std::stoul(line.substr(eq + 1)));
        }
        return atoms;
    }

    static std::string Upper(std::string text)
    {
        for (char& c : text)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return text;
    }

    test::TestEnv m_env;
};

TEST_F(MessageAtoms, TheSameNameGetsTheSameNumberInEveryProcessWhateverItsCase)
{
    const std::uint32_t alpha = RegisterWindowMessage("Alpha");
    const std::uint32_t beta = RegisterWindowMessage("Beta");
    EXPECT_GE(alpha, 0xC000u);
    EXPECT_NE(alpha, beta);
    EXPECT_EQ(RegisterWindowMessage("ALPHA"), alpha);

    ChildProcess child({"print-atoms", "beta", "ALPHA", "Gamma"});
    const auto atoms = ReadAtoms(child, 3);
    EXPECT_EQ(atoms.at("beta"), beta);
    EXPECT_EQ(atoms.at("ALPHA"), alpha);
    EXPECT_EQ(RegisterWindowMessage("gamma"), atoms.at("Gamma"));
}

TEST_F(MessageAtoms, ProcessesRegisteringAtOnceAgree)
{
    constexpr int kNames = 200;
    constexpr int kChildren = 8;
    std::vector<std::unique_ptr<ChildProcess>> children;
    for (int c = 0; c < kChildren; ++c) {
        QStringList args{"print-atoms-on-cue"};
        for (int i = 0; i < kNames; ++i) {
            const std::string name = "Name" + std::to_string((i + c * 37) % kNames);
            args << QString::fromStdString(c % 2 ? Upper(name) : name);
        }
        children.push_back(std::make_unique<ChildProcess>(args));
    }

    // All start registering at the same moment, so their appends meet.
    for (auto& child : children)
        ASSERT_EQ(child->ReadLine(), "waiting");
    for (auto& child : children)
        child->WriteLine("go");

    std::map<std::string, std::uint32_t> agreed;
    std::set<std::uint32_t> numbers;
    for (auto& child : children) {
        const auto atoms = ReadAtoms(*child, kNames);
        ASSERT_EQ(atoms.size(), std::size_t(kNames));
        for (const auto& [name, number] : atoms) {
            const auto [it, added] = agreed.emplace(Upper(name), number);
            EXPECT_EQ(it->second, number) << name;
            numbers.insert(number);
        }
    }
    EXPECT_EQ(numbers.size(), std::size_t(kNames));
    EXPECT_EQ(RegisterWindowMessage("name5"), agreed.at("NAME5"));
}

TEST_F(MessageAtoms, NamesThatCannotBeALineAreRefused)
{
    EXPECT_THROW(RegisterWindowMessage(""), std::system_error);
    EXPECT_THROW(RegisterWindowMessage("a\nb"), std::system_error);
    EXPECT_THROW(RegisterWindowMessage(std::string("a\0b", 3)), std::system_error);
}

TEST_F(MessageAtoms, AnUnfinishedLastLineStillCountsTheSameWay)
{
    test::WriteFile(m_env.Runtime() + "atoms", "First\nHalf");
    EXPECT_EQ(RegisterWindowMessage("half"), 0xC001u);
    EXPECT_EQ(RegisterWindowMessage("Next"), 0xC002u);
    EXPECT_EQ(test::ReadFile(m_env.Runtime() + "atoms"), "First\nHalf\nNext\n");
}

} // namespace
} // namespace morvane
