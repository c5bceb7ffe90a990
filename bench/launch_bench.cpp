// How long the end of a launch countdown holds the window thread (three
// entries: a script of the run directory, a document, a web address; the goal
// is well under 5 ms), how long the launcher thread takes to make the three
// starts, what one StartDetached call costs, and the round trip of a forced
// power-off request to a mock logind on a private bus. Runs the real handlers
// on the desktop backend (offscreen unless a platform is given); started
// programs are stubs that end at once. Prints figures; never fails.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "countdown.h"
#include "files.h"
#include "framework.h"
#include "logind_client.h"
#include "mock_logind.h"
#include "proc_figures.h"
#include "program_frame.h"
#include "qt_platform.h"
#include "runtime.h"
#include "shell.h"

namespace {

using Clock = std::chrono::steady_clock;

void writeFile(const std::string& path, const std::string& text, mode_t mode)
{
    std::ofstream(path) << text;
    chmod(path.c_str(), mode);
}

struct Figures {
    std::vector<double> ms;
    void print(const char* what)
    {
        std::sort(ms.begin(), ms.end());
        std::printf("%-44s median %7.3f ms   min %7.3f ms   max %7.3f ms   (%zu runs)\n", what, ms[ms.size() / 2], ms.front(),
                    ms.back(), ms.size());
    }
};

template <typename F>
double timeMs(F&& f)
{
    auto t0 = Clock::now();
    f();
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

} // namespace

int main(int argc, char** argv)
{
    char tmpl[] = "/tmp/ruvo-launch-bench-XXXXXX";
    const std::string tree = mkdtemp(tmpl);
    for (const char* d : {"/run", "/xdg", "/home", "/bin"})
        mkdir((tree + d).c_str(), 0700);
    setenv("HOME", (tree + "/home").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (tree + "/xdg").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (tree + "/home").c_str(), 1);
    setenv("QT_QPA_PLATFORM", getenv("QT_QPA_PLATFORM") ? getenv("QT_QPA_PLATFORM") : "offscreen", 1);
    // Never a real application: xdg-open is a stub that ends at once.
    writeFile(tree + "/bin/xdg-open", "#!/bin/sh\nexit 0\n", 0700);
    setenv("PATH", (tree + "/bin:" + getenv("PATH")).c_str(), 1);
    writeFile(tree + "/run/tool.sh", "#!/bin/sh\nexit 0\n", 0700);
    writeFile(tree + "/run/notes.txt", "notes\n", 0600);

    // The mock logind on a bus of its own; nothing reaches a real one.
    MockLogind mock(tree);
    setenv("DBUS_SYSTEM_BUS_ADDRESS", mock.address().c_str(), 1);

    QtPlatform platform(argc, argv);
    Runtime runtime(platform);
    SetRunDirectory(fromUtf8(tree + "/run"));
    programSetUp();

    SetUnitProperty(mainWindow, "启动程序框1", Prop::content, "tool.sh");
    SetUnitProperty(mainWindow, "启动程序框2", Prop::content, "notes.txt");
    SetUnitProperty(mainWindow, "启动程序3", Prop::content, "https://example.com/a b?x=1&y=2");
    std::printf("resident memory of the window process: %ld KiB\n", rssKiB(getpid()));
    Figures launch;
    for (int i = 0; i < 40; ++i) {
        launch.ms.push_back(timeMs(onLaunchTimerTick));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    launch.print("launch tick, three entries (goal < 5 ms)");
    // Off the window thread: until the launcher has made all three starts.
    Figures made;
    for (int i = 0; i < 40; ++i) {
        made.ms.push_back(timeMs([] {
            onLaunchTimerTick();
            (void)FinishBackgroundStarts(std::chrono::seconds(5));
        }));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    made.print("launch tick until the three starts are made");
    // A call that waits to learn whether the start was made.
    Figures direct;
    for (int i = 0; i < 40; ++i)
        direct.ms.push_back(timeMs([] { (void)StartDetached(ShellMode::defaultAction, "tool.sh", std::nullopt, ""); }));
    direct.print("one StartDetached call");

    QDBusConnection system = QDBusConnection::systemBus();
    MockLogind::waitUntilServing(system);
    LogindClient logind;  // the mock too, through DBUS_SYSTEM_BUS_ADDRESS
    platform.setPowerService({[&](PowerAction a) { return logind.permitted(a); },
                              [&](PowerAction a, bool force) { return logind.act(a, force); }});
    Figures plain, flags;
    for (int i = 0; i < 40; ++i)
        plain.ms.push_back(timeMs([] { (void)ShutdownSystem(1, true); }));
    plain.print("ShutdownSystem(1, force), plain fallback");
    MockLogind::call(system, "AddMethod", {"org.freedesktop.login1.Manager", "PowerOffWithFlags", "t", "", ""});
    for (int i = 0; i < 40; ++i)
        flags.ms.push_back(timeMs([] { (void)ShutdownSystem(1, true); }));
    flags.print("ShutdownSystem(1, force), ...WithFlags");

    std::fflush(stdout);
    std::string cleanup = "rm -rf '" + tree + "'";
    (void)!std::system(cleanup.c_str());
    return 0;
}
