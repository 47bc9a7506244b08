// Child process for the date tests: INI date texts under the locale of its environment.
// For every argument (year month day hour minute second) it prints the text, a tab and
// "ok" when the text reads back to the same bits, else "bad".
#include "platform/OleDate.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    for (int i = 1; i + 5 < argc; i += 6) {
        const double date =
            morvane::EncodeOleDate(std::atoi(argv[i]), std::atoi(argv[i + 1]), std::atoi(argv[i + 2]),
                                   std::atoi(argv[i + 3]), std::atoi(argv[i + 4]), std::atoi(argv[i + 5]));
        const std::string text = morvane::FormatIniDate(date);
        const auto back = morvane::ParseIniDate(text);
        const bool same = back && std::memcmp(&*back, &date, sizeof date) == 0;
        std::printf("%s\t%s\n", text.c_str(), same ? "ok" : "bad");
    }
    return 0;
}
