// Copies argv[1] to argv[2] with the crash-safe copy; tests kill it part way through.
// With "crash" among the further arguments it ends at once after writing the bytes,
// before the copy gets its name, as a process killed at that point would; with
// "unnamed" the bytes wait in an unnamed file instead of a staging folder.
#include "platform/FileCopy.h"

#include <cstdio>
#include <string>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc < 3 || argc > 5)
        return 2;
    morvane::CopyOptions options;
    for (int i = 3; i < argc; ++i) {
        const std::string flag = argv[i];
        if (flag == "crash")
            options.AfterCopy = [](int) {
                ::_exit(0);
            };
        else if (flag == "unnamed")
            options.Staging = morvane::AtomicFile::Staging::Unnamed;
        else
            return 2;
    }
    const auto result = morvane::CopyFileSafely(argv[1], argv[2], options);
    std::printf("%d %d\n", static_cast<int>(result.Status), result.Error);
    return result.Status == morvane::CopyStatus::Ok ? 0 : 1;
}
