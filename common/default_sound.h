#pragma once
// The default alarm both programs carry, written at every start to a fixed
// per-user path and removed when the main window goes.
#include "value.h"

// The embedded MP3 as the byte set the programs write.
ByteSet defaultMusic();

// The creation step: writes the file (result ignored) and sets defaultMusicPath.
void writeDefaultSound();
void onMainWindowAboutToBeDestroyed();
