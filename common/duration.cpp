#include "duration.h"

#include <limits>

#include "framework.h"
#include "services.h"

namespace {

void confirm(const CountdownUnits& c, const Text& tail)
{
    Text message = Join("你设置了", GetText(c.window, c.timeBox, Prop::content), GetText(c.window, c.unitLabel, Prop::caption), tail);
    ShowMessageBox(message, MB_OK);
}

// A time beyond what the timer holds lasts as long as it can: the truncation
// would turn it into its out-of-range mark, which stops the timer instead.
int64_t toInterval(double ms)
{
    if (ms >= 9223372036854775808.0)
        return std::numeric_limits<int64_t>::max();
    return TruncateToInt64(ms);
}

} // namespace

// Intervals are held whole, so a time beyond 32 bits of milliseconds lasts
// what its confirmation says instead of wrapping to a shorter one.
void setIntervalByUnit(const CountdownUnits& c, double minutes, double hours, Text (*tail)())
{
    auto confirmNow = [&] { confirm(c, tail()); };
    if (TextEquals(GetText(c.window, c.unitLabel, Prop::caption), "秒")) {
        Text withZeros = Join(GetText(c.window, c.timeBox, Prop::content), "000");
        SetUnitProperty(c.window, c.timer, Prop::interval, toInterval(ToNumber(withZeros)));
        confirmNow();
    }
    if (TextEquals(GetText(c.window, c.unitLabel, Prop::caption), "分钟")) {
        SetUnitProperty(c.window, c.timer, Prop::interval, toInterval(minutes));
        confirmNow();
    }
    if (TextEquals(GetText(c.window, c.unitLabel, Prop::caption), "小时")) {
        SetUnitProperty(c.window, c.timer, Prop::interval, toInterval(hours));
        confirmNow();
    }
}
