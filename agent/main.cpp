#include "agent/AgentMain.h"
#include "platform/TerminationSignal.h"
#include "support/CommandLine.h"

int main(int argc, char** argv)
{
    morvane::IgnoreBrokenPipes();
    const morvane::ProgramInfo info{
        "quennet", "The Morvane agent: keeps earlier versions of the files you monitor.",
        "It runs in the background with an icon in the notification area (or, on a desktop\n"
        "without one, with desktop notifications); open the monitor, kelvrim, to choose\n"
        "files and folders and to see their versions.\n\n"
        "  --show-monitor  also open the monitor once the agent runs (or, when an agent\n"
        "                  runs already, only open the monitor): the applications menu's way\n"};
    if (morvane::AnswerInfoOption(argc, argv, info))
        return 0;
    return morvane::AgentMain(argc, argv);
}
