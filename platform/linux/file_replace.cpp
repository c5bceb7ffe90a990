#include "file_replace.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <random>
#include <system_error>
#include <thread>

#include "files.h"

namespace {

// ".<name>.<random>.tmp": unique among writers on any machine that shares the folder.
std::string temporaryName(const std::string& name)
{
    static std::mutex mutex;
    static std::mt19937_64 random{(std::uint64_t{std::random_device{}()} << 32) ^ std::random_device{}()};
    std::uint64_t n;
    {
        std::lock_guard<std::mutex> hold(mutex);
        n = random();
    }
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%016llx.tmp", static_cast<unsigned long long>(n));
    return "." + name + suffix;
}

// Where a file system keeps no locks, a temporary this old has no writer left,
// however slow its disk.
constexpr std::time_t kStaleAge = 60 * 60;

// A writer killed between naming its temporary and the rename leaves it
// behind; the next write removes it. Its writer holds a lock on it while it
// lives, which every writer sees, in any PID namespace and on any machine
// that shares the folder: one whose lock can be had is stale.
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
        const int tmp = openat(dirfd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        struct stat st;
        if (tmp < 0)
            continue;
        if (fstat(tmp, &st) == 0 && S_ISREG(st.st_mode)) {
            const bool unlocked = flock(tmp, LOCK_SH | LOCK_NB) == 0;
            const bool stale = unlocked || (errno != EWOULDBLOCK && errno != EINTR && std::time(nullptr) - st.st_mtime > kStaleAge);
            // Removed while the lock is ours, so its writer cannot take it meanwhile.
            if (stale && stillTheFile(dirfd, entry->d_name, &st))
                (void)unlinkat(dirfd, entry->d_name, 0);
        }
        close(tmp);
    }
    closedir(dir);
}

// Naming an unnamed file goes through /proc/self/fd, which a sandbox may lack.
bool procFdUsable() { return access("/proc/self/fd", X_OK) == 0; }

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

Load readAll(int fd, std::size_t size, std::string& bytes)
{
    // Read straight into a block of the file's size, so a large file costs
    // its own size once, not the doubling of a growing string.
    Load result = Load::ok;
    std::size_t have = 0;
    bytes.resize(size + 1);
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
    return result;
}

Load loadFile(int dirfd, const char* name, std::string& bytes, struct stat& st, bool followLink)
{
    Load result;
    const int fd = openRegular(dirfd, name, st, result, followLink);
    if (fd < 0)
        return result;
    result = readAll(fd, static_cast<std::size_t>(st.st_size), bytes);
    close(fd);
    return result;
}

// The temporary file has no name (O_TMPFILE) until just before the rename, so
// a writer killed meanwhile leaves nothing; where the file system cannot make
// one, or /proc is missing, it is named from the start.
Replacement::Replacement(int dirfd, std::string name, const struct stat* keep, mode_t mode)
    : dirfd_(dirfd), name_(std::move(name)), keep_(keep)
{
    removeStaleTemporaries(dirfd_, name_);
    if (keep_)
        mode = 0600;  // until it has the old file's mode, nobody else may open it
    if (procFdUsable())
        fd_ = openat(dirfd_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    unnamed_ = fd_ >= 0;
    if (unnamed_)
        (void)flock(fd_, LOCK_EX | LOCK_NB);  // nobody else sees it yet; without locks, its age protects it
    for (int attempt = 0; attempt < 16 && fd_ < 0; ++attempt) {
        temp_ = temporaryName(name_);
        fd_ = openat(dirfd_, temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd_ < 0) {
            temp_.clear();
            if (errno != EEXIST)
                break;
            continue;
        }
        // Between its making and its lock a sweep may take it for stale: then
        // the sweep holds its lock, or has removed it, and another one is made.
        struct stat own;
        const bool taken = flock(fd_, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
        if (taken || fstat(fd_, &own) != 0 || !stillTheFile(dirfd_, temp_.c_str(), &own))
            release();
    }
    ok_ = fd_ >= 0;
    buffer_.resize(64 * 1024);
}

Replacement::~Replacement() { release(); }

// The name goes before the lock, so no sweep finds it unlocked.
void Replacement::release()
{
    if (!temp_.empty())
        (void)unlinkat(dirfd_, temp_.c_str(), 0);
    temp_.clear();
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
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
            if (!ok)
                temp_.clear();
            if (!ok && errno != EEXIST)
                break;
        }
    }
    // The file stays open, and locked, until the rename: a named temporary
    // without its lock would be taken for a dead writer's.
    ok_ = ok;
    return ok;
}

