#pragma once
// Every access of both programs to their settings file "pz.ini" goes through
// these two operations.
#include <optional>

#include "text.h"

// The value of key in section, cut to 10,239 bytes; the default (none when
// omitted or empty) when file, section or key is missing.
Text ReadIniValue(const Text& file, const Text& section, const Text& key,
                  const std::optional<Text>& defaultValue = std::nullopt);

// An omitted key deletes the section, an omitted value the key. True when the
// file was written.
bool WriteIniValue(const Text& file, const Text& section, const std::optional<Text>& key,
                   const std::optional<Text>& value);
