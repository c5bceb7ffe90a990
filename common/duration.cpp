#include "duration.h"

#include "framework.h"
#include "services.h"

namespace {

void confirm(const CountdownUnits& c, const Text& tail)
{
    Text message = Join("你设置了", GetText(c.window, c.timeBox, Prop::content), GetText(c.window, c.unitLabel, Prop::caption), tail);
    ShowMessageBox(message, MB_OK);
}

} // namespace

// Intervals are held whole, so a time beyond 32 bits of milliseconds lasts
// what its confirmation says instead of wrapping to a shorter one.
void setIntervalByUnit(const CountdownUnits& c, double minutes, double hours, Text (*tail)())
{
    auto confirmNow = [&] { confirm(c, tail()); };
    if (TextEquals(GetText(c.window, c.unitLabel, Prop::caption), "秒")) {
        Text withZeros = Join(GetText(c.window, c.timeBox, Prop::content), "000");
        SetUnitProperty(c.window, c.timer, Prop::interval, TruncateToInt64(ToNumber(withZeros)));
        confirmNow();
    }
    if (TextEquals(GetText(c.window, c.unitLabel, Prop::caption), "分钟")) {
        SetUnitProperty(c.window, c.timer, Prop::interval, TruncateToInt64(minutes));
        confirmNow();
    }
    if (TextEquals(GetText(c.window, c.unitLabel, Prop::caption), "小时")) {
        SetUnitProperty(c.window, c.timer, Prop::interval, TruncateToInt64(hours));
        confirmNow();
    }
}
