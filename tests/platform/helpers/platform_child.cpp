// A second process for the platform tests. Commands:
//   hold-mutex NAME                    take the mutex, print "ready", wait to be killed
//   hold-mapping NAME SIZE [MUTEX]     create/join the mapping (and take MUTEX), print
//                                      "ready existed=<0|1> size=<n>", wait to be killed
//   write-mapping NAME OFFSET TEXT     like hold-mapping, writing TEXT at OFFSET first
//   read-mapping NAME OFFSET LEN       print LEN bytes of an existing mapping, or "absent"
//   post-burst HANDLE MSG COUNT        post COUNT messages (wParam 0..COUNT-1), print how
//                                      many posts failed
//   print-atoms NAME...                print the message number of each name, one a line
//   print-atoms-on-cue NAME...         print "waiting", read a line, then as print-atoms
//   hold-window                        open a message window, print its handle, run
#include "platform/MessageAtoms.h"
#include "platform/MessageWindow.h"
#include "platform/NamedMapping.h"
#include "platform/NamedMutex.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <sys/prctl.h>
#include <unistd.h>

using namespace morvane;

namespace {

[[noreturn]] void WaitToBeKilled()
{
    std::fflush(stdout);
    for (;;)
        pause();
}

int Run(int argc, char** argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "hold-mutex" && argc == 3) {
        auto mutex = NamedMutex::TryAcquire(argv[2]);
        if (!mutex) {
            std::puts("busy");
            return 2;
        }
        std::puts("ready");
        WaitToBeKilled();
    }
    if ((command == "hold-mapping" && (argc == 4 || argc == 5)) ||
        (command == "write-mapping" && argc == 5)) {
        const bool write = command == "write-mapping";
        std::optional<NamedMutex> mutex;
        if (!write && argc == 5) {
            mutex = NamedMutex::TryAcquire(argv[4]);
            if (!mutex) {
                std::puts("busy");
                return 2;
            }
        }
        bool existed = false;
        const std::size_t size = write ? 4096 : std::stoul(argv[3]);
        NamedMapping mapping = NamedMapping::Create(argv[2], size, &existed);
        if (write) {
            const std::size_t offset = std::stoul(argv[3]);
            std::memcpy(static_cast<char*>(mapping.Data()) + offset, argv[4], std::strlen(argv[4]));
        }
        std::printf("ready existed=%d size=%zu\n", existed ? 1 : 0, mapping.Size());
        WaitToBeKilled();
    }
    if (command == "read-mapping" && argc == 5) {
        auto mapping = NamedMapping::OpenExisting(argv[2]);
        if (!mapping) {
            std::puts("absent");
            return 0;
        }
        const std::size_t offset = std::stoul(argv[3]);
        const std::size_t len = std::stoul(argv[4]);
        std::fwrite(static_cast<const char*>(mapping->Data()) + offset, 1, len, stdout);
        std::puts("");
        return 0;
    }
    if (command == "post-burst" && argc == 5) {
        const auto handle = static_cast<std::uint32_t>(std::stoul(argv[2], nullptr, 16));
        const auto msg = static_cast<std::uint32_t>(std::stoul(argv[3]));
        const auto count = static_cast<std::uint32_t>(std::stoul(argv[4]));
        unsigned failed = 0;
        for (std::uint32_t i = 0; i < count; ++i)
            failed += PostMessage(handle, msg, i, count - i) ? 0 : 1;
        std::printf("failed=%u\n", failed);
        return 0;
    }
    if (command == "print-atoms-on-cue") {
        std::puts("waiting");
        std::fflush(stdout);
        char cue[16];
        if (!std::fgets(cue, sizeof cue, stdin))
            return 3;
    }
    if (command == "print-atoms" || command == "print-atoms-on-cue") {
        for (int i = 2; i < argc; ++i)
            std::printf("%s=%u\n", argv[i], RegisterWindowMessage(argv[i]));
        return 0;
    }
    if (command == "hold-window") {
        MessageWindow window;
        window.SetHandler([](const WindowMessage&) {});
        std::printf("ready %08x\n", window.Handle());
        std::fflush(stdout);
        return QCoreApplication::exec();
    }
    std::fprintf(stderr, "unknown command\n");
    return 64;
}

} // namespace

int main(int argc, char** argv)
{
    // Never outlive the test that started us.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    QCoreApplication app(argc, argv);
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
