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

// Reads the rest of an open file, expecting about `size` bytes.
Load readAll(int fd, std::size_t size, std::string& bytes);

// Reads the whole of such a file.
Load loadFile(int dirfd, const char* name, std::string& bytes, struct stat& st, bool followLink = true);

// The new content of `name`, written piece by piece to a temporary file beside
// it and renamed over it by commit(), so a crash never leaves half a file, nor
// (the file unnamed until just before the rename, where /proc lets it be
// named then) a temporary one; a symbolic link is replaced, not written
// through. With `keep`, the new file takes that file's mode and owner; without
// it, it is made with `mode` (less the umask). Dropped without commit(), it
// leaves nothing. A temporary is locked while its writer lives, so the sweep
// of those that dead writers left knows a live one wherever its writer runs.
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
    void release();

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

// Whether `name` is still the file `old` was read from (with none: still
// missing). Checked right before a rename, so that a writer who is not one of
// ours, and changed the file meanwhile, has the change read again rather than
// dropped. With followLink, as the old file was opened.
bool stillTheFile(int dirfd, const char* name, const struct stat* old, bool followLink = false);

// How often a write reads its file again after such a change; one who keeps
// changing it makes the write fail rather than lose their change.
inline constexpr int kRereads = 20;

// Serialises the user's own writers of one file: an exclusive lock on a file
// in the user's private folder, named after the target's folder (device and
// inode) and name, so that no one else can take it, whoever can open the
// target's folder. It is waited for up to kPatience, on a thread of its own,
// so a writer of ours stopped while holding it (SIGSTOP, a debugger) holds
// the others up no longer than that; they go ahead without it then, guarded
// only by stillTheFile().
class WriterLock {
public:
    WriterLock(int dirfd, std::string_view name);
    ~WriterLock();
    WriterLock(const WriterLock&) = delete;
    WriterLock& operator=(const WriterLock&) = delete;

    bool held() const { return held_; }

    static constexpr std::chrono::milliseconds kPatience{2000};

private:
    int fd_ = -1;
    bool held_ = false;
};
