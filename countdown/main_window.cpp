#include "countdown.h"
#include "framework.h"
#include "program_frame.h"
#include "services.h"

void onMainWindowCreated()
{
    SetUnitProperty(mainWindow, "编辑框1", Prop::content, ToText(GetUnitProperty(mainWindow, "时钟1", Prop::interval)));
    SetUnitProperty(mainWindow, "编辑框4", Prop::content, ToText(GetUnitProperty(mainWindow, "时钟2", Prop::interval)));
    SetUnitProperty(mainWindow, "倒计时标签", Prop::caption, "秒");
    SetUnitProperty(mainWindow, "启动文件标签", Prop::caption, "秒");
    SetUnitProperty(mainWindow, "关机标签", Prop::caption, "秒");
    (void)SetInputFocus(mainWindow, "编辑框1");
}

void onForceCloseButtonClicked()
{
    EndProgram(0);
}
