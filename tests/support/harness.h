#pragma once
// Runs a program's real handlers on the headless platform: a fresh run
// directory, a fresh runtime, and the start routine's steps up to the start
// window, so that a test can drive the window by unit name.
#include <memory>
#include <string>

#include "files.h"
#include "framework.h"
#include "headless.h"
#include "program.h"
#include "program_frame.h"
#include "runtime.h"
#include "test_env.h"

struct ProgramHarness {
    HeadlessPlatform platform;
    std::unique_ptr<Runtime> runtime;
    std::string runDir;

    ProgramHarness()
    {
        runDir = testenv::freshDir("run");
        SetRunDirectory(fromUtf8(runDir));
        freeProgramGlobals();
        runtime = std::make_unique<Runtime>(platform);
    }

    // The start routine's set-up, up to the shown start window; the test is the loop.
    void start() { programSetUp(); }

    // The whole start routine and the end of the process, with the loop
    // running the steps queued in platform.loopScript; gives the exit code.
    int run()
    {
        try {
            RunProgramForTest();
        } catch (const ProcessExit& e) {
            return e.code;
        }
        return -1000;  // the process did not end
    }

    std::string path(const std::string& name) const { return runDir + "/" + name; }

private:
    void RunProgramForTest()
    {
        int code = programStart();
        runtime->shutdownCleanup(true);
        platform.exitProcess(code);
    }
};
