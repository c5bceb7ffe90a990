// Start-up and idle cost of a program on an X display, beside two floors run
// interleaved with it: a bare Qt window and the same window with one Chinese
// label (the font any Chinese window pays). For each: the time from starting
// the process to its window being mapped, its resident memory 3 s later, and
// its wake-ups (voluntary context switches of all its threads) per second
// from 12 s to 22 s after the map, once an edit box's caret has come to rest.
// Prints figures; never fails. Without arguments both programs are measured;
// programs given (two builds of one program, say) are measured side by side.
//   startup_bench [executable window-title]... [runs]
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

#include "proc_figures.h"

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

struct Program {
    std::string label;
    std::vector<std::string> argv;
    std::string title;
    std::vector<double> startMs;
    long rss = -1;
    double idleCpu = -1;
    double wakeups = -1;
};

// Starts the program and waits for its window to be mapped; the pid, or -1.
pid_t startAndWait(Display* d, Program& p, Clock::time_point& mappedAt)
{
    XSelectInput(d, DefaultRootWindow(d), SubstructureNotifyMask);
    XSync(d, True);
    auto t0 = Clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> args;
        for (std::string& a : p.argv)
            args.push_back(a.data());
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    bool mapped = false;
    while (!mapped && Clock::now() - t0 < std::chrono::seconds(20)) {
        while (XPending(d)) {
            XEvent e;
            XNextEvent(d, &e);
            if (e.type == MapNotify && windowName(d, e.xmap.window) == p.title)
                mapped = true;
        }
        if (!mapped)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    mappedAt = Clock::now();
    if (mapped)
        p.startMs.push_back(std::chrono::duration<double, std::milli>(mappedAt - t0).count());
    return mapped ? pid : -1;
}

void measureIdle(pid_t pid, Program& p, Clock::time_point mappedAt)
{
    using namespace std::chrono_literals;
    std::this_thread::sleep_until(mappedAt + 3s);
    p.rss = rssKiB(pid);
    std::this_thread::sleep_until(mappedAt + 12s);
    const long s0 = contextSwitches(pid);
    const double c0 = cpuSeconds(pid);
    std::this_thread::sleep_until(mappedAt + 22s);
    p.wakeups = double(contextSwitches(pid) - s0) / 10.0;
    p.idleCpu = (cpuSeconds(pid) - c0) / 10.0 * 100.0;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::pair<std::string, std::string>> measured{{RUVO_COUNTDOWN_PROGRAM, "倒计时提示"},
                                                              {RUVO_KITCHENTIMER_PROGRAM, "倒计时提示(Velmora)"}};
    if (argc > 2) {
        measured.clear();
        for (int i = 1; i + 1 < argc; i += 2)
            measured.push_back({argv[i], argv[i + 1]});
    }
    int runs = argc % 2 == 0 ? std::atoi(argv[argc - 1]) : 10;
    Display* d = XOpenDisplay(nullptr);
    if (!d) {
        std::printf("startup_bench: no X display; run it under xvfb-run\n");
        return 0;
    }
    char tmpl[] = "/tmp/ruvo-bench-XXXXXX";
    std::string xdg = mkdtemp(tmpl);
    setenv("XDG_RUNTIME_DIR", xdg.c_str(), 1);

    std::vector<Program> programs = {
        {"bare Qt window (floor)", {RUVO_FLOOR_PROGRAM}, "bare window", {}},
        {"one Chinese label (CJK floor)", {RUVO_FLOOR_PROGRAM, "cjk"}, "中文窗口", {}},
    };
    for (const auto& [exe, title] : measured)
        programs.push_back({argc > 2 ? exe : exe.substr(exe.rfind('/') + 1), {exe}, title, {}});
    size_t width = 32;
    for (const Program& p : programs)
        width = std::max(width, p.label.size());
    // Interleaved, so that a busy moment of the machine weighs on all alike.
    for (int run = 0; run < runs; ++run) {
        for (Program& p : programs) {
            Clock::time_point mappedAt;
            pid_t pid = startAndWait(d, p, mappedAt);
            if (pid > 0 && run == runs - 1)
                measureIdle(pid, p, mappedAt);
            if (pid > 0) {
                kill(pid, SIGTERM);
                waitpid(pid, nullptr, 0);
            }
        }
    }
    XCloseDisplay(d);
    std::string rm = "rm -rf '" + xdg + "'";
    (void)std::system(rm.c_str());

    std::printf("start-up to window mapped, %d runs each, interleaved; memory 3 s after the map; wake-ups and CPU\n"
                "from 12 s to 22 s after the map\n",
                runs);
    std::printf("%-*s %8s %8s %8s %9s %11s %9s\n", int(width), "program", "min ms", "med ms", "max ms", "RSS MiB", "wake-ups/s",
                "idle CPU");
    double cjkMedian = 0;
    for (Program& p : programs) {
        if (p.startMs.empty()) {
            std::printf("%-*s the window \"%s\" never appeared\n", int(width), p.label.c_str(), p.title.c_str());
            continue;
        }
        std::sort(p.startMs.begin(), p.startMs.end());
        const double median = p.startMs[p.startMs.size() / 2];
        if (&p == &programs[1])
            cjkMedian = median;
        std::printf("%-*s %8.1f %8.1f %8.1f %9.1f %11.1f %8.2f%%\n", int(width), p.label.c_str(), p.startMs.front(), median,
                    p.startMs.back(), double(p.rss) / 1024.0, p.wakeups, p.idleCpu);
    }
    for (size_t i = 2; i < programs.size(); ++i)
        if (cjkMedian > 0 && !programs[i].startMs.empty())
            std::printf("%s start-up median above the CJK floor: %+.1f ms\n", programs[i].label.c_str(),
                        programs[i].startMs[programs[i].startMs.size() / 2] - cjkMedian);
    std::printf("goals: start-up within 8 ms of the CJK floor; RSS under 36 MiB; no idle wake-ups\n");
    return 0;
}
