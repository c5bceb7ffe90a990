// The kitchen timer's countdown: start, stop and the unit group.
#include "duration.h"
#include "framework.h"
#include "kitchentimer.h"
#include "option_group.h"
#include "playback.h"
#include "services.h"

namespace {
constexpr CountdownUnits kCountdown{kitchenMainWindow, "编辑框1", "标签2", "时钟1"};

Text alarmTail() { return "后鸣叫！"; }

void setStatus(const char* text) { SetUnitProperty(kitchenMainWindow, "状态标签", Prop::caption, text); }
} // namespace

// Every read of the time text is made afresh, as the steps say.
void onKitchenCountdownStartButtonClicked()
{
    double minutes = ToNumber(GetText(kitchenMainWindow, "编辑框1", Prop::content)) * 60000;
    double hours = ToNumber(GetText(kitchenMainWindow, "编辑框1", Prop::content)) * 3600000;
    bool refused = GetText(kitchenMainWindow, "编辑框1", Prop::content).empty() ||
                   TextEquals(GetText(kitchenMainWindow, "编辑框1", Prop::content), "0");
    if (refused) {
        ShowMessageBox("请输入时间！", MB_OK);
        setStatus("未输入时间");
        return;
    }
    setIntervalByUnit(kCountdown, minutes, hours, alarmTail);
    // Decided when the confirmation has closed: a one-time alarm may have rung meanwhile.
    if (GetNumber(kitchenMainWindow, "时钟1", Prop::interval) != 0)
        setStatus("正在倒计时 ");
}

void onCountdownStopButtonClicked()
{
    SetUnitProperty(kitchenMainWindow, "时钟1", Prop::interval, 0);
    StopPlayback();
    setStatus("倒计时已停止");
    ShowMessageBox("倒计时停止成功！", MB_OK);
}

void onKitchenCountdownSecondsCheckClicked()
{
    optionGroupClicked(kitchenMainWindow, "选择框2", {"选择框3", "选择框4"}, {{"标签1", "设置几秒后鸣叫："}, {"标签2", "秒"}});
}
void onKitchenCountdownMinutesCheckClicked()
{
    optionGroupClicked(kitchenMainWindow, "选择框3", {"选择框2", "选择框4"}, {{"标签1", "设置几分钟后鸣叫："}, {"标签2", "分钟"}});
}
void onKitchenCountdownHoursCheckClicked()
{
    optionGroupClicked(kitchenMainWindow, "选择框4", {"选择框2", "选择框3"}, {{"标签1", "设置几小时后鸣叫："}, {"标签2", "小时"}});
}
