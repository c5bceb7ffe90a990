// Figures of the settings file "pz.ini", each in a child process of its own so
// that one figure's peak memory is not another's:
// - one key read from a 10 MB file of blank lines, as a start-up makes six of
//   them: time (median of seven) and growth of peak memory. Goals: < 50 ms,
//   no more than the file's size.
// - one key written into files of 1, 10 and 30 MB of blank lines: time (median)
//   and growth of peak memory over the writes (VmHWM, reset first). Goal: a
//   few MB whatever the size.
// - a save (two keys written, as "保存设置" makes it; one registry value) while
//   another process holds a lock on the folder. Goal: well under 100 ms.
// - keys lost when two writers write 200 keys each at the same moment, into
//   pz.ini and into the registry store, alone and while another process holds
//   the folder's lock, on this machine's disk and on a slow one (a FUSE
//   passthrough whose fsync takes 40 ms, as a network home's may). Goal: none.
// Usage: settings_bench [megabytes to read from]
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "proc_figures.h"
#include "registry_store.h"
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

// Another process holding the folder's lock until it is killed.
pid_t holdLock(const std::string& dir)
{
    int ready[2];
    if (pipe(ready) != 0)
        return -1;
    const pid_t holder = fork();
    if (holder == 0) {
        const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
        (void)flock(fd, LOCK_EX);
        (void)!write(ready[1], "x", 1);
        pause();
        _exit(0);
    }
    char c;
    (void)!read(ready[0], &c, 1);
    close(ready[0]);
    close(ready[1]);
    return holder;
}

