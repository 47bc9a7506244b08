// Holds the agent's shared block and mutex the way a running agent does, until its
// standard input closes or it is killed. Prints "ready" once both are held.
#include "engine/SharedBlock.h"
#include "platform/NamedMutex.h"

#include <cstdio>
#include <iostream>

int main()
{
    using namespace morvane;
    auto mutex = NamedMutex::TryAcquire(kAgentMutexName);
    if (!mutex) {
        std::cerr << "mutex held elsewhere" << std::endl;
        return 2;
    }
    SharedBlockMapping block = SharedBlockMapping::Create();
    block->AgentWnd = 0x1234;
    std::cout << "ready" << std::endl;
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    return 0;
}
