#include "program_frame.h"

#include "files.h"
#include "framework.h"
#include "program.h"

Text iniFilePath;
Text defaultMusicPath;

WindowId programMainWindow() { return thisProgram().mainWindow; }

int programStart()
{
    programSetUp();
    RunMessageLoop();
    return 0;
}

void programSetUp()
{
    FrameworkInit();
    initProgramGlobals();
    RegisterCleanupRoutine(freeProgramGlobals);
    LoadStartWindow(programMainWindow());
}

void initProgramGlobals() {}

void freeProgramGlobals()
{
    iniFilePath.clear();
    iniFilePath.shrink_to_fit();
    defaultMusicPath.clear();
    defaultMusicPath.shrink_to_fit();
}

void setSettingsPath()
{
    Text dir = GetRunDirectory();
    iniFilePath = Join(dir, kPathSeparator, "pz.ini");
}
