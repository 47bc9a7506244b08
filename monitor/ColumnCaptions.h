#pragma once

#include <string>

namespace morvane {
class IniFile;
}

namespace morvane::monitor {

class ListView;

// Column captions of the two lists in a language file: section "Panel1" (the lists'
// parent), key <list name>.Columns.<column word>. Loading keeps a caption whose key is
// missing; columns beyond the known words are left alone. Saving throws IniWriteError.
void LoadColumnCaptions(ListView& list, IniFile& languageFile);
void SaveColumnCaptions(ListView& list, IniFile& languageFile);

} // namespace morvane::monitor