void stop(pid_t pid)
{
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

std::string lockedSaveFigures(const std::string& dir, const std::string& where)
{
    const std::string ini = dir + "/pz.ini";
    setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    mkdir((dir + "/ruvo").c_str(), 0700);
    const pid_t holder = holdLock(dir), storeHolder = holdLock(dir + "/ruvo");
    auto t0 = std::chrono::steady_clock::now();
    bool ok = WriteIniValue(ini, "sz", "最前", "真") && WriteIniValue(ini, "sz", "自启", "真");
    const double ms = msSince(t0);
    t0 = std::chrono::steady_clock::now();
    ok = registry_store::setValue(4, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", "zuv",
                                  registry_store::Data{registry_store::Type::sz, std::string("/opt/countdown") + '\0'}) && ok;
    const double registryMs = msSince(t0);
    stop(holder);
    stop(storeHolder);
    char s[256];
    std::snprintf(s, sizeof s, "%s: a save while another process holds the folder's lock: %.1f ms; "
                  "a registry write likewise: %.1f ms (goal < 100 ms)%s", where.c_str(), ms, registryMs,
                  ok ? "" : " [write failed!]");
    return s;
}

// Two writers of 200 keys each, started at the same moment; the keys lost.
std::string raceFigures(const std::string& dir, const std::string& where, bool neighbour)
{
    constexpr int kKeys = 200;
    const std::string ini = dir + "/pz.ini";
    setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    mkdir((dir + "/ruvo").c_str(), 0700);
    const pid_t holders[] = {neighbour ? holdLock(dir) : -1, neighbour ? holdLock(dir + "/ruvo") : -1};
    auto key = [](int which, int i) { return std::to_string(which) + "-" + std::to_string(i); };
    // Runs both writers; the writes that failed.
    auto race = [&](const std::function<bool(const std::string&)>& write) {
        int gate[2];
        if (pipe(gate) != 0)
            return -1;
        pid_t writers[2];
        for (int which = 0; which < 2; ++which)
            if ((writers[which] = fork()) == 0) {
                close(gate[1]);
                char c;
                (void)!read(gate[0], &c, 1);
                int failed = 0;
                for (int i = 0; i < kKeys; ++i)
                    failed += !write(key(which, i));
                _exit(failed);
            }
        close(gate[0]);
        close(gate[1]);
        int failed = 0;
        for (pid_t w : writers) {
            int status = 0;
            waitpid(w, &status, 0);
            failed += WIFEXITED(status) ? WEXITSTATUS(status) : kKeys;
        }
        return failed;
    };
    const registry_store::Data v{registry_store::Type::sz, std::string("v") + '\0'};
    auto t0 = std::chrono::steady_clock::now();
    const int iniFailed = race([&](const std::string& k) { return WriteIniValue(ini, "yy", k, "v"); });
    const double iniSeconds = msSince(t0) / 1000;
    t0 = std::chrono::steady_clock::now();
    const int storeFailed = race([&](const std::string& k) { return registry_store::setValue(3, "Software\\Ruvo", k, v); });
    const double storeSeconds = msSince(t0) / 1000;
    for (pid_t h : holders)
        if (h > 0)
            stop(h);
    int iniLost = 0, storeLost = 0;
    for (int which = 0; which < 2; ++which)
        for (int i = 0; i < kKeys; ++i) {
            iniLost += ReadIniValue(ini, "yy", key(which, i)) != "v";
            storeLost += !registry_store::valueExists(3, "Software\\Ruvo", key(which, i));
        }
    char s[400];
    std::snprintf(s, sizeof s, "%s, two writers x %d keys%s: pz.ini lost %d of %d (%d writes failed, %.1f s), "
                  "registry lost %d of %d (%d writes failed, %.1f s) (goal: none lost)", where.c_str(), kKeys,
                  neighbour ? " while another process locks the folder" : "", iniLost, 2 * kKeys, iniFailed, iniSeconds,
                  storeLost, 2 * kKeys, storeFailed, storeSeconds);
    return s;
}

// A folder for each figure, so that none reads what another wrote.
std::string freshFolder(const std::string& under)
{
    static int n = 0;
    const std::string dir = under + "/" + std::to_string(++n);
    mkdir(dir.c_str(), 0700);
    return dir;
}

// The save and race figures of one disk, each in a folder of its own, made
// here: a child's count of folders is its own.
void diskFigures(const std::string& under, const std::string& where)
{
    const std::string saves = freshFolder(under);
    inChild([&] { return lockedSaveFigures(saves, where); });
    for (bool neighbour : {false, true}) {
        const std::string races = freshFolder(under);
        inChild([&] { return raceFigures(races, where, neighbour); });
    }
}

// The slow disk mounted on `mountpoint`, served from `source`; its server's pid, or -1.
pid_t mountSlowDisk(const std::string& source, const std::string& mountpoint)
{
    mkdir(source.c_str(), 0700);
    mkdir(mountpoint.c_str(), 0700);
    struct stat before;
    if (stat(mountpoint.c_str(), &before) != 0)
        return -1;
    const pid_t server = fork();
    if (server == 0) {
        execl("/usr/bin/python3", "python3", RUVO_SLOW_DISK, source.c_str(), mountpoint.c_str(), (char*)nullptr);
        _exit(127);
    }
    for (int i = 0; i < 200; ++i) {
        struct stat now;
        if (stat(mountpoint.c_str(), &now) == 0 && now.st_dev != before.st_dev)
            return server;
        if (waitpid(server, nullptr, WNOHANG) == server)
            return -1;
        usleep(50000);
    }
    stop(server);
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    const long readMegabytes = argc > 1 ? std::atol(argv[1]) : 10;
    // A real disk: tmpfs would hide the races.
    char base[] = "/var/tmp/settings-bench-XXXXXX";
    if (!mkdtemp(base))
        return 1;
    const std::string dir = freshFolder(base);
    const std::string ini = dir + "/pz.ini";
    // The writers' locks, where the session has no runtime folder.
    if (!std::getenv("XDG_RUNTIME_DIR"))
        setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);

    if (makeFile(ini, readMegabytes))
        inChild([&] { return readFigures(ini, readMegabytes); });
    for (long megabytes : {1L, 10L, 30L})
        if (makeFile(ini, megabytes))
            inChild([&] { return writeFigures(ini, megabytes); });
    unlink(ini.c_str());
    diskFigures(base, "this disk");
    const std::string slow = std::string(base) + "/slow";
    const pid_t server = mountSlowDisk(std::string(base) + "/slow-source", slow);
    if (server < 0) {
        std::printf("slow disk: could not be mounted (needs /dev/fuse, fusermount and python3-fusepy)\n");
    } else {
        diskFigures(slow, "slow disk");
        std::system(("fusermount -u -z " + slow).c_str());
        stop(server);
    }
    std::filesystem::remove_all(base);
    return 0;
}
