// A program that takes termination signals the agent's way, then behaves as asked:
//   quit          ends its event loop on the signal and exits 0
//   spin          never returns to its event loop after printing "ready"
//   hang-at-exit  ends its event loop on the signal, then never finishes exiting
//   no-signal     sets up, tears down, then lives past the grace period and exits 0
// It prints "ready" once the handlers are in place.
#include "platform/TerminationSignal.h"

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

using namespace morvane;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const std::string mode = argc > 1 ? argv[1] : "";
    {
        TerminationSignal termination;
        QObject::connect(&termination, &TerminationSignal::Received, &app, [] { QCoreApplication::quit(); });
        std::puts("ready");
        std::fflush(stdout);
        if (mode == "spin") {
            volatile unsigned long long turns = 0;
            for (;;)
                turns = turns + 1;
        }
        if (mode == "quit" || mode == "hang-at-exit")
            QCoreApplication::exec();
    }
    if (mode == "hang-at-exit") {
        for (;;)
            std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    if (mode == "no-signal")
        std::this_thread::sleep_for(TerminationSignal::kGracePeriod + std::chrono::milliseconds(700));
    return 0;
}
