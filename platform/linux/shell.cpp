#include "shell.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// "scheme:" as in https://..., mailto:..., file:...
bool looksLikeAddress(const std::string& s)
{
    if (s.empty() || !std::isalpha(static_cast<unsigned char>(s[0])))
        return false;
    for (size_t i = 1; i < s.size(); ++i) {
        char c = s[i];
        if (c == ':')
            return i > 1;  // one letter would be a drive, not a scheme
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.')
            return false;
    }
    return false;
}

std::string findOnPath(const char* name)
{
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        std::string dir = dirs.substr(start, end - start);
        std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
        struct stat st;
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

// Words separated by blanks; double quotes hold blanks inside one word.
std::vector<std::string> splitParameters(const std::string& s)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false, quoted = false;
    for (char c : s) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (inWord)
                words.push_back(std::move(word));
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words.push_back(std::move(word));
    return words;
}

std::vector<char*> argvOf(std::vector<std::string>& words)
{
    std::vector<char*> v;
    for (std::string& w : words)
        v.push_back(w.data());
    v.push_back(nullptr);
    return v;
}

// Whether the kernel itself runs the file: an ELF program or a "#!" script.
// Drives formatted for Windows mark every file executable, so the bit alone
// says nothing. Called in the started process, so that a file whose reads
// never return holds only that process, not the launcher; non-blocking, so a
// file swapped for a FIFO since it was looked at does not hold it either.
// Async-signal-safe.
bool kernelExecutes(const char* path)
{
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    char head[4];
    ssize_t n = 0;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        while ((n = read(fd, head, sizeof head)) < 0 && errno == EINTR) {
        }
    close(fd);
    return (n >= 2 && head[0] == '#' && head[1] == '!') ||
           (n == 4 && head[0] == 0x7F && head[1] == 'E' && head[2] == 'L' && head[3] == 'F');
}

// Runs in the grandchild, after fork in a threaded process: only
// async-signal-safe calls from here on.
[[noreturn]] void becomeTheStartedProcess(const char* directory, bool run, char* const* runArgv, const char* xdgOpen,
                                          char* const* openArgv, long maxFd)
{
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction dfl = {};
    dfl.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig)
        sigaction(sig, &dfl, nullptr);  // fails harmlessly for KILL, STOP and the reserved ones

    int null = open("/dev/null", O_RDONLY);
    if (null >= 0 && null != 0) {
        dup2(null, 0);
        close(null);
    }
    if (close_range(3, ~0U, 0) != 0)
        for (long fd = 3; fd < maxFd; ++fd)
            close(int(fd));

    if (*directory && chdir(directory) != 0)
        _exit(127);
    // Never a shell for what the kernel refuses: a document's lines are not commands.
    if (run && kernelExecutes(runArgv[0]))
        execv(runArgv[0], runArgv);
    if (*xdgOpen)
        execv(xdgOpen, openArgv);
    _exit(127);
}

} // namespace

bool StartDetached(ShellMode mode, const Text& file, const std::optional<Text>& parameters, const Text& directory)
{
    if (file.empty())
        return false;
    std::string name = toFileName(file);
    // Neither xdg-open nor a started program may read the name as an option.
    if (name[0] == '-')
        name = "./" + name;
    std::string dir = toFileName(directory);
    std::string probe = (name[0] != '/' && !dir.empty()) ? dir + "/" + name : name;

    struct stat st;
    bool exists = ::stat(probe.c_str(), &st) == 0;
    if (!exists && !looksLikeAddress(name))
        return false;
    // Whether it is a program at all is learnt in the started process (kernelExecutes).
    bool run = mode == ShellMode::defaultAction && exists && S_ISREG(st.st_mode) && ::access(probe.c_str(), X_OK) == 0;
    std::string xdgOpen = findOnPath("xdg-open");
    if (!run && xdgOpen.empty())
        return false;

    // Everything the child needs is built here: it may not allocate.
    std::vector<std::string> runWords{name};
    if (parameters)
        for (std::string& w : splitParameters(toUtf8(*parameters)))
            runWords.push_back(std::move(w));
    std::vector<std::string> openWords{"xdg-open", name};
    std::vector<char*> runArgv = argvOf(runWords);
    std::vector<char*> openArgv = argvOf(openWords);
    long maxFd = ::sysconf(_SC_OPEN_MAX);
    if (maxFd < 0 || maxFd > 65536)
        maxFd = 65536;

    // Twice forked: the middle process ends at once, so the started one is
    // reparented, never left a zombie of ours, and outlives us.
    pid_t middle = ::fork();
    if (middle < 0)
        return false;
    if (middle == 0) {
        setsid();
        pid_t started = _Fork();  // no fork handlers: the middle is a child of a threaded process
        if (started == 0)
            becomeTheStartedProcess(dir.c_str(), run, runArgv.data(), xdgOpen.c_str(), openArgv.data(), maxFd);
        _exit(started < 0 ? 1 : 0);
    }
    int status = 0;
    while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

namespace {

struct Launcher {
    struct Start {
        ShellMode mode;
        Text file;
        std::optional<Text> parameters;
        Text directory;
    };
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable idle;
    std::deque<Start> queue;
    bool busy = false;

    [[noreturn]] void run()
    {
        for (;;) {
            std::unique_lock lock(mutex);
            wake.wait(lock, [this] { return !queue.empty(); });
            Start s = std::move(queue.front());
            queue.pop_front();
            busy = true;
            lock.unlock();
            (void)StartDetached(s.mode, s.file, s.parameters, s.directory);  // nobody is told of a failure
            lock.lock();
            busy = false;
            if (queue.empty())
                idle.notify_all();
        }
    }
};

std::atomic<Launcher*> g_launcher{nullptr};

// Made once and never destroyed: the thread may still wait on it while the process exits.
Launcher& launcher()
{
    static Launcher* l = [] {
        auto* made = new Launcher;
        std::thread([made] { made->run(); }).detach();
        g_launcher.store(made);
        return made;
    }();
    return *l;
}

} // namespace

void StartDetachedInBackground(ShellMode mode, Text file, std::optional<Text> parameters, Text directory)
{
    Launcher& l = launcher();
    {
        std::lock_guard lock(l.mutex);
        l.queue.push_back({mode, std::move(file), std::move(parameters), std::move(directory)});
    }
    l.wake.notify_one();
}

bool FinishBackgroundStarts(std::chrono::milliseconds limit)
{
    Launcher* l = g_launcher.load();
    if (!l)
        return true;
    std::unique_lock lock(l->mutex);
    return l->idle.wait_for(lock, limit, [l] { return l->queue.empty() && !l->busy; });
}
