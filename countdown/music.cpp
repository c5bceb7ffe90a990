// The countdown timer's own music buttons.
#include "countdown.h"
#include "framework.h"
#include "playback.h"

void onMusicPlayButtonClicked()
{
    // No test for an empty box: then the call only stops what plays.
    PlayMp3(std::nullopt, {GetText(mainWindow, "编辑框2", Prop::content)});
}

void onMusicPauseButtonClicked() { PauseMp3(); }
void onMusicResumeButtonClicked() { ResumeMp3(); }
void onMusicClearButtonClicked() { SetUnitProperty(mainWindow, "编辑框2", Prop::content, ""); }
