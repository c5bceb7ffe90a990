// The "OK" buttons of the three countdown pages.
#include "countdown.h"
#include "duration.h"
#include "framework.h"
#include "services.h"

namespace {

constexpr CountdownUnits kAlarm{mainWindow, "编辑框1", "倒计时标签", "时钟1"};
constexpr CountdownUnits kLaunch{mainWindow, "编辑框4", "启动文件标签", "时钟2"};
constexpr CountdownUnits kPower{mainWindow, "编辑框3", "关机标签", "时钟3"};

Text alarmTail() { return "后鸣叫！"; }
Text launchTail() { return "后启动程序！"; }
Text powerTail() { return Join("后", GetText(mainWindow, "关机状态标签", Prop::caption)); }

// Every read of the time text is made afresh, as the steps say.
void startCountdown(const CountdownUnits& c, bool powerAction, Text (*tail)())
{
    double minutes = ToNumber(GetText(c.window, c.timeBox, Prop::content)) * 60000;
    double hours = ToNumber(GetText(c.window, c.timeBox, Prop::content)) * 3600000;
    if (powerAction)
        updateShutdownStateLabel();
    if (GetText(c.window, c.timeBox, Prop::content).empty()) {
        ShowMessageBox("你未输入时间！", MB_OK);
        return;
    }
    setIntervalByUnit(c, minutes, hours, tail);
}

} // namespace

void onCountdownStartButtonClicked() { startCountdown(kAlarm, false, alarmTail); }
void onLaunchStartButtonClicked() { startCountdown(kLaunch, false, launchTail); }
void onShutdownStartButtonClicked() { startCountdown(kPower, true, powerTail); }

void updateShutdownStateLabel()
{
    if (GetNumber(mainWindow, "关机选择框", Prop::checked) == 1)
        SetUnitProperty(mainWindow, "关机状态标签", Prop::caption, "关机");
    if (GetNumber(mainWindow, "待机选择框", Prop::checked) == 1)
        SetUnitProperty(mainWindow, "关机状态标签", Prop::caption, "待机");
    if (GetNumber(mainWindow, "注销选择框", Prop::checked) == 1)
        SetUnitProperty(mainWindow, "关机状态标签", Prop::caption, "注销");
    if (GetNumber(mainWindow, "重启选择框", Prop::checked) == 1)
        SetUnitProperty(mainWindow, "关机状态标签", Prop::caption, "重启");
}
