#include "platform/Log.h"

#include <cstdio>
#include <mutex>

namespace morvane {

namespace {

struct LogState
{
    std::mutex Mutex;
    std::string Name = "morvane";
    LogSink Sink;
};

LogState& State()
{
    static LogState state;
    return state;
}

} // namespace

void SetLogName(const std::string& name)
{
    LogState& s = State();
    std::lock_guard lock(s.Mutex);
    s.Name = name;
}

void Log(const std::string& text)
{
    LogState& s = State();
    std::lock_guard lock(s.Mutex);
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

} // namespace morvane
