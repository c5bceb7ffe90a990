// What keeping the countdown timer on top costs: its CPU with "总在最前"
// stored (the window re-asserted 100 times a second) beside the same program
// idle, the X requests per second it sends meanwhile (counted by the X
// server's RECORD extension), and its resident memory. Starts openbox when no
// window manager runs, and then measures once more after killing it, with its
// check property left behind on the root window. Prints figures; never fails.
//   topmost_bench [executable] [seconds]
#include <X11/Xlib.h>
#include <X11/extensions/record.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "proc_figures.h"

namespace {

using Clock = std::chrono::steady_clock;

bool windowManagerRuns(Display* d)
{
    Atom check = XInternAtom(d, "_NET_SUPPORTING_WM_CHECK", True);
    if (check == None)
        return false;
    Atom type;
    int format;
    unsigned long n, after;
    unsigned char* data = nullptr;
    bool found = XGetWindowProperty(d, DefaultRootWindow(d), check, 0, 1, False, AnyPropertyType, &type, &format, &n,
                                    &after, &data) == Success &&
                 n > 0;
    if (data)
        XFree(data);
    return found;
}

pid_t windowPid(Display* d, Window w)
{
    Atom pidAtom = XInternAtom(d, "_NET_WM_PID", False);
    Atom type;
    int format;
    unsigned long n, after;
    unsigned char* data = nullptr;
    pid_t pid = 0;
    if (XGetWindowProperty(d, w, pidAtom, 0, 1, False, AnyPropertyType, &type, &format, &n, &after, &data) == Success &&
        data && n == 1)
        pid = pid_t(*reinterpret_cast<unsigned long*>(data));
    if (data)
        XFree(data);
    return pid;
}

// Waits for a top-level window of the process to be mapped (the managed one,
// or the one without a window manager).
Window waitForWindow(Display* d, pid_t pid)
{
    auto t0 = Clock::now();
    while (Clock::now() - t0 < std::chrono::seconds(20)) {
        Window root, parent, *children = nullptr;
        unsigned n = 0;
        std::vector<Window> todo{DefaultRootWindow(d)};
        while (!todo.empty()) {
            Window w = todo.back();
            todo.pop_back();
            if (w != DefaultRootWindow(d) && windowPid(d, w) == pid) {
                XWindowAttributes a;
                if (XGetWindowAttributes(d, w, &a) && a.map_state == IsViewable)
                    return w;
            }
            if (XQueryTree(d, w, &root, &parent, &children, &n)) {
                todo.insert(todo.end(), children, children + n);
                if (children)
                    XFree(children);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return None;
}

void recordRequest(XPointer counter, XRecordInterceptData* data)
{
    if (data->category == XRecordFromClient)
        ++*reinterpret_cast<long*>(counter);
    XRecordFreeData(data);
}

struct Figures {
    bool ok = false;
    double cpuPercent = 0;
    double requestsPerSecond = -1;
    double wakeupsPerSecond = 0;
    long rss = -1;
    double wmCpuPercent = -1;
};

Figures measure(const std::string& exe, bool onTop, int seconds, pid_t wm)
{
    Figures f;
    char tmpl[] = "/tmp/ruvo-topmost-XXXXXX";
    const std::string tree = mkdtemp(tmpl);
    for (const char* sub : {"/run", "/home", "/xdg", "/config"})
        mkdir((tree + sub).c_str(), 0700);
    const std::string copy = tree + "/run/countdown";
    (void)std::system(("cp '" + exe + "' '" + copy + "'").c_str());
    if (onTop) {
        // "[sz]" "最前=真" in the settings file's code page.
        std::ofstream ini(tree + "/run/pz.ini", std::ios::binary);
        ini << "[sz]\r\n\xD7\xEE\xC7\xB0=\xD5\xE6\r\n";
    }

    pid_t pid = fork();
    if (pid == 0) {
        setenv("HOME", (tree + "/home").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (tree + "/xdg").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (tree + "/config").c_str(), 1);
        execl(copy.c_str(), copy.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    Display* d = XOpenDisplay(nullptr);
    Window w = waitForWindow(d, pid);
    if (w != None) {
        std::this_thread::sleep_for(std::chrono::seconds(2));  // past start-up
        f.ok = true;
        f.rss = rssKiB(pid);

        // Requests of the program's own connection, recorded on a second one.
        Display* data = XOpenDisplay(nullptr);
        int major, minor;
        long requests = 0;
        XRecordContext ctx = 0;
        if (data && XRecordQueryVersion(d, &major, &minor)) {
            XRecordRange* range = XRecordAllocRange();
            range->core_requests.first = 1;
            range->core_requests.last = 127;
            range->ext_requests.ext_major.first = 128;
            range->ext_requests.ext_major.last = 255;
            range->ext_requests.ext_minor.first = 0;
            range->ext_requests.ext_minor.last = 65535;
            XRecordClientSpec client = w;
            ctx = XRecordCreateContext(d, 0, &client, 1, &range, 1);
            XFree(range);
            XSync(d, False);
            if (ctx)
                XRecordEnableContextAsync(data, ctx, recordRequest, reinterpret_cast<XPointer>(&requests));
        }
        const double c0 = cpuSeconds(pid), w0 = wm > 0 ? cpuSeconds(wm) : 0;
        const long long k0 = contextSwitches(pid);
        const auto t0 = Clock::now();
        while (Clock::now() - t0 < std::chrono::seconds(seconds)) {
            if (ctx)
                XRecordProcessReplies(data);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
        f.cpuPercent = (cpuSeconds(pid) - c0) / elapsed * 100.0;
        f.wakeupsPerSecond = double(contextSwitches(pid) - k0) / elapsed;
        if (wm > 0)
            f.wmCpuPercent = (cpuSeconds(wm) - w0) / elapsed * 100.0;
        if (ctx) {
            XRecordProcessReplies(data);
            XRecordDisableContext(d, ctx);
            XRecordFreeContext(d, ctx);
            XSync(d, False);
            f.requestsPerSecond = double(requests) / elapsed;
        }
        if (data)
            XCloseDisplay(data);
    }
    XCloseDisplay(d);
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    (void)std::system(("rm -rf '" + tree + "'").c_str());
    return f;
}

void print(const char* what, const Figures& f)
{
    if (!f.ok) {
        std::printf("%s: the window never appeared\n", what);
        return;
    }
    std::printf("%s: CPU %.2f %% of one core, %.0f wake-ups/s, %.1f X requests/s, resident memory %.1f MB", what,
                f.cpuPercent, f.wakeupsPerSecond, f.requestsPerSecond, double(f.rss) / 1024.0);
    if (f.wmCpuPercent >= 0)
        std::printf(", window manager CPU %.2f %%", f.wmCpuPercent);
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv)
{
    const std::string exe = argc > 1 ? argv[1] : RUVO_DEFAULT_PROGRAM;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 10;
    Display* d = XOpenDisplay(nullptr);
    if (!d) {
        std::printf("topmost_bench: no X display; run it under xvfb-run\n");
        return 0;
    }
    pid_t wm = 0;
    char wmTmpl[] = "/tmp/ruvo-wm-XXXXXX";
    std::string wmHome;
    if (!windowManagerRuns(d)) {
        wmHome = mkdtemp(wmTmpl);
        wm = fork();
        if (wm == 0) {
            const char* home = wmHome.c_str();
            setenv("HOME", home, 1);
            setenv("XDG_CONFIG_HOME", home, 1);
            setenv("XDG_CACHE_HOME", home, 1);
            execlp("openbox", "openbox", "--sm-disable", static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 100 && !windowManagerRuns(d); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::printf("program: %s; window manager: %s\n", exe.c_str(),
                windowManagerRuns(d) ? (wm > 0 ? "openbox, started by the bench" : "already running") : "none");

    print("idle (\"总在最前\" off)", measure(exe, false, seconds, wm));
    print("always on top (\"最前\"=\"真\", re-asserted every 10 ms)", measure(exe, true, seconds, wm));

    if (wm > 0) {
        // Killed, it leaves its properties on the root window (this connection
        // keeps the server from resetting), and nobody answers requests.
        kill(wm, SIGKILL);
        waitpid(wm, nullptr, 0);
        (void)std::system(("rm -rf '" + wmHome + "'").c_str());
        XSync(d, False);
        if (windowManagerRuns(d))
            print("always on top, window manager killed, its check property left", measure(exe, true, seconds, 0));
        for (const char* name : {"_NET_SUPPORTING_WM_CHECK", "_NET_CLIENT_LIST_STACKING", "_NET_CLIENT_LIST"})
            XDeleteProperty(d, DefaultRootWindow(d), XInternAtom(d, name, False));
    }
    XCloseDisplay(d);
    return 0;
}
