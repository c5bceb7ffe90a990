#include "file_replace.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <random>

namespace {

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// ".<name>.<pid>.<number>.tmp": the pid tells whether its writer still lives.
std::string temporaryName(const std::string& name)
{
    static std::atomic<unsigned> counter{0};
    static const unsigned salt = std::random_device{}();
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, ".%d.%08x.tmp", static_cast<int>(getpid()), salt ^ (counter++ * 0x9E3779B9u));
    return "." + name + suffix;
}

// A writer killed between linking its temporary file and the rename leaves
// the file behind; the next write removes it once its writer is gone.
void removeStaleTemporaries(int dirfd, const std::string& name)
{
    const int fd = openat(dirfd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd < 0 ? nullptr : fdopendir(fd);
    if (!dir) {
        if (fd >= 0)
            close(fd);
        return;
    }
    const std::string prefix = "." + name + ".";
    while (const dirent* entry = readdir(dir)) {
        const std::string_view n = entry->d_name;
        if (!n.starts_with(prefix) || !n.ends_with(".tmp"))
            continue;
        const std::string_view rest = n.substr(prefix.size());
        int pid = 0;
        const auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), pid);
        if (ec != std::errc() || pid <= 0 || *end != '.')
            continue;
        if (kill(pid, 0) != 0 && errno == ESRCH)
            (void)unlinkat(dirfd, entry->d_name, 0);
    }
    closedir(dir);
}

} // namespace

Load loadFile(int dirfd, const char* name, std::string& bytes, struct stat& st)
{
    const int fd = openat(dirfd, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return errno == ENOENT ? Load::missing : Load::failed;
    Load result = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? Load::ok : Load::failed;
    // Read straight into a block of the file's size, so a large file costs
    // its own size once, not the doubling of a growing string.
    std::size_t have = 0;
    if (result == Load::ok)
        bytes.resize(static_cast<std::size_t>(st.st_size) + 1);
    while (result == Load::ok) {
        if (have == bytes.size())
            bytes.resize(bytes.size() + bytes.size() / 2 + 4096);  // grew since fstat
        const ssize_t n = read(fd, bytes.data() + have, bytes.size() - have);
        if (n > 0)
            have += static_cast<std::size_t>(n);
        else if (n == 0)
            break;
        else if (errno != EINTR)
            result = Load::failed;
    }
    bytes.resize(have);
    close(fd);
    return result;
}

// A crash or a full disk must never leave half a file, so the new content goes
// to a temporary file beside the old one and is renamed over it. The
// temporary file has no name (O_TMPFILE) until just before the rename, so a
// writer killed meanwhile leaves nothing; where the file system cannot make
// one, it is named from the start.
bool replaceFile(int dirfd, const std::string& name, std::string_view bytes, const struct stat* old)
{
    removeStaleTemporaries(dirfd, name);
    const mode_t mode = old ? 0600 : 0666;
    int fd = openat(dirfd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    const bool unnamed = fd >= 0;
    std::string temp;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temp = temporaryName(name);
        fd = openat(dirfd, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    bool ok = writeAll(fd, bytes);
    if (ok && old) {
        // Keeps the owner when we may (as root); an ordinary user's file stays theirs anyway.
        if (old->st_uid != geteuid() || old->st_gid != getegid())
            (void)fchown(fd, old->st_uid, old->st_gid);
        ok = fchmod(fd, old->st_mode & 07777) == 0;
    }
    ok = ok && fsync(fd) == 0;
    if (ok && unnamed) {
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        ok = false;
        for (int attempt = 0; attempt < 16 && !ok; ++attempt) {
            temp = temporaryName(name);
            ok = linkat(AT_FDCWD, self.c_str(), dirfd, temp.c_str(), AT_SYMLINK_FOLLOW) == 0;
            if (!ok && errno != EEXIST)
                break;
        }
        if (!ok)
            temp.clear();
    }
    ok = close(fd) == 0 && ok;
    ok = ok && renameat(dirfd, temp.c_str(), dirfd, name.c_str()) == 0;
    if (!ok) {
        if (!temp.empty())
            unlinkat(dirfd, temp.c_str(), 0);
        return false;
    }
    (void)fsync(dirfd);  // the rename is durable only with its directory; a failure here loses no data
    return true;
}
