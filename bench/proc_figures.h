#pragma once
// Figures of a running process read from /proc, for the benchmarks.
#include <sys/types.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

// A size field of /proc/PID/status ("VmRSS:", "VmHWM:") in KiB; -1 when the
// process is gone.
inline long statusKiB(pid_t pid, const std::string& field)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field, 0) == 0)
            return std::atol(line.c_str() + field.size());
    return -1;
}

// Resident memory in KiB.
inline long rssKiB(pid_t pid) { return statusKiB(pid, "VmRSS:"); }

// Entries of a folder, such as /proc/self/task (threads) or /proc/self/fd.
inline size_t entriesOf(const std::string& dir)
{
    size_t n = 0;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(dir, ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec))
        ++n;
    return n;
}

// Calls f with the folder of every thread of the process; a thread may end meanwhile.
template <typename F>
void forEachThread(pid_t pid, F f)
{
    std::error_code ec;
    const std::filesystem::directory_iterator end;
    for (auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec); !ec && it != end;
         it.increment(ec))
        f(it->path());
}

// CPU time of all its threads, to the nanosecond (the scheduler's own count,
// not 10 ms ticks).
inline double cpuSeconds(pid_t pid)
{
    double total = 0;
    forEachThread(pid, [&](const std::filesystem::path& task) {
        std::ifstream in(task / "schedstat");
        long long ns = 0;
        if (in >> ns)
            total += double(ns) / 1e9;
    });
    return total;
}

// Voluntary context switches of all its threads: each is a thread going to
// sleep, so one wake-up; the preemptions a busy machine adds do not count.
inline long contextSwitches(pid_t pid)
{
    long total = 0;
    forEachThread(pid, [&](const std::filesystem::path& task) {
        std::ifstream in(task / "status");
        std::string line;
        while (std::getline(in, line))
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
                total += std::atol(line.c_str() + line.find(':') + 1);
    });
    return total;
}
