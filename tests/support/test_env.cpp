#include "test_env.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testenv {

namespace {
std::string makeRoot()
{
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/ruvo-test-XXXXXX";
    if (!mkdtemp(tmpl.data()))
        throw std::runtime_error("mkdtemp failed");
    for (const char* sub : {"/home", "/xdg", "/config", "/run"})
        mkdir((tmpl + sub).c_str(), 0700);
    setenv("HOME", (tmpl + "/home").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (tmpl + "/xdg").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (tmpl + "/config").c_str(), 1);
    setenv("RUVO_TEST_RUN_DIR", (tmpl + "/run").c_str(), 1);
    // No test may open a real application or reach a real logind: a stub
    // xdg-open that only logs comes first on PATH, and the system bus is a
    // socket that does not exist unless a test starts its own mock there.
    mkdir((tmpl + "/bin").c_str(), 0700);
    writeFile(tmpl + "/bin/xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$*\" >> \"" + tmpl + "/xdg-open.log\"\n");
    chmod((tmpl + "/bin/xdg-open").c_str(), 0700);
    const char* path = std::getenv("PATH");
    setenv("PATH", (tmpl + "/bin:" + (path ? path : "/usr/bin:/bin")).c_str(), 1);
    setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + tmpl + "/no-system-bus").c_str(), 1);
    return tmpl;
}
} // namespace

const std::string& root()
{
    static const std::string r = makeRoot();
    return r;
}

std::string freshDir(const std::string& hint)
{
    static std::atomic<int> n{0};
    std::string d = root() + "/" + hint + "-" + std::to_string(++n);
    mkdir(d.c_str(), 0700);
    return d;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

bool exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

} // namespace testenv
