#include "countdown.h"
#include "default_sound.h"
#include "framework.h"
#include "program_frame.h"
#include "services.h"
#include "settings_store.h"

namespace {
void loadText(const char* unit, const char* section, const char* key)
{
    SetUnitProperty(mainWindow, unit, Prop::content, ReadIniValue(iniFilePath, section, key));
}

void loadSwitch(const char* unit, const char* key)
{
    SetUnitProperty(mainWindow, unit, Prop::checked, TextEquals(ReadIniValue(iniFilePath, "sz", key), "真"));
}
} // namespace

void onMainWindowCreated()
{
    setSettingsPath();
    loadText("编辑框2", "yy", "音乐");
    loadText("启动程序框1", "yy", "程序");
    loadText("启动程序框2", "yy", "程序2");
    loadText("启动程序3", "yy", "程序3");
    loadSwitch("选择框12", "自启");
    loadSwitch("选择框13", "最前");
    writeDefaultSound();
    SetUnitProperty(mainWindow, "编辑框1", Prop::content, ToText(GetUnitProperty(mainWindow, "时钟1", Prop::interval)));
    SetUnitProperty(mainWindow, "编辑框4", Prop::content, ToText(GetUnitProperty(mainWindow, "时钟2", Prop::interval)));
    SetUnitProperty(mainWindow, "倒计时标签", Prop::caption, "秒");
    SetUnitProperty(mainWindow, "启动文件标签", Prop::caption, "秒");
    SetUnitProperty(mainWindow, "关机标签", Prop::caption, "秒");
    (void)SetInputFocus(mainWindow, "编辑框1");
    startTopmostTimer();
}

void onForceCloseButtonClicked()
{
    EndProgram(0);
}
