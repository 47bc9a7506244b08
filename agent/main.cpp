#include "agent/AgentMain.h"
#include "platform/TerminationSignal.h"

int main(int argc, char** argv)
{
    morvane::IgnoreBrokenPipes();
    return morvane::AgentMain(argc, argv);
}
