// Writes how it was started to the file named by MORVANE_ARGV_FILE: its working folder,
// then each argument, every entry ended by a NUL byte, so that an argument holding blanks,
// quotes or line breaks is seen exactly as it arrived.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

int main(int argc, char** argv)
{
    const char* out = std::getenv("MORVANE_ARGV_FILE");
    if (!out)
        return 2;
    const std::string temp = std::string(out) + ".part";
    {
        std::ofstream file(temp, std::ios::binary | std::ios::trunc);
        const std::string cwd = std::filesystem::current_path().string();
        file.write(cwd.c_str(), static_cast<std::streamsize>(cwd.size() + 1));
        for (int i = 1; i < argc; ++i)
            file.write(argv[i], static_cast<std::streamsize>(std::string(argv[i]).size() + 1));
    }
    // Appears whole or not at all.
    std::filesystem::rename(temp, out);
    return 0;
}
