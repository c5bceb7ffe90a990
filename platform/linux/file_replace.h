#pragma once
// Reading a regular file whole, and replacing a file atomically, relative to
// an open directory: the pieces every file the programs rewrite is kept with.
#include <sys/stat.h>

#include <string>
#include <string_view>

enum class Load { ok, missing, failed };

// Anything but a regular file (a directory, a FIFO, a device) is refused.
Load loadFile(int dirfd, const char* name, std::string& bytes, struct stat& st);

// Writes bytes to a temporary file beside `name` and renames it over it, so a
// crash never leaves half a file, nor (the file unnamed until the rename) a
// temporary one; a symbolic link is replaced, not written through. With `old`,
// the new file keeps that file's mode and owner.
bool replaceFile(int dirfd, const std::string& name, std::string_view bytes, const struct stat* old);
