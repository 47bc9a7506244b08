#pragma once

#include <cstdio>
#include <string>

namespace morvane {

// What a program says about itself on the command line, before it needs a display.
struct ProgramInfo
{
    const char* Name;    // the program file's name
    const char* Summary; // one line: what it is
    const char* Details; // further lines of --help, each ending with "\n"
};

// Answers --help and --version (also -h and -v) on out; the first of them among the
// arguments wins. Returns true when the program should end now (with exit code 0);
// false for any other command line, which the program handles itself. Any thread.
bool AnswerInfoOption(int argc, char** argv, const ProgramInfo& info, std::FILE* out = stdout);

} // namespace morvane
