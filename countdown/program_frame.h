#pragma once
// The start routine and the two program-wide texts, the same in both programs.
#include "text.h"
#include "value.h"

// Set by the creation sequence, read by handlers, released at the end.
extern Text iniFilePath;
extern Text defaultMusicPath;

// The program's main window: each program names its own.
extern const WindowId programMainWindow;

int programStart();
void initProgramGlobals();
void freeProgramGlobals();

// The first steps of the creation sequence both programs share: the settings
// path, then the default sound.
void setSettingsPath();
