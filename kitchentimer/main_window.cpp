// The kitchen timer's start values, its two links and its About window.
#include "default_sound.h"
#include "framework.h"
#include "kitchentimer.h"
#include "program_frame.h"
#include "settings_store.h"

void onKitchenMainWindowCreated()
{
    setSettingsPath();
    SetUnitProperty(kitchenMainWindow, "编辑框2", Prop::content, ReadIniValue(iniFilePath, "yy", "音乐"));
    writeDefaultSound();
    SetUnitProperty(kitchenMainWindow, "标签2", Prop::caption, "分钟");
    SetUnitProperty(kitchenMainWindow, "状态标签", Prop::caption, "空闲");
    SetUnitProperty(kitchenMainWindow, "编辑框1", Prop::content, "5");
    (void)SetInputFocus(kitchenMainWindow, "编辑框1");
}

void onKitchenPurposeLinkLabelLeftButtonDown(int, int, int)
{
    ShowMessageBox("程序用途：\r\n"
                   "  欢迎使用！程序为Velmora\r\n"
                   "  建议：计时时间为 5 分钟！\r\n"
                   "  如果泡面赠送香肠或酸菜\r\n"
                   "  建议：等面熟了再放、味道更佳！",
                   MB_ICONINFORMATION, Text("zuv-程序用途"));
}

void onKitchenAboutLinkLabelLeftButtonDown(int, int, int)
{
    (void)LoadWindow(aboutWindow, std::nullopt, true);
}

void onAboutWindowCreated() { PlayBeep(); }
