#include "monitor/ColumnCaptions.h"

#include "monitor/ListView.h"
#include "platform/IniFile.h"

#include <vector>

namespace morvane::monitor {

namespace {

constexpr const char* kSection = "Panel1";

// The column words of each list, in column order.
std::vector<const char*> ColumnWords(const QString& listName)
{
    if (listName == "FileList")
        return {"File", "Status", "Path", "MonMode", "Versions"};
    if (listName == "VerList")
        return {"File", "Version", "Time", "Location"};
    return {};
}

std::string Key(const QString& listName, const char* word)
{
    return listName.toStdString() + ".Columns." + word;
}

} // namespace

void LoadColumnCaptions(ListView& list, IniFile& languageFile)
{
    const auto words = ColumnWords(list.objectName());
    for (int i = 0; i < list.ColumnCount() && i < int(words.size()); ++i) {
        const std::string current = list.ColumnCaption(i).toStdString();
        list.SetColumnCaption(i, QString::fromStdString(languageFile.ReadString(
                                     kSection, Key(list.objectName(), words[i]), current)));
    }
}

void SaveColumnCaptions(const ListView& list, IniFile& languageFile)
{
    const auto words = ColumnWords(list.objectName());
    for (int i = 0; i < list.ColumnCount() && i < int(words.size()); ++i)
        languageFile.WriteString(kSection, Key(list.objectName(), words[i]),
                                 list.ColumnCaption(i).toStdString());
}

} // namespace morvane::monitor
