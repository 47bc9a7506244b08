// A program that takes termination signals the agent's way, then behaves as asked:
//   quit          ends its event loop on the signal and exits 0
//   slow-stop     on the signal, keeps its loop turning past the stall limit, then waits
//                 that long again without turning it but beating, then exits 0
//   spin          never returns to its event loop after printing "ready"
//   spin-locked   as spin, holding the lock its last step needs
//   hang-at-exit  ends its event loop on the signal, then never finishes exiting
//   no-signal     sets up, tears down, then lives past the stall limit and exits 0
// Its last step writes the file named by the second argument. It prints "ready" once the
// handlers are in place.
#include "platform/TerminationSignal.h"

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>

using namespace morvane;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const std::string mode = argc > 1 ? argv[1] : "";
    const std::string written = argc > 2 ? argv[2] : "";
    std::mutex lock;
    TerminationSignal::SetLastStep([&] {
        std::lock_guard guard(lock);
        std::ofstream(written) << "written";
    });
    const auto pastStall = TerminationSignal::kStallLimit + std::chrono::milliseconds(700);
    {
        TerminationSignal termination;
        QObject::connect(&termination, &TerminationSignal::Received, &app, [&] {
            if (mode != "slow-stop") {
                QCoreApplication::quit();
                return;
            }
            QTimer::singleShot(pastStall, &app, [&] {
                for (const auto end = std::chrono::steady_clock::now() + pastStall;
                     std::chrono::steady_clock::now() < end;) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                    TerminationSignal::Beat();
                }
                QCoreApplication::quit();
            });
        });
        std::puts("ready");
        std::fflush(stdout);
        if (mode == "spin" || mode == "spin-locked") {
            std::unique_lock held(lock, std::defer_lock);
            if (mode == "spin-locked")
                held.lock();
            volatile unsigned long long turns = 0;
            for (;;)
                turns = turns + 1;
        }
        if (mode == "quit" || mode == "hang-at-exit" || mode == "slow-stop")
            QCoreApplication::exec();
    }
    if (mode == "hang-at-exit") {
        for (;;)
            std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    if (mode == "no-signal")
        std::this_thread::sleep_for(pastStall);
    return 0;
}
