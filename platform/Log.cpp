#include "platform/Log.h"

#include "platform/FileCopy.h"
#include "platform/OwnedFd.h"
#include "platform/Paths.h"
#include "platform/XdgDirs.h"

#include <QString>
#include <QtGlobal>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace morvane {

namespace {

struct LogState
{
    std::mutex Mutex;
    std::string Name = "morvane";
    LogSink Sink;
    OwnedFd File;
    std::string FilePath;
    std::size_t Limit = kLogFileLimit;
};

LogState& State()
{
    static LogState state;
    return state;
}

OwnedFd OpenForAppend(const std::string& path)
{
    return OwnedFd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600));
}

// Moves a full file aside and starts a new one. Another process of the same program may
// have done so already: then only the fresh file is opened.
void RotateIfFull(LogState& s)
{
    struct stat ours = {};
    if (::fstat(s.File.Get(), &ours) != 0 || static_cast<std::size_t>(ours.st_size) < s.Limit)
        return;
    struct stat named = {};
    if (::stat(s.FilePath.c_str(), &named) == 0 && named.st_ino == ours.st_ino && named.st_dev == ours.st_dev)
        ::rename(s.FilePath.c_str(), (s.FilePath + ".1").c_str());
    OwnedFd fresh = OpenForAppend(s.FilePath);
    if (fresh.Valid())
        s.File = std::move(fresh);
}

// Control characters of a text from outside (a file name, a message) shown as \xNN, so
// that no name can split its line or pose as a line of its own; everything else, UTF-8
// included, stays as it is.
std::string Escaped(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u != 0x7F) {
            out += c;
            continue;
        }
        static constexpr char kHex[] = "0123456789abcdef";
        out += "\\x";
        out += kHex[u >> 4];
        out += kHex[u & 0xF];
    }
    return out;
}

std::string FileLine(const std::string& name, const std::string& text)
{
    const std::time_t now = std::time(nullptr);
    std::tm local = {};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    return std::string(stamp) + " " + name + "[" + std::to_string(::getpid()) + "]: " + text + "\n";
}

} // namespace

void SetLogName(const std::string& name)
{
    LogState& s = State();
    std::lock_guard lock(s.Mutex);
    s.Name = name;
}

void Log(const std::string& raw)
{
    const std::string text = Escaped(raw);
    LogState& s = State();
    std::lock_guard lock(s.Mutex);
    if (s.File.Valid()) {
        RotateIfFull(s);
        // A full disk loses log lines, never the program.
        WriteAll(s.File.Get(), FileLine(s.Name, text));
    }
    const std::string line = s.Name + ": " + text;
    if (s.Sink) {
        s.Sink(line);
        return;
    }
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

LogSink SetLogSink(LogSink sink)
{
    LogState& s = State();
    std::lock_guard lock(s.Mutex);
    std::swap(s.Sink, sink);
    return sink;
}

std::string DefaultLogFilePath()
{
    std::string name;
    {
        LogState& s = State();
        std::lock_guard lock(s.Mutex);
        name = s.Name;
    }
    return StateHome() + "morvane/" + name + ".log";
}

bool OpenLogFile(const std::string& path, std::size_t limit)
{
    std::string file = path;
    try {
        if (file.empty())
            file = DefaultLogFilePath();
    } catch (const std::exception& e) {
        Log(std::string("no log file: ") + e.what());
        return false;
    }
    const std::string folder = FolderPart(file);
    OwnedFd fd;
    if (!folder.empty() && !MakePrivateDirs(WithoutTrailingSep(folder))) {
        const int err = errno;
        Log("no log file: cannot create the folder " + folder + ": " + std::strerror(err));
        return false;
    }
    fd = OpenForAppend(file);
    if (!fd.Valid()) {
        const int err = errno;
        Log("no log file: cannot open " + file + ": " + std::strerror(err));
        return false;
    }
    LogState& s = State();
    std::lock_guard lock(s.Mutex);
    s.File = std::move(fd);
    s.FilePath = file;
    s.Limit = limit;
    return true;
}

void CloseLogFile()
{
    LogState& s = State();
    std::lock_guard lock(s.Mutex);
    s.File = OwnedFd();
    s.FilePath.clear();
}

void LogStart()
{
    std::string home;
    try {
        home = HomeDir();
    } catch (const std::exception& e) {
        home = std::string("none (") + e.what() + ")";
    }
    Log("version " MORVANE_VERSION " starts, data folder " + home);
}

void LogEnd(int exitCode)
{
    Log("ends, exit code " + std::to_string(exitCode));
}

void LogToolkitMessages()
{
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        // Debug chatter stays out of the user's file.
        if (type == QtDebugMsg || type == QtInfoMsg)
            return;
        Log(message.toStdString());
    });
}

} // namespace morvane
