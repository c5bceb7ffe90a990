// Figures of the settings file "pz.ini", each in a child process of its own so
// that one figure's peak memory is not another's:
// - one key read from a 10 MB file of blank lines, as a start-up makes six of
//   them: time (median of seven) and growth of peak memory. Goals: < 50 ms,
//   no more than the file's size.
// - one key written into files of 1, 10 and 30 MB of blank lines: time (median)
//   and growth of peak memory over the writes (VmHWM, reset first). Goal: a
//   few MB whatever the size.
// - a save (two keys written, as "保存设置" makes it) while another process
//   holds a lock on the folder. Goal: well under 100 ms.
// Usage: settings_bench [megabytes to read from]
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "proc_figures.h"
#include "settings_store.h"

namespace {

double msSince(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

// The peak so far becomes the present size (Linux 4.0 and later).
void resetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

// Written in small pieces, so that making the file leaves the peak alone.
bool makeFile(const std::string& ini, long megabytes)
{
    FILE* f = std::fopen(ini.c_str(), "wb");
    if (!f)
        return false;
    const std::string chunk(64 * 1024, '\n');
    for (long i = 0; i < megabytes * 16; ++i)
        std::fwrite(chunk.data(), 1, chunk.size(), f);
    std::fputs("[yy]\n音乐=/a.mp3\n", f);
    return std::fclose(f) == 0;
}

// Runs f in a child and prints the line it hands back.
void inChild(const std::function<std::string()>& f)
{
    int fds[2];
    if (pipe(fds) != 0)
        return;
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        const std::string line = f();
        (void)!write(fds[1], line.data(), line.size());
        _exit(0);
    }
    close(fds[1]);
    std::string line;
    char buf[512];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;)
        line.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    waitpid(child, nullptr, 0);
    std::printf("%s\n", line.c_str());
}

std::string median(std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    char s[64];
    std::snprintf(s, sizeof s, "median %.1f ms, max %.1f ms", times[times.size() / 2], times.back());
    return s;
}

std::string readFigures(const std::string& ini, long megabytes)
{
    resetPeak();
    const long before = statusKiB(getpid(), "VmHWM:");
    Text value;
    std::vector<double> times;
    for (int i = 0; i < 7; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        value = ReadIniValue(ini, "yy", "音乐");
        times.push_back(msSince(t0));
    }
    const long grown = statusKiB(getpid(), "VmHWM:") - before;
    char s[256];
    std::snprintf(s, sizeof s, "one key read from a %ld MB file of blank lines: %s (goal < 50 ms); "
                  "peak memory grew %.1f MB (goal <= %ld MB)%s",
                  megabytes, median(times).c_str(), grown / 1024.0, megabytes,
                  value == "/a.mp3" ? "" : " [wrong value!]");
    return s;
}

std::string writeFigures(const std::string& ini, long megabytes)
{
    const int rounds = megabytes >= 30 ? 3 : 5;
    resetPeak();
    const long before = statusKiB(getpid(), "VmHWM:");
    std::vector<double> times;
    bool ok = true;
    for (int i = 0; i < rounds; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        ok = WriteIniValue(ini, "yy", "音乐", i % 2 ? "/a.mp3" : "/b.mp3") && ok;  // each one a real change
        times.push_back(msSince(t0));
    }
    const long grown = statusKiB(getpid(), "VmHWM:") - before;
    char s[256];
    std::snprintf(s, sizeof s, "one key written into a %ld MB file of blank lines: %s; peak memory grew %.1f MB%s",
                  megabytes, median(times).c_str(), grown / 1024.0, ok ? "" : " [write failed!]");
    return s;
}

std::string lockedSaveFigures(const std::string& dir, const std::string& ini)
{
    int ready[2];
    if (pipe(ready) != 0)
        return "no pipe";
    const pid_t holder = fork();
    if (holder == 0) {
        const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
        (void)flock(fd, LOCK_EX);
        (void)!write(ready[1], "x", 1);
        sleep(5);
        _exit(0);
    }
    char c;
    (void)!read(ready[0], &c, 1);
    const auto t0 = std::chrono::steady_clock::now();
    const bool ok = WriteIniValue(ini, "sz", "最前", "真") && WriteIniValue(ini, "sz", "自启", "真");
    const double ms = msSince(t0);
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    char s[160];
    std::snprintf(s, sizeof s, "a save while another process holds the folder's lock: %.1f ms (goal < 100 ms)%s", ms,
                  ok ? "" : " [write failed!]");
    return s;
}

} // namespace

int main(int argc, char** argv)
{
    const long readMegabytes = argc > 1 ? std::atol(argv[1]) : 10;
    char dir[] = "/tmp/settings-bench-XXXXXX";
    if (!mkdtemp(dir))
        return 1;
    const std::string ini = std::string(dir) + "/pz.ini";

    if (makeFile(ini, readMegabytes))
        inChild([&] { return readFigures(ini, readMegabytes); });
    for (long megabytes : {1L, 10L, 30L})
        if (makeFile(ini, megabytes))
            inChild([&] { return writeFigures(ini, megabytes); });
    unlink(ini.c_str());
    inChild([&] { return lockedSaveFigures(dir, ini); });
    unlink(ini.c_str());
    rmdir(dir);
    return 0;
}
