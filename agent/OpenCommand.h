#pragma once

#include <string>
#include <vector>

namespace morvane {

// The command line of an OPEN request taken apart: "program "file"" runs the program with
// the file as its one argument; ""file"" alone opens the file with its desktop handler.
// Nothing of it ever reaches a shell.
struct OpenCommand
{
    // What to start: the program, or the quoted file itself when no program stands first.
    // Blanks around it and one pair of surrounding quotes are removed by the starter.
    std::string File;
    // The quoted file as the program's single argument (empty when there is no program).
    std::vector<std::string> Parameters;
    // The file's folder, the working folder of what is started.
    std::string Directory;

    // Splits text at its first double quote: what stands before it (blanks included) is
    // the program, the rest from the quote on is the file. Text without a quote is all
    // file. Any thread.
    static OpenCommand Parse(const std::string& text);
};

} // namespace morvane
