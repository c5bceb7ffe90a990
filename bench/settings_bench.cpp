// Figures of one key read from a 10 MB settings file of blank lines, as a
// start-up makes six of them: the time of one read (median of seven) and the growth of the
// process's peak memory over it (getrusage). Goals: < 50 ms, no more than
// the file's size. Usage: settings_bench [megabytes]
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "settings_store.h"

namespace {

long peakKiB()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

} // namespace

int main(int argc, char** argv)
{
    const long megabytes = argc > 1 ? std::atol(argv[1]) : 10;
    char dir[] = "/tmp/settings-bench-XXXXXX";
    if (!mkdtemp(dir))
        return 1;
    const std::string ini = std::string(dir) + "/pz.ini";
    // Written in small pieces, so that making the file leaves the peak alone.
    FILE* f = std::fopen(ini.c_str(), "wb");
    if (!f)
        return 1;
    const std::string chunk(64 * 1024, '\n');
    for (long i = 0; i < megabytes * 16; ++i)
        std::fwrite(chunk.data(), 1, chunk.size(), f);
    std::fputs("[yy]\n音乐=/a.mp3\n", f);
    std::fclose(f);

    const long before = peakKiB();
    Text value;
    std::vector<double> times;
    for (int i = 0; i < 7; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        value = ReadIniValue(ini, "yy", "音乐");
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
    const long grown = peakKiB() - before;
    std::sort(times.begin(), times.end());
    std::printf("one key read from a %ld MB file of blank lines: median %.2f ms, max %.2f ms (goal < 50 ms); "
                "peak memory grew %.1f MB (goal <= %ld MB)%s\n",
                megabytes, times[times.size() / 2], times.back(), grown / 1024.0, megabytes,
                value == "/a.mp3" ? "" : " [wrong value!]");
    unlink(ini.c_str());
    rmdir(dir);
    return 0;
}
