// The kitchen timer's play and stop buttons of the music group.
#include "framework.h"
#include "kitchentimer.h"
#include "playback.h"
#include "program_frame.h"

// Two separate tests, each reading the box afresh; only an empty box plays
// the default music (blanks are not empty).
void onKitchenMusicPlayButtonClicked()
{
    if (GetText(kitchenMainWindow, "编辑框2", Prop::content).empty()) {
        SetUnitProperty(kitchenMainWindow, "状态标签", Prop::caption, "默认音乐");
        PlayMp3(1, {defaultMusicPath});
    }
    if (!GetText(kitchenMainWindow, "编辑框2", Prop::content).empty()) {
        SetUnitProperty(kitchenMainWindow, "状态标签", Prop::caption, "播放音乐");
        PlayMp3(1, {GetText(kitchenMainWindow, "编辑框2", Prop::content)});
    }
}

// Leaves the countdown running: a repeating alarm plays again at its next tick.
void onMusicStopButtonClicked()
{
    StopPlayback();
    SetUnitProperty(kitchenMainWindow, "状态标签", Prop::caption, "停止播放");
}
