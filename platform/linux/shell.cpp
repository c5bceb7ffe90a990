#include "shell.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
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

// The places xdg-open may be, in the order of PATH; the started process takes
// the first that runs, so the launcher itself never looks at a PATH folder.
std::vector<std::string> xdgOpenCandidates()
{
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::vector<std::string> candidates;
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        std::string dir = dirs.substr(start, end - start);
        candidates.push_back((dir.empty() ? std::string(".") : dir) + "/xdg-open");
        start = end + 1;
    }
    return candidates;
}

// Which file a text names can depend on what exists: a part that reads as
// UTF-8 may also be a name in the Windows code page (see toFileName), and
// looking can hang on a share that never answers. So the launcher only
// converts, keeping both readings of such a part, and the started process
// looks. resolve() is async-signal-safe.
class NameToResolve {
public:
    explicit NameToResolve(std::string_view text) : parts_(fileNameParts(text))
    {
        size_t capacity = 1;
        for (const FileNamePart& p : parts_)
            capacity += std::max(p.utf8.size(), p.bytes.size()) + 1;
        name_.resize(capacity);
    }

    // The UTF-8 reading, unless only the other one exists: toFileName's rule,
    // each part looked for in the folder its predecessors name.
    char* resolve()
    {
        char* end = name_.data();
        for (size_t i = 0; i < parts_.size(); ++i) {
            if (i > 0)
                *end++ = '/';
            const FileNamePart& p = parts_[i];
            const bool bytes = p.bytes != p.utf8 && !exists(end, p.utf8) && exists(end, p.bytes);
            end = put(end, bytes ? p.bytes : p.utf8);
        }
        return name_.data();
    }

private:
    static char* put(char* at, const std::string& part)
    {
        std::memcpy(at, part.data(), part.size());
        at[part.size()] = '\0';
        return at + part.size();
    }
    bool exists(char* end, const std::string& part)
    {
        put(end, part);
        struct stat st;
        return ::lstat(name_.data(), &st) == 0;
    }

    std::vector<FileNamePart> parts_;
    std::vector<char> name_;
};

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

// Everything a start needs, made before the fork: the started process may
// not allocate.
struct StartPlan {
    NameToResolve directory;
    NameToResolve file;
    bool address = false;
    bool mayRun = false;
    std::vector<std::string> runWords;
    std::vector<char*> runArgv;
    std::vector<std::string> openWords{"xdg-open", ""};
    std::vector<char*> openArgv;
    std::vector<std::string> openers = xdgOpenCandidates();
    std::vector<char*> openerPaths;
    long maxFd = 0;

    StartPlan(ShellMode mode, const Text& name, const std::optional<Text>& parameters, const Text& dir)
        : directory(dir), file(name), address(looksLikeAddress(name)), mayRun(mode == ShellMode::defaultAction)
    {
        runWords.emplace_back();  // the file's name, once resolved
        if (parameters)
            for (std::string& w : splitParameters(toUtf8(*parameters)))
                runWords.push_back(std::move(w));
        runArgv = argvOf(runWords);
        openArgv = argvOf(openWords);
        openerPaths = argvOf(openers);
        maxFd = ::sysconf(_SC_OPEN_MAX);
        if (maxFd < 0 || maxFd > 65536)
            maxFd = 65536;
    }
};

// Tells the waiting caller that nothing was started; the end of the pipe
// closing on exec tells it the opposite.
[[noreturn]] void giveUp(int report)
{
    if (report >= 0) {
        char no = 0;
        (void)!write(report, &no, 1);
    }
    _exit(127);
}

// Runs in the grandchild, after fork in a threaded process: only
// async-signal-safe calls from here on. Every look-up of the start's files is
// made here, so that one that never returns holds only this process.
[[noreturn]] void becomeTheStartedProcess(StartPlan& plan, int report)
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
    // Beside 0-2 only the report's end stays, as 3, until exec closes it.
    if (report >= 0 && report != 3)
        report = dup3(report, 3, O_CLOEXEC);
    const int firstClosed = report == 3 ? 4 : 3;
    if (close_range(unsigned(firstClosed), ~0U, 0) != 0)
        for (long fd = firstClosed; fd < plan.maxFd; ++fd)
            close(int(fd));

    const char* dir = plan.directory.resolve();
    if (*dir && chdir(dir) != 0)
        giveUp(report);
    char* name = plan.file.resolve();
    struct stat st;
    const bool exists = ::stat(name, &st) == 0;
    if (!exists && !plan.address)
        giveUp(report);
    plan.runArgv[0] = plan.openArgv[1] = name;
    // Never a shell for what the kernel refuses: a document's lines are not commands.
    if (plan.mayRun && exists && S_ISREG(st.st_mode) && access(name, X_OK) == 0 && kernelExecutes(name))
        execv(name, plan.runArgv.data());
    for (char* const* opener = plan.openerPaths.data(); *opener; ++opener)
        execv(*opener, plan.openArgv.data());
    giveUp(report);
}

// A pipe whose writing end lies clear of the descriptors 0-2 that the
// started process hands on.
bool openReport(int (&report)[2])
{
    if (::pipe2(report, O_CLOEXEC) != 0)
        return false;
    if (report[1] < 3) {
        int moved = ::fcntl(report[1], F_DUPFD_CLOEXEC, 3);
        ::close(report[1]);
        report[1] = moved;
    }
    if (report[1] < 0)
        ::close(report[0]);
    return report[1] >= 0;
}

// One start, twice forked: the middle process ends at once, so the started
// one is reparented, never left a zombie of ours, and outlives us. The caller
// waits only for the middle; with waitForReport also for the started process
// to run its program or give up, which a file system can make last forever.
bool start(ShellMode mode, const Text& file, const std::optional<Text>& parameters, const Text& directory,
           bool waitForReport)
{
    if (file.empty())
        return false;
    // Neither xdg-open nor a started program may read the name as an option.
    StartPlan plan(mode, file[0] == '-' ? "./" + file : file, parameters, directory);

    int report[2] = {-1, -1};
    if (waitForReport && !openReport(report))
        return false;
    pid_t middle = ::fork();
    if (middle == 0) {
        setsid();
        pid_t started = _Fork();  // no fork handlers: the middle is a child of a threaded process
        if (started == 0)
            becomeTheStartedProcess(plan, report[1]);
        _exit(started < 0 ? 1 : 0);
    }
    if (report[1] >= 0)
        ::close(report[1]);
    int status = 0;
    while (middle > 0 && ::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
    bool started = middle > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (report[0] >= 0) {  // a word means nothing ran; the end of the pipe, an exec
        char no;
        ssize_t n;
        while ((n = ::read(report[0], &no, 1)) < 0 && errno == EINTR) {
        }
        started = started && n == 0;
        ::close(report[0]);
    }
    return started;
}

} // namespace

bool StartDetached(ShellMode mode, const Text& file, const std::optional<Text>& parameters, const Text& directory)
{
    return start(mode, file, parameters, directory, true);
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
            (void)start(s.mode, s.file, s.parameters, s.directory, false);  // nobody is told of a failure
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
