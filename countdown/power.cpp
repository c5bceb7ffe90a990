// The "定时关机" page: the action at the end of its countdown, and its cancel.
#include "countdown.h"
#include "framework.h"

void onShutdownTimerTick()
{
    // Each box is read at the tick; the results are not looked at.
    if (GetNumber(mainWindow, "关机选择框", Prop::checked) == 1)
        (void)ShutdownSystem(1, true);
    if (GetNumber(mainWindow, "待机选择框", Prop::checked) == 1)
        (void)ShutdownSystem(4, true);
    if (GetNumber(mainWindow, "注销选择框", Prop::checked) == 1)
        (void)ShutdownSystem(3, true);
    if (GetNumber(mainWindow, "重启选择框", Prop::checked) == 1)
        (void)ShutdownSystem(2, true);
    SetUnitProperty(mainWindow, "时钟3", Prop::interval, 0);
}

void onForceCancelButtonClicked()
{
    SetUnitProperty(mainWindow, "时钟3", Prop::interval, 0);
    (void)ShowMessageBox("强制停止倒计时成功！", MB_ICONEXCLAMATION, Text("警告"));
}
