// The countdown timer's unit and power-action groups.
#include "countdown.h"
#include "option_group.h"

void onCountdownSecondsCheckClicked()
{
    optionGroupClicked(mainWindow, "选择框2", {"选择框3", "选择框4"}, {{"标签1", "设置几秒后鸣叫："}, {"倒计时标签", "秒"}});
}
void onCountdownMinutesCheckClicked()
{
    optionGroupClicked(mainWindow, "选择框3", {"选择框2", "选择框4"}, {{"标签1", "设置几分钟后鸣叫："}, {"倒计时标签", "分钟"}});
}
void onCountdownHoursCheckClicked()
{
    optionGroupClicked(mainWindow, "选择框4", {"选择框2", "选择框3"}, {{"标签1", "设置几小时后鸣叫："}, {"倒计时标签", "小时"}});
}

void onLaunchSecondsCheckClicked() { optionGroupClicked(mainWindow, "选择框6", {"选择框7", "选择框8"}, {{"启动文件标签", "秒"}}); }
void onLaunchMinutesCheckClicked() { optionGroupClicked(mainWindow, "选择框7", {"选择框6", "选择框8"}, {{"启动文件标签", "分钟"}}); }
void onLaunchHoursCheckClicked() { optionGroupClicked(mainWindow, "选择框8", {"选择框6", "选择框7"}, {{"启动文件标签", "小时"}}); }

void onShutdownSecondsCheckClicked() { optionGroupClicked(mainWindow, "选择框9", {"选择框10", "选择框11"}, {{"关机标签", "秒"}}); }
void onShutdownMinutesCheckClicked() { optionGroupClicked(mainWindow, "选择框10", {"选择框9", "选择框11"}, {{"关机标签", "分钟"}}); }
void onShutdownHoursCheckClicked() { optionGroupClicked(mainWindow, "选择框11", {"选择框10", "选择框9"}, {{"关机标签", "小时"}}); }

void onActionShutdownCheckClicked() { optionGroupClicked(mainWindow, "关机选择框", {"待机选择框", "重启选择框", "注销选择框"}); }
void onActionStandbyCheckClicked() { optionGroupClicked(mainWindow, "待机选择框", {"关机选择框", "重启选择框", "注销选择框"}); }
void onActionLogoffCheckClicked() { optionGroupClicked(mainWindow, "注销选择框", {"待机选择框", "重启选择框", "关机选择框"}); }
void onActionRestartCheckClicked() { optionGroupClicked(mainWindow, "重启选择框", {"待机选择框", "关机选择框", "注销选择框"}); }
