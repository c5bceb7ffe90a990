#include "program.h"

#include <unistd.h>

#include <cstdlib>

#include "files.h"
#include "runtime.h"

void FrameworkInit()
{
    if (!RunDirectoryKnown())
        SetRunDirectory(DetectRunDirectory());
    Text dir = GetRunDirectory();
    if (!dir.empty())
        (void)::chdir(toFileName(dir).c_str());  // only launched files rely on it
    const ProgramDefinition& p = thisProgram();
    Runtime::get().loadDefinitions(p.windows, p.handlers, p.assets);
}

void RunProgram(Platform& platform, int (*programStart)())
{
    Runtime runtime(platform);
    // A library may end the process on its own (Qt does when the display
    // connection breaks): the windows' clean-up handlers still run.
    std::atexit([] {
        if (Runtime* rt = Runtime::current(); rt && rt->onWindowThread())
            rt->processEndingUnexpectedly();
    });
    int code = programStart();
    runtime.shutdownCleanup(true);
    platform.exitProcess(code);
    std::abort();
}
