#include "file_replace.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <random>
#include <thread>

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

int openRegular(int dirfd, const char* name, struct stat& st, Load& load, bool followLink)
{
    const int fd = openat(dirfd, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | (followLink ? 0 : O_NOFOLLOW));
    if (fd < 0) {
        load = errno == ENOENT ? Load::missing : Load::failed;
        return -1;
    }
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        load = Load::failed;
        return -1;
    }
    load = Load::ok;
    return fd;
}

Load loadFile(int dirfd, const char* name, std::string& bytes, struct stat& st, bool followLink)
{
    Load result;
    const int fd = openRegular(dirfd, name, st, result, followLink);
    if (fd < 0)
        return result;
    // Read straight into a block of the file's size, so a large file costs
    // its own size once, not the doubling of a growing string.
    std::size_t have = 0;
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

// The temporary file has no name (O_TMPFILE) until just before the rename, so
// a writer killed meanwhile leaves nothing; where the file system cannot make
// one, it is named from the start.
Replacement::Replacement(int dirfd, std::string name, const struct stat* keep, mode_t mode)
    : dirfd_(dirfd), name_(std::move(name)), keep_(keep)
{
    removeStaleTemporaries(dirfd_, name_);
    if (keep_)
        mode = 0600;  // until it has the old file's mode, nobody else may open it
    fd_ = openat(dirfd_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    unnamed_ = fd_ >= 0;
    for (int attempt = 0; attempt < 16 && fd_ < 0; ++attempt) {
        temp_ = temporaryName(name_);
        fd_ = openat(dirfd_, temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd_ < 0) {
            temp_.clear();
            if (errno != EEXIST)
                break;
        }
    }
    ok_ = fd_ >= 0;
    buffer_.resize(64 * 1024);
}

Replacement::~Replacement()
{
    if (fd_ >= 0)
        close(fd_);
    if (!temp_.empty())
        (void)unlinkat(dirfd_, temp_.c_str(), 0);
}

bool Replacement::flush()
{
    ok_ = ok_ && writeAll(fd_, std::string_view(buffer_.data(), used_));
    used_ = 0;
    return ok_;
}

void Replacement::write(std::string_view bytes)
{
    if (!ok_)
        return;
    if (used_ + bytes.size() > buffer_.size()) {
        if (!flush())
            return;
        if (bytes.size() >= buffer_.size()) {
            ok_ = writeAll(fd_, bytes);
            return;
        }
    }
    std::copy(bytes.begin(), bytes.end(), buffer_.begin() + static_cast<std::ptrdiff_t>(used_));
    used_ += bytes.size();
}

bool Replacement::prepare()
{
    bool ok = flush();
    if (ok && keep_) {
        // Keeps the owner when we may (as root); an ordinary user's file stays theirs anyway.
        if (keep_->st_uid != geteuid() || keep_->st_gid != getegid())
            (void)fchown(fd_, keep_->st_uid, keep_->st_gid);
        ok = fchmod(fd_, keep_->st_mode & 07777) == 0;
    }
    ok = ok && fsync(fd_) == 0;
    if (ok && unnamed_) {
        const std::string self = "/proc/self/fd/" + std::to_string(fd_);
        ok = false;
        for (int attempt = 0; attempt < 16 && !ok; ++attempt) {
            temp_ = temporaryName(name_);
            ok = linkat(AT_FDCWD, self.c_str(), dirfd_, temp_.c_str(), AT_SYMLINK_FOLLOW) == 0;
            if (!ok && errno != EEXIST)
                break;
        }
        if (!ok)
            temp_.clear();
    }
    ok = fd_ >= 0 && close(fd_) == 0 && ok;
    fd_ = -1;
    ok_ = ok;
    return ok;
}

bool Replacement::commit()
{
    const bool ok = ok_ && renameat(dirfd_, temp_.c_str(), dirfd_, name_.c_str()) == 0;
    ok_ = false;  // nothing more goes into it
    if (ok)
        temp_.clear();
    return ok;
}

bool replaceFile(int dirfd, const std::string& name, std::string_view bytes, const struct stat* keep, mode_t mode)
{
    Replacement next(dirfd, name, keep, mode);
    next.write(bytes);
    if (!next.prepare() || !next.commit())
        return false;
    (void)fsync(dirfd);  // the rename is durable only with its directory; a failure here loses no data
    return true;
}

FolderLock::FolderLock(int dirfd, std::chrono::steady_clock::time_point deadline) : dirfd_(dirfd)
{
    // Where locks are not supported at all, the write goes ahead without one.
    while (!(held_ = flock(dirfd_, LOCK_EX | LOCK_NB) == 0) && errno == EWOULDBLOCK &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

FolderLock::~FolderLock()
{
    if (held_)
        (void)flock(dirfd_, LOCK_UN);
}
