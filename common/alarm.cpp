#include "alarm.h"

#include "framework.h"
#include "playback.h"
#include "program_frame.h"
#include "settings_store.h"

namespace {
// Both plays ask for one pass; the box is read afresh for each test.
void ring()
{
    if (GetText(programMainWindow(), "编辑框2", Prop::content).empty())
        PlayMp3(1, {defaultMusicPath});
    if (!GetText(programMainWindow(), "编辑框2", Prop::content).empty())
        PlayMp3(std::nullopt, {GetText(programMainWindow(), "编辑框2", Prop::content)});
}
} // namespace

void onCountdownTimerTick()
{
    if (GetNumber(programMainWindow(), "选择框5", Prop::checked) == 1) {
        ring();
        SetUnitProperty(programMainWindow(), "时钟1", Prop::interval, 0);
    } else if (GetNumber(programMainWindow(), "选择框1", Prop::checked) == 1) {
        ring();
    }
}

void onMusicOpenButtonClicked()
{
    // A cancelled dialog changes neither the box nor the settings file.
    if (!ShowFileDialog(programMainWindow(), "通用对话框1"))
        return;
    SetUnitProperty(programMainWindow(), "编辑框2", Prop::content, GetText(programMainWindow(), "通用对话框1", Prop::fileName));
    (void)WriteIniValue(iniFilePath, "yy", "音乐", GetText(programMainWindow(), "编辑框2", Prop::content));
}
