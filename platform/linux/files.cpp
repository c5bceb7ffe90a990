#include "files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace {
Text g_runDirectory;
bool g_runDirectoryKnown = false;
} // namespace

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(size_t(n));
    }
    return true;
}

Text GetRunDirectory() { return g_runDirectory; }

void SetRunDirectory(const Text& dir)
{
    g_runDirectory = dir;
    g_runDirectoryKnown = true;
}

bool RunDirectoryKnown() { return g_runDirectoryKnown; }

Text DetectRunDirectory()
{
    std::string path(4096, '\0');
    ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
    if (n <= 0)
        return Text();
    path.resize(size_t(n));
    // '/' never occurs inside a character of UTF-8 or GBK.
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return Text();
    return fromFileName(path.substr(0, slash));
}

bool RemoveFile(const Text& path)
{
    if (path.empty())
        return false;
    // Another user's file is never ours to remove, even where we could.
    const std::string name = toFileName(path);
    struct stat st;
    if (::lstat(name.c_str(), &st) != 0 || st.st_uid != ::geteuid())
        return false;
    return ::unlink(name.c_str()) == 0;
}

bool WriteBytesToFile(const Text& path, std::span<const std::string_view> parts)
{
    if (path.empty())
        return false;
    // Emptied only once the lock is held, so a file another opener holds is
    // left whole. O_NONBLOCK: a FIFO at the path would hold the open until a
    // reader came; it is refused at once instead, as is another user's file.
    int fd = ::open(toFileName(path).c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || ::flock(fd, LOCK_EX | LOCK_NB) != 0
        || ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return false;
    }
    bool ok = true;
    for (std::string_view b : parts)
        if (ok)
            ok = writeAll(fd, b);
    if (::close(fd) != 0)
        ok = false;
    return ok;
}

std::string PrivateFolder()
{
    // Only a folder no one else can write into will do: in another user's, or
    // a shared one, they could swap in their own file or have us write into
    // and remove theirs.
    auto isPrivate = [](const std::string& dir) {
        struct stat st;
        return ::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid()
            && (st.st_mode & 0777) == 0700;
    };
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    if (xdg && *xdg && isPrivate(xdg))
        return xdg;
    // Otherwise: a private folder of this user in the temporary directory.
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/ruvo-" + std::to_string(::getuid());
    ::mkdir(dir.c_str(), 0700);
    if (!isPrivate(dir)) {
        const char* home = std::getenv("HOME");
        dir = std::string(home && *home ? home : "/") + "/.cache";
        ::mkdir(dir.c_str(), 0700);
    }
    return dir;
}

Text DefaultSoundPath() { return fromFileName(PrivateFolder() + "/mryy.ruvo"); }
