#include "engine/VersionDecision.h"

#include "platform/OleDate.h"

#include <climits>
#include <gtest/gtest.h>

namespace morvane::test {
namespace {

constexpr double kNoon = 46000.5;       // a file date, whole seconds
constexpr double kSecond = 1.0 / 86400; // one second as a date
constexpr double kTwoHours = kZeroDuration + 2.0 / 24;
const FileStamp kSaved{1'000'000'000'100'000'000, 40};      // the file now
const FileStamp kSameSecond{1'000'000'000'700'000'000, 40}; // its version: same second, earlier

struct DecisionCase
{
    const char* Name;
    VersionFacts Facts;
    VersionOutcome Outcome;
    bool Ask = false;
    std::optional<int> Count = std::nullopt;
    bool Compare = false;
};

VersionFacts Facts()
{
    VersionFacts f;
    f.File = kSaved;
    f.FileDate = kNoon;
    f.LastTime = kNoon;
    f.LastVersion = kSameSecond;
    f.LastVersionCompared = true;
    f.ModeNumber = 3;
    return f;
}

template <typename Change>
VersionFacts With(Change change)
{
    VersionFacts f = Facts();
    change(f);
    return f;
}

TEST(VersionDecision, FollowsTheFileStateTheModeAndTheOptions)
{
    using O = VersionOutcome;
    const DecisionCase cases[] = {
        {"a second save within the same second is a new state", Facts(), O::Made},
        {"the state of the last version", With([](VersionFacts& f) { f.LastVersion = kSaved; }),
         O::Unchanged},
        {"forced, the state of the last version", With([](VersionFacts& f) {
             f.LastVersion = kSaved;
             f.Force = true;
         }),
         O::Unchanged},
        {"same time, other size", With([](VersionFacts& f) {
             f.LastVersion = FileStamp{kSaved.MtimeNs, 41};
         }),
         O::Made},
        {"the file is gone", With([](VersionFacts& f) { f.File.reset(); }), O::SourceGone},
        {"no version stored, date of LastTime", With([](VersionFacts& f) { f.LastVersion.reset(); }),
         O::Unchanged},
        {"no version stored, a later date", With([](VersionFacts& f) {
             f.LastVersion.reset();
             f.FileDate = kNoon + kSecond;
         }),
         O::Made},
        {"the state the user declined", With([](VersionFacts& f) { f.Declined = kSaved; }), O::Unchanged},
        {"a state after the declined one", With([](VersionFacts& f) { f.Declined = kSameSecond; }), O::Made},
        {"interval not passed", With([](VersionFacts& f) {
             f.Mode = mmInterval;
             f.ModeInterval = kTwoHours;
             f.FileDate = kNoon + 119 * 60 * kSecond;
         }),
         O::NotDue},
        {"interval passed exactly", With([](VersionFacts& f) {
             f.Mode = mmInterval;
             f.ModeInterval = kTwoHours;
             f.FileDate = kNoon + 2.0 / 24;
         }),
         O::Made},
        {"interval not passed, forced", With([](VersionFacts& f) {
             f.Mode = mmInterval;
             f.ModeInterval = kTwoHours;
             f.Force = true;
         }),
         O::Made},
        {"number mode, first change of three", With([](VersionFacts& f) { f.Mode = mmNumber; }), O::NotDue,
         false, 1},
        {"number mode, third change", With([](VersionFacts& f) {
             f.Mode = mmNumber;
             f.ModeNumberCount = 2;
         }),
         O::Made, false, 0},
        {"number mode, forced counts too", With([](VersionFacts& f) {
             f.Mode = mmNumber;
             f.Force = true;
         }),
         O::Made, false, 1},
        {"number mode, a counter at its limit starts again", With([](VersionFacts& f) {
             f.Mode = mmNumber;
             f.ModeNumber = INT_MAX;
             f.ModeNumberCount = INT_MAX;
         }),
         O::Made, false, 0},
        {"number mode, a negative counter", With([](VersionFacts& f) {
             f.Mode = mmNumber;
             f.ModeNumberCount = -7;
         }),
         O::NotDue, false, 1},
        {"size option, same size as the version made", With([](VersionFacts& f) { f.SizeOnly = true; }),
         O::Unchanged},
        {"size option, version only found on disk", With([](VersionFacts& f) {
             f.SizeOnly = true;
             f.LastVersionCompared = false;
         }),
         O::Made},
        {"size option, forced", With([](VersionFacts& f) {
             f.SizeOnly = true;
             f.Force = true;
         }),
         O::Made},
        {"content option: compared while copied", With([](VersionFacts& f) { f.ContentCompare = true; }),
         O::Made, false, std::nullopt, true},
        {"content option, forced: never compared", With([](VersionFacts& f) {
             f.ContentCompare = true;
             f.Force = true;
         }),
         O::Made},
        {"content option, version only found on disk: not compared", With([](VersionFacts& f) {
             f.ContentCompare = true;
             f.LastVersionCompared = false;
         }),
         O::Made},
        {"content option after the question", With([](VersionFacts& f) {
             f.ContentCompare = true;
             f.Confirmation = true;
         }),
         O::Made, true, std::nullopt, true},
        {"confirmation asks", With([](VersionFacts& f) { f.Confirmation = true; }), O::Made, true},
        {"confirmation, forced: no question", With([](VersionFacts& f) {
             f.Confirmation = true;
             f.Force = true;
         }),
         O::Made},
    };
    for (const DecisionCase& c : cases) {
        const VersionDecision d = DecideVersion(c.Facts);
        EXPECT_EQ(d.Outcome, c.Outcome) << c.Name;
        EXPECT_EQ(d.Ask, c.Ask) << c.Name;
        EXPECT_EQ(d.ModeNumberCount, c.Count) << c.Name;
        EXPECT_EQ(d.Compare, c.Compare) << c.Name;
    }
}

} // namespace
} // namespace morvane::test
