#include "engine/VersionDecision.h"

#include "platform/OleDate.h"

namespace morvane {

namespace {

// One millisecond as a fraction of a day: dates closer than this count as equal.
constexpr double kOneMs = 1.0 / (24.0 * 60 * 60 * 1000);

// The mode counter after one more change: it runs from 0 to N - 1 and back to 0, without
// ever overflowing whatever a stored record holds.
int NextModeCount(int count, int number)
{
    const long long next = static_cast<long long>(count < 0 ? 0 : count) + 1;
    return next >= number ? 0 : static_cast<int>(next);
}

} // namespace

const char* OutcomeName(VersionOutcome outcome)
{
    switch (outcome) {
    case VersionOutcome::Made:
        return "made";
    case VersionOutcome::NotDue:
        return "not due";
    case VersionOutcome::Unchanged:
        return "unchanged";
    case VersionOutcome::Declined:
        return "declined";
    case VersionOutcome::Unanswered:
        return "unanswered";
    case VersionOutcome::SourceGone:
        return "source gone";
    case VersionOutcome::Changing:
        return "changing";
    case VersionOutcome::WriteFailed:
        return "write failed";
    }
    return "?";
}

VersionDecision DecideVersion(const VersionFacts& f)
{
    VersionDecision d;
    if (!f.File) {
        d.Outcome = VersionOutcome::SourceGone;
        return d;
    }
    const bool unchanged = f.LastVersion ? *f.File == *f.LastVersion : f.FileDate == f.LastTime;
    if (unchanged || (f.Declined && *f.File == *f.Declined)) {
        d.Outcome = VersionOutcome::Unchanged;
        return d;
    }
    if (f.Mode == mmInterval && !f.Force) {
        const double elapsed = f.FileDate - f.LastTime;
        const double interval = f.ModeInterval - kZeroDuration;
        if (interval - elapsed > kOneMs) {
            d.Outcome = VersionOutcome::NotDue;
            return d;
        }
    }
    if (f.Mode == mmNumber) {
        // A forced version counts too.
        d.ModeNumberCount = NextModeCount(f.ModeNumberCount, f.ModeNumber);
        if (*d.ModeNumberCount > 0 && !f.Force) {
            d.Outcome = VersionOutcome::NotDue;
            return d;
        }
    }
    // Before the question: a state that would be skipped is never asked about.
    if (f.SizeOnly && !f.Force && f.LastVersionCompared && f.LastVersion &&
        f.LastVersion->Size == f.File->Size) {
        d.Outcome = VersionOutcome::Unchanged;
        return d;
    }
    d.Ask = f.Confirmation && !f.Force;
    // The state that is copied may not be the one seen here (a writer that truncates and
    // writes again): it is compared once more as it is copied, after the question.
    const bool compared = !f.Force && f.LastVersionCompared && f.LastVersion;
    d.Compare = f.ContentCompare && compared;
    d.CompareSize = f.SizeOnly && compared;
    d.Outcome = VersionOutcome::Made;
    return d;
}

} // namespace morvane
