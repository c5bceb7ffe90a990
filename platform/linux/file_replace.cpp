#include "file_replace.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
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

} // namespace

Load loadFile(int dirfd, const char* name, std::string& bytes, struct stat& st)
{
    const int fd = openat(dirfd, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return errno == ENOENT ? Load::missing : Load::failed;
    Load result = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? Load::ok : Load::failed;
    char chunk[16384];
    while (result == Load::ok) {
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n > 0)
            bytes.append(chunk, static_cast<std::size_t>(n));
        else if (n == 0)
            break;
        else if (errno != EINTR)
            result = Load::failed;
    }
    close(fd);
    return result;
}

bool replaceFile(int dirfd, const std::string& name, std::string_view bytes, const struct stat* old)
{
    static std::atomic<unsigned> counter{0};
    static const unsigned salt = std::random_device{}();
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        char suffix[48];
        std::snprintf(suffix, sizeof suffix, ".%d.%08x.tmp", static_cast<int>(getpid()), salt ^ (counter++ * 0x9E3779B9u));
        temp = "." + name + suffix;
        fd = openat(dirfd, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, old ? 0600 : 0666);
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
    ok = close(fd) == 0 && ok;
    ok = ok && renameat(dirfd, temp.c_str(), dirfd, name.c_str()) == 0;
    if (!ok) {
        unlinkat(dirfd, temp.c_str(), 0);
        return false;
    }
    (void)fsync(dirfd);  // the rename is durable only with its directory; a failure here loses no data
    return true;
}
