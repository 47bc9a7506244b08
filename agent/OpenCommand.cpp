#include "agent/OpenCommand.h"

#include "platform/Paths.h"

namespace morvane {

OpenCommand OpenCommand::Parse(const std::string& text)
{
    OpenCommand command;
    const std::size_t quote = text.find('"');
    const std::string program = quote == std::string::npos ? std::string() : text.substr(0, quote);
    const std::string quoted = quote == std::string::npos ? text : text.substr(quote);

    // The folder of the file: the opening quote is not part of it (a text without quotes
    // has none to drop, so its first character stays).
    const std::string unquoted = !quoted.empty() && quoted.front() == '"' ? quoted.substr(1) : quoted;
    command.Directory = FolderPart(unquoted);

    if (program.find_first_not_of(' ') == std::string::npos) {
        command.File = quoted;
    } else {
        command.File = program;
        command.Parameters.push_back(quoted);
    }
    return command;
}

} // namespace morvane
