#pragma once
// Every test binary runs with HOME, XDG_RUNTIME_DIR, XDG_CONFIG_HOME and a run
// directory inside one fresh temporary tree; freshDir() gives a new empty
// folder inside it for a single test.
#include <string>

namespace testenv {

// Root of this binary's temporary tree.
const std::string& root();
// A new empty directory below the root (mode 0700).
std::string freshDir(const std::string& hint = "t");
// Reads and writes whole files (bytes as they are).
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
bool exists(const std::string& path);

} // namespace testenv