bool Replacement::commit()
{
    const bool ok = ok_ && renameat(dirfd_, temp_.c_str(), dirfd_, name_.c_str()) == 0;
    ok_ = false;  // nothing more goes into it
    if (ok)
        temp_.clear();
    release();
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

bool stillTheFile(int dirfd, const char* name, const struct stat* old, bool followLink)
{
    struct stat now;
    if (fstatat(dirfd, name, &now, followLink ? 0 : AT_SYMLINK_NOFOLLOW) != 0)
        return !old && errno == ENOENT;
    return old && now.st_dev == old->st_dev && now.st_ino == old->st_ino;
}

namespace {

// The lock file of one target: its folder's device and inode and its name,
// hashed (FNV-1a), in the user's private folder.
std::string writerLockPath(int dirfd, std::string_view name)
{
    struct stat dir;
    if (fstat(dirfd, &dir) != 0)
        return {};
    std::uint64_t hash = 14695981039346656037ull;
    auto mix = [&](const void* data, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i)
            hash = (hash ^ static_cast<const unsigned char*>(data)[i]) * 1099511628211ull;
    };
    mix(&dir.st_dev, sizeof dir.st_dev);
    mix(&dir.st_ino, sizeof dir.st_ino);
    mix(name.data(), name.size());
    char file[48];
    std::snprintf(file, sizeof file, "/ruvo-writer-%016llx.lock", static_cast<unsigned long long>(hash));
    return PrivateFolder() + file;
}

struct Waiting {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool got = false;
};

// Threads still waiting for a lock that a stopped writer holds: past a few,
// a write does not wait at all.
std::atomic<int> g_stranded{0};
constexpr int kMostStranded = 4;

} // namespace

WriterLock::WriterLock(int dirfd, std::string_view name)
{
    const std::string path = writerLockPath(dirfd, name);
    fd_ = path.empty() ? -1 : open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd_ < 0)
        return;
    held_ = flock(fd_, LOCK_EX | LOCK_NB) == 0;
    // Nothing to wait for where locks are refused.
    if (held_ || errno != EWOULDBLOCK || g_stranded.load() >= kMostStranded)
        return;
    // flock() has no time-out: a thread of its own waits on the same open
    // file, whose lock is then ours, and lets it go if we have given up.
    const int waiter = fcntl(fd_, F_DUPFD_CLOEXEC, 0);
    if (waiter < 0)
        return;
    auto waiting = std::make_shared<Waiting>();
    ++g_stranded;
    try {
        std::thread([waiting, waiter] {
            int rc;
            while ((rc = flock(waiter, LOCK_EX)) != 0 && errno == EINTR) {
            }
            close(waiter);  // the lock stays with fd_ while that is open
            {
                std::lock_guard<std::mutex> hold(waiting->mutex);
                waiting->finished = true;
                waiting->got = rc == 0;
            }
            waiting->done.notify_all();
            --g_stranded;
        }).detach();
    } catch (const std::system_error&) {
        --g_stranded;
        close(waiter);
        return;
    }
    std::unique_lock<std::mutex> hold(waiting->mutex);
    held_ = waiting->done.wait_for(hold, kPatience, [&] { return waiting->finished; }) && waiting->got;
}

WriterLock::~WriterLock()
{
    if (fd_ >= 0)
        close(fd_);
}
