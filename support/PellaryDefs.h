#pragma once

#include "engine/MonItemRecord.h"
#include "engine/SharedBlock.h"

#include <optional>
#include <string>
#include <vector>

namespace morvane {

// The agent's shared block when the agent runs: mapped only while a live process holds
// both the block and the agent's mutex. Never creates a mapping, so asking while no
// agent runs leaves nothing behind. The caller owns the returned mapping. Any thread.
std::optional<SharedBlockMapping> IsAgentRunning();

// Replaces "=" in a version line's label with a look-alike, so that splitting a line at
// its first "=" always yields the whole label and the whole value.
std::string SafeVersionLabel(const std::string& label);

// Lists the stored versions of item from settings.BackupPath + item.FileID: one line
// "label=value" per version file, version folders in numeric order (only all-digit
// folder names count), only regular files. The label is the file's date formatted with
// settings.DateFormat when ShowDate, " | " when both, the file name when ShowFileName;
// it never holds "=", so callers split a line at its first "=". The value is the
// version's full path in double quotes, preceded by Executer and a blank when the item
// opens versions with a custom program. lines is cleared first; returns true when it
// holds at least one line. A missing or unreadable backup folder, or a FileID that is
// not a plain folder name, gives no lines. Any thread.
bool ListItemVersions(const SharedSettings& settings, const TMonItemRecord& item,
                      std::vector<std::string>& lines);

// The number of stored versions of item, as ListItemVersions lists them.
std::size_t CountItemVersions(const SharedSettings& settings, const TMonItemRecord& item);

} // namespace morvane
