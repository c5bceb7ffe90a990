// Start-up and idle cost of a program on an X display: the time from starting
// the process to its main window being mapped, its resident memory when idle,
// and the CPU it uses while idle. Without arguments both programs are measured
// in the same run. Prints figures; never fails.
//   startup_bench [executable window-title [runs]]
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::string windowName(Display* d, Window w)
{
    Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
    Atom netName = XInternAtom(d, "_NET_WM_NAME", False);
    Atom type;
    int format;
    unsigned long n, after;
    unsigned char* data = nullptr;
    std::string name;
    if (XGetWindowProperty(d, w, netName, 0, 1024, False, utf8, &type, &format, &n, &after, &data) == Success && data) {
        name.assign(reinterpret_cast<char*>(data), n);
        XFree(data);
    }
    return name;
}

long rssKiB(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

double cpuSeconds(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(in)), {});
    size_t close = all.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::vector<std::string> fields;
    size_t pos = close + 2;
    while (pos < all.size()) {
        size_t sp = all.find(' ', pos);
        fields.push_back(all.substr(pos, sp - pos));
        if (sp == std::string::npos)
            break;
        pos = sp + 1;
    }
    if (fields.size() < 13)
        return 0;
    return double(std::atoll(fields[11].c_str()) + std::atoll(fields[12].c_str())) / double(sysconf(_SC_CLK_TCK));
}

} // namespace

namespace {

void measure(Display* d, const std::string& exe, const std::string& title, int runs)
{
    std::vector<double> startMs;
    long rss = -1;
    double idleCpu = -1;
    for (int run = 0; run < runs; ++run) {
        XSelectInput(d, DefaultRootWindow(d), SubstructureNotifyMask);
        XSync(d, True);
        auto t0 = Clock::now();
        pid_t pid = fork();
        if (pid == 0) {
            execl(exe.c_str(), exe.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        bool mapped = false;
        while (!mapped && Clock::now() - t0 < std::chrono::seconds(20)) {
            while (XPending(d)) {
                XEvent e;
                XNextEvent(d, &e);
                if (e.type == MapNotify && windowName(d, e.xmap.window) == title)
                    mapped = true;
            }
            if (!mapped)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        auto t1 = Clock::now();
        if (mapped)
            startMs.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        if (run == runs - 1 && mapped) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            rss = rssKiB(pid);
            double c0 = cpuSeconds(pid);
            std::this_thread::sleep_for(std::chrono::seconds(5));
            idleCpu = (cpuSeconds(pid) - c0) / 5.0 * 100.0;
        }
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    if (startMs.empty()) {
        std::printf("startup_bench: the window \"%s\" of %s never appeared\n", title.c_str(), exe.c_str());
        return;
    }
    std::sort(startMs.begin(), startMs.end());
    std::printf("program: %s\n", exe.c_str());
    std::printf("start-up to window mapped: median %.1f ms, best %.1f ms, worst %.1f ms (%zu runs)\n",
                startMs[startMs.size() / 2], startMs.front(), startMs.back(), startMs.size());
    std::printf("resident memory when idle: %.1f MB\n", double(rss) / 1024.0);
    std::printf("CPU when idle: %.2f %% of one core\n", idleCpu);
}

} // namespace

int main(int argc, char** argv)
{
    struct Program {
        std::string exe, title;
    };
    std::vector<Program> programs{{RUVO_COUNTDOWN_PROGRAM, "倒计时提示"}, {RUVO_KITCHENTIMER_PROGRAM, "倒计时提示(Velmora)"}};
    if (argc > 2)
        programs = {{argv[1], argv[2]}};
    int runs = argc > 3 ? std::atoi(argv[3]) : 10;
    Display* d = XOpenDisplay(nullptr);
    if (!d) {
        std::printf("startup_bench: no X display; run it under xvfb-run\n");
        return 0;
    }
    char tmpl[] = "/tmp/ruvo-bench-XXXXXX";
    std::string xdg = mkdtemp(tmpl);
    setenv("XDG_RUNTIME_DIR", xdg.c_str(), 1);
    for (const Program& p : programs)
        measure(d, p.exe, p.title, runs);
    XCloseDisplay(d);
    std::string rm = "rm -rf '" + xdg + "'";
    (void)std::system(rm.c_str());
    return 0;
}
