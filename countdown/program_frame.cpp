#include "program_frame.h"

#include "files.h"
#include "framework.h"
#include "program.h"

Text iniFilePath;
Text defaultMusicPath;

int programStart()
{
    FrameworkInit();
    initProgramGlobals();
    RegisterCleanupRoutine(freeProgramGlobals);
    LoadStartWindow(programMainWindow);
    RunMessageLoop();
    return 0;
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
