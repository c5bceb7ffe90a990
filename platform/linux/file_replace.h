#pragma once
// Reading a regular file, and replacing a file atomically, relative to an open
// directory: the pieces every file the programs rewrite is kept with.
#include <sys/stat.h>
#include <sys/types.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

enum class Load { ok, missing, failed };

// Opens a regular file for reading; anything else (a directory, a FIFO, a
// device) is refused. Without followLink, a symbolic link is refused too.
// Returns the descriptor, or -1 with the reason in `load`.
int openRegular(int dirfd, const char* name, struct stat& st, Load& load, bool followLink = true);

// Reads the whole of such a file.
Load loadFile(int dirfd, const char* name, std::string& bytes, struct stat& st, bool followLink = true);

// The new content of `name`, written piece by piece to a temporary file beside
// it and renamed over it by commit(), so a crash never leaves half a file, nor
// (the file unnamed until the rename) a temporary one; a symbolic link is
// replaced, not written through. With `keep`, the new file takes that file's
// mode and owner; without it, it is made with `mode` (less the umask).
// Dropped without commit(), it leaves nothing.
class Replacement {
public:
    Replacement(int dirfd, std::string name, const struct stat* keep, mode_t mode = 0666);
    ~Replacement();
    Replacement(const Replacement&) = delete;
    Replacement& operator=(const Replacement&) = delete;

    void write(std::string_view bytes);
    // False once the file could not be made or a write failed.
    bool ok() const { return ok_; }
    // Makes the content durable, with its mode and owner, under a temporary
    // name: the slow part.
    bool prepare();
    // The rename alone; durable once the caller has synced the directory.
    bool commit();

private:
    bool flush();

    int dirfd_;
    std::string name_;
    const struct stat* keep_;
    int fd_ = -1;
    bool unnamed_ = false;
    bool ok_ = false;
    std::string temp_;
    std::vector<char> buffer_;
    std::size_t used_ = 0;
};

// A whole content at once, synced with its directory.
bool replaceFile(int dirfd, const std::string& name, std::string_view bytes, const struct stat* keep,
                 mode_t mode = 0666);

// An exclusive lock on an open folder, for the user's own programs that
// rewrite a file in it at the same time. It is taken without blocking and
// given up at the deadline: anyone who can open the folder can hold such a
// lock, and the atomic replace keeps the file whole without it.
class FolderLock {
public:
    FolderLock(int dirfd, std::chrono::steady_clock::time_point deadline);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    bool held() const { return held_; }

    // How long a write waits for the lock at most.
    static constexpr std::chrono::milliseconds kPatience{20};

private:
    int dirfd_;
    bool held_ = false;
};
