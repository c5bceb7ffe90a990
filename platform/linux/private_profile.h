#pragma once
// Our reader and writer of the Windows private-profile (INI) format, keeping
// the rules by which GetPrivateProfileStringA and WritePrivateProfileStringA
// read and write it, so that files written by the Windows programs, by a user
// or by us read alike. Names and values are GB18030/GBK bytes, never converted;
// the path is converted to UTF-8 only where it meets the file system.
#include <cstddef>
#include <optional>
#include <string_view>

#include "text.h"

// Copies the value of key in section of file into buffer (size bytes, always
// zero-terminated when size > 0), cut to size - 1 bytes; a missing file,
// section or key copies defaultValue, less its trailing blanks. Returns the
// number of bytes copied, the terminator not counted.
std::size_t readProfileString(std::string_view file, std::string_view section, std::string_view key,
                              std::string_view defaultValue, char* buffer, std::size_t size);

// Sets one key, creating the section and the file as needed; an omitted value
// deletes the key, an omitted key deletes the whole section. The file is
// replaced atomically; false when it could not be, and then it is unchanged.
bool writeProfileString(std::string_view file, std::string_view section, const std::optional<Text>& key,
                        const std::optional<Text>& value);
