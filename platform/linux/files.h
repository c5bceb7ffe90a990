#pragma once
// The program's directory and the two file operations the programs use.
#include <span>
#include <string>
#include <string_view>

#include "text.h"

// Separator the programs put between a directory and a file name.
inline constexpr const char* kPathSeparator = "/";

// The directory of the running executable, without a trailing separator;
// fixed once at start (or by a test).
Text GetRunDirectory();
void SetRunDirectory(const Text& dir);
bool RunDirectoryKnown();
// Reads the directory of /proc/self/exe.
Text DetectRunDirectory();

bool RemoveFile(const Text& path);
// Writes all of the bytes, going on after a signal; false at the first failure.
bool writeAll(int fd, std::string_view bytes);
// Creates or empties the file and writes the parts in order. Never writes
// through a symbolic link; the file is locked against other openers meanwhile.
bool WriteBytesToFile(const Text& path, std::span<const std::string_view> parts);

// A folder of this user's that no one else can write into: the runtime
// folder, else ruvo-UID in the temporary directory, else ~/.cache. Made when
// missing; a file system name, without a trailing separator.
std::string PrivateFolder();

// Where both programs keep their default sound: in that folder, shared by both.
Text DefaultSoundPath();
