#pragma once
// What the tests of the settings file and the registry store need to race
// writers of one user against each other and against another user's lock.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

namespace race {

// A folder on a real disk, where write races show (tmpfs hides them), that
// another user may open; outside the test tree, which only root may enter.
struct OpenFolder {
    std::string path = "/var/tmp/ruvo-open-XXXXXX";
    OpenFolder()
    {
        if (mkdtemp(path.data()))
            chmod(path.c_str(), 0755);
    }
    ~OpenFolder() { std::filesystem::remove_all(path); }
};

// Another user ("nobody") holding a lock on a folder, as long as the object lives.
struct ForeignLock {
    pid_t pid = -1;
    bool held = false;
    explicit ForeignLock(const std::string& folder)
    {
        pid = fork();
        if (pid == 0) {
            setpgid(0, 0);
            execlp("setpriv", "setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "flock", folder.c_str(),
                   "sleep", "60", (char*)nullptr);
            _exit(127);
        }
        // Held once our own try fails.
        const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
        for (int i = 0; i < 500 && flock(fd, LOCK_EX | LOCK_NB) == 0; ++i) {
            flock(fd, LOCK_UN);
            usleep(10000);
        }
        held = flock(fd, LOCK_EX | LOCK_NB) != 0;
        close(fd);
    }
    ~ForeignLock()
    {
        kill(-pid, SIGKILL);
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
};

// How a sandbox may run a program: in a PID namespace of its own (with its
// own /proc), where the host's PIDs mean nothing, or without /proc at all.
enum class Sandbox { none, pidNamespace, noProc };

// Runs f in this (forked) process as `how` says; its exit status: 0 when f held.
inline int runAs(const std::function<bool()>& f, Sandbox how)
{
    if (how == Sandbox::none)
        return f() ? 0 : 1;
    if (unshare(how == Sandbox::pidNamespace ? CLONE_NEWPID | CLONE_NEWNS : CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return 2;
    if (how == Sandbox::noProc)
        return mount("none", "/proc", "tmpfs", 0, nullptr) == 0 ? runAs(f, Sandbox::none) : 2;
    const pid_t init = fork();  // the first child is the namespace's first process
    if (init == 0)
        _exit(mount("proc", "/proc", "proc", 0, nullptr) == 0 ? runAs(f, Sandbox::none) : 2);
    int status = 0;
    waitpid(init, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 3;
}

// Runs f in a child process run as `how` says; whether f held.
inline bool inChild(const std::function<bool()>& f, Sandbox how)
{
    const pid_t child = fork();
    if (child == 0)
        _exit(runAs(f, how));
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Runs write(0) and write(1) in two processes started at the same moment, the
// second in a PID namespace of its own when asked, as a sandboxed copy of a
// program runs beside one on the host.
inline void inTwoProcesses(const std::function<void(int)>& write, bool sandboxed)
{
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    pid_t writers[2];
    for (int which = 0; which < 2; ++which) {
        writers[which] = fork();
        if (writers[which] != 0)
            continue;
        close(gate[1]);
        char c;
        (void)!read(gate[0], &c, 1);  // returns once the parent closes its end
        _exit(runAs([&] { return write(which), true; }, which == 1 && sandboxed ? Sandbox::pidNamespace : Sandbox::none));
    }
    close(gate[0]);
    close(gate[1]);
    for (pid_t writer : writers) {
        int status = 0;
        waitpid(writer, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a writer ended with status " << status;
    }
}

// The three ways two writers of the user meet.
struct Meeting {
    const char* what;
    bool neighbour;  // another user holds the folder's lock meanwhile
    bool sandboxed;
};
inline constexpr Meeting kMeetings[] = {
    {"side by side", false, false},
    {"while another user locks the folder", true, false},
    {"one in another PID namespace", false, true},
};

} // namespace race
