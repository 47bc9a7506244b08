#pragma once

#include <string>

namespace morvane {
class IniFile;
}

namespace morvane::monitor {

class ListView;

// Column captions of the two lists from a language file: section "Panel1" (the lists'
// parent), key <list name>.Columns.<column word>. A caption whose key is missing stays;
// columns beyond the known words are left alone.
void LoadColumnCaptions(ListView& list, IniFile& languageFile);
// Writes the current captions under the same keys (the caller flushes the file).
void SaveColumnCaptions(const ListView& list, IniFile& languageFile);

} // namespace morvane::monitor
