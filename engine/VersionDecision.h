#pragma once

#include "engine/MonItemRecord.h"
#include "platform/FileStamp.h"

#include <optional>
#include <ostream>
#include <string>

namespace morvane {

// How one attempt to make a version ended.
enum class VersionOutcome
{
    Made,       // a version file was written
    NotDue,     // the item's mode does not ask for one yet (or another attempt runs)
    Unchanged,  // the file is as its last version (or the user already declined this state)
    Declined,   // the user answered No to the confirmation question
    Unanswered, // nobody answered the question (the watch is ending): asked again next time
    SourceGone, // the file is missing or could not be read
    Changing,   // the file changed during every copy: nothing stored, the next change tries again
    WriteFailed // the version could not be stored (disk full, name too long, no folder ...)
};

struct VersionResult
{
    VersionOutcome Outcome = VersionOutcome::NotDue;
    int Error = 0; // errno of SourceGone and WriteFailed
    explicit operator bool() const { return Outcome == VersionOutcome::Made; }
};

const char* OutcomeName(VersionOutcome outcome);
inline std::ostream& operator<<(std::ostream& out, VersionOutcome outcome)
{
    return out << OutcomeName(outcome);
}

// What the decision looks at: the item's options and the states of the file and of its
// last version, all gathered before it runs.
struct VersionFacts
{
    TMonMode Mode = mmAlways;
    double ModeInterval = 0; // a duration date (1900-01-01 is zero)
    int ModeNumber = 0;
    int ModeNumberCount = 0;
    bool Confirmation = false;
    bool SizeOnly = false;       // MonModeSize
    bool ContentCompare = false; // MonModeCompare
    bool Force = false;
    // LastTime, or the date of a version made but not reported yet.
    double LastTime = 0;

    std::optional<FileStamp> File; // nothing: the file is gone
    double FileDate = 0;           // the file's date in whole seconds, LastTime's scale
    // The newest stored version; nothing when the item has none.
    std::optional<FileStamp> LastVersion;
    // Where it lies: the version made last in this run, or after a start the newest one
    // stored. The comparisons read it.
    std::string LastVersionPath;
    // Whether the size and content comparisons may use LastVersion.
    bool LastVersionCompared = false;
    // The state of the file the user last said No to.
    std::optional<FileStamp> Declined;
};

struct VersionDecision
{
    // Made: go on and copy (after asking, when Ask); anything else ends the attempt.
    VersionOutcome Outcome = VersionOutcome::NotDue;
    bool Ask = false;
    // Compare the file, and the state of it that is copied, with the last version: when
    // every byte matches, nothing is stored and the outcome is Unchanged.
    bool Compare = false;
    // The same with the sizes alone: a copy of the last version's size is not stored.
    bool CompareSize = false;
    // The mode counter's new value when this change counts towards it (it is saved even
    // when no version follows).
    std::optional<int> ModeNumberCount;
};

// Whether the file's present state deserves a version. A file counts as changed when its
// stamp (time to the nanosecond and size) differs from its last version's, so two saves
// within one second are two states; without a stored version its date is compared with
// LastTime. force skips the mode, the question and both comparisons, never the change test.
VersionDecision DecideVersion(const VersionFacts& facts);

} // namespace morvane
