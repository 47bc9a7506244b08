// Copies argv[1] to argv[2] with the crash-safe copy; tests kill it part way through.
// With a third argument "crash" it ends at once after writing the bytes, before the copy
// gets its name, as a process killed at that point would.
#include "platform/FileCopy.h"

#include <cstdio>
#include <string>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc != 3 && argc != 4)
        return 2;
    morvane::CopyOptions options;
    if (argc == 4 && std::string(argv[3]) == "crash")
        options.AfterCopy = [](int) {
            ::_exit(0);
        };
    const auto result = morvane::CopyFileSafely(argv[1], argv[2], options);
    std::printf("%d %d\n", static_cast<int>(result.Status), result.Error);
    return result.Status == morvane::CopyStatus::Ok ? 0 : 1;
}
