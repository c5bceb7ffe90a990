// Ring lateness of the desktop backend's timers. A delay is set the way a
// handler sets it, from inside the event loop, and its tick is held against
// that moment plus the delay; the timer is set again after each tick, so the
// short delays give many samples while the long one runs. Each delay runs in a
// process of its own, so that no other timer wakes its event loop early, and
// all of them at once, beside a repeating 1 s timer whose k-th tick is held
// against k seconds (drift). Prints figures; never fails.
//   timer_bench [delay in s ...]     (default 1 10 60 300: about 5 minutes)
#include <QApplication>
#include <QTimer>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "framework.h"
#include "qt_platform.h"
#include "runtime.h"

namespace {

constexpr WindowId kWindow{"benchWindow"};

constexpr char kDefinition[] = R"(window
title "timer bench"
rect 0 0 120 60

Timer t
rect 0 0 26 26
on tick onTick
)";

const EmbeddedFile kDefinitions[] = {{"benchWindow.def", kDefinition}};

double monoMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

struct {
    int64_t delayMs = 0;
    bool repeating = false;
    double setAt = 0;
    double runEnds = 0;
    int ticks = 0;
    std::vector<double> lateness;
} run;

void arm()
{
    SetUnitProperty(kWindow, "t", Prop::interval, 0);
    run.setAt = monoMs();
    SetUnitProperty(kWindow, "t", Prop::interval, run.delayMs);
}

void onTick()
{
    const double now = monoMs();
    ++run.ticks;
    if (run.repeating) {
        run.lateness.push_back(now - run.setAt - double(run.delayMs) * run.ticks);
        if (now + double(run.delayMs) > run.runEnds)
            QApplication::quit();
        return;
    }
    run.lateness.push_back(now - run.setAt - double(run.delayMs));
    if (now + double(run.delayMs) <= run.runEnds)
        arm();
    else
        QApplication::quit();
}

const HandlerEntry kHandlers[] = {handler("onTick", onTick)};

// One delay in this process; prints its lateness figures, one a line.
int measure(int64_t delayMs, int64_t runMs, bool repeating)
{
    // The timers do not need a screen; Qt's offscreen platform keeps the bench off it.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int qtArgc = 1;
    char arg0[] = "timer_bench";
    char* qtArgv[] = {arg0, nullptr};
    QtPlatform platform(qtArgc, qtArgv);
    Runtime runtime(platform);
    runtime.loadDefinitions(kDefinitions, kHandlers, {});
    if (!runtime.loadWindow(kWindow, std::nullopt, false))
        return 1;
    run.delayMs = delayMs;
    run.repeating = repeating;
    QTimer::singleShot(0, [&] {
        run.runEnds = monoMs() + double(runMs);
        arm();
    });
    (void)QApplication::exec();
    for (double v : run.lateness)
        std::printf("%.4f\n", v);
    runtime.shutdownCleanup(false);
    return 0;
}

void print(const std::string& what, std::vector<double> v)
{
    if (v.empty()) {
        std::printf("%-24s no tick\n", what.c_str());
        return;
    }
    std::sort(v.begin(), v.end());
    std::printf("%-24s min %7.3f  median %7.3f  95th %7.3f  max %7.3f ms  (%zu ticks)\n", what.c_str(), v.front(),
                v[v.size() / 2], v[v.size() * 95 / 100], v.back(), v.size());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::string(argv[1]) == "--measure")
        return measure(std::atoll(argv[2]), std::atoll(argv[3]), std::string(argv[4]) == "repeat");

    std::vector<int64_t> delays;
    for (int i = 1; i < argc; ++i)
        if (int64_t s = std::atoll(argv[i]); s > 0)
            delays.push_back(s * 1000);
    if (delays.empty())
        delays = {1000, 10000, 60000, 300000};
    const int64_t longest = *std::max_element(delays.begin(), delays.end());
    char tmpl[] = "/tmp/ruvo-timer-bench-XXXXXX";
    if (const char* dir = mkdtemp(tmpl))
        setenv("XDG_RUNTIME_DIR", dir, 1);

    struct Child {
        std::string what;
        FILE* out;
    };
    std::vector<Child> children;
    auto start = [&](const std::string& what, int64_t delay, bool repeating) {
        const std::string cmd = "exec /proc/" + std::to_string(getpid()) + "/exe --measure " + std::to_string(delay)
                                + " " + std::to_string(longest) + (repeating ? " repeat" : " once");
        children.push_back({what, popen(cmd.c_str(), "r")});
    };
    for (int64_t d : delays)
        start("delay " + std::to_string(d / 1000) + " s:", d, false);
    start("repeating 1 s, tick k:", 1000, true);
    std::printf("ring lateness against the set delay; each delay in a process of its own, all at once over %lld s\n",
                (long long)(longest / 1000));
    std::fflush(stdout);
    for (Child& c : children) {
        std::vector<double> v;
        double x;
        while (c.out && std::fscanf(c.out, "%lf", &x) == 1)
            v.push_back(x);
        if (c.out)
            pclose(c.out);
        print(c.what, v);
    }
    std::printf("(a repeating tick is held against k * 1000 ms; goal: under 2 ms at every delay)\n");
    (void)std::system(("rm -rf '" + std::string(tmpl) + "'").c_str());
    return 0;
}
