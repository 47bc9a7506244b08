// Copies argv[1] to argv[2] with the crash-safe copy; tests kill it part way through.
#include "platform/FileCopy.h"

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    const auto result = morvane::CopyFileSafely(argv[1], argv[2]);
    std::printf("%d %d\n", static_cast<int>(result.Status), result.Error);
    return result.Status == morvane::CopyStatus::Ok ? 0 : 1;
}
