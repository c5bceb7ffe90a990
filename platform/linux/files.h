#pragma once
// The program's directory and the two file operations the programs use.
#include <initializer_list>

#include "text.h"
#include "value.h"

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
// Creates or empties the file and writes the byte sets in order. Never writes
// through a symbolic link; the file is locked against other openers meanwhile.
bool WriteBytesToFile(const Text& path, std::initializer_list<ByteSet> sets);

// Where both programs keep their default sound: per user, not world-writable.
Text DefaultSoundPath();
