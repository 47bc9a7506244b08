#pragma once

// What every benchmark prints its figures with: medians of rounds whose sides take turns,
// and the machine's load while they ran (the figures of a loaded machine are not those of
// an idle one, and the reader must be able to tell).
#include <QtGlobal>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace morvane::bench {

inline double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

inline double Ratio(double a, double b)
{
    return b > 0 ? a / b : 0;
}

// The three load averages, as /proc/loadavg gives them.
inline std::string LoadAverage()
{
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one.empty() ? std::string("?") : one + " " + five + " " + fifteen;
}

inline void PrintLoad(const char* when)
{
    std::printf("load average %s: %s\n", when, LoadAverage().c_str());
    std::fflush(stdout);
}

// Rounds per figure: MORVANE_BENCH_ROUNDS, else the default (five at least, so that one
// round slowed by the machine never decides a median).
inline int Rounds(int byDefault = 5)
{
    const int asked = qEnvironmentVariableIntValue("MORVANE_BENCH_ROUNDS");
    return asked > 0 ? asked : byDefault;
}

} // namespace morvane::bench
