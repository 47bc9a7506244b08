#include "agent/AgentMain.h"

int main(int argc, char** argv)
{
    return morvane::AgentMain(argc, argv);
}
