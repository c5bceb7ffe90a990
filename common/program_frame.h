#pragma once
// The start routine and the two program-wide texts, the same in both programs.
#include "text.h"
#include "value.h"

// Set by the creation sequence, read by handlers, released at the end.
extern Text iniFilePath;
extern Text defaultMusicPath;

// The program's main window, as its definition names it.
WindowId programMainWindow();

// The start routine: the set-up up to the shown start window, then the loop.
int programStart();
void programSetUp();
void initProgramGlobals();
void freeProgramGlobals();

// The first steps of the creation sequence both programs share: the settings
// path, then the default sound.
void setSettingsPath();
