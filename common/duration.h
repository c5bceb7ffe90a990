#pragma once
// How a time text and its unit become a timer interval, shared by every
// countdown of both programs.
#include <string_view>

#include "text.h"
#include "value.h"

// The units of one countdown: its time box, unit label and timer.
struct CountdownUnits {
    WindowId window;
    std::string_view timeBox;
    std::string_view unitLabel;
    std::string_view timer;
};

// The three tests of the unit label's caption, in order, each read afresh:
// a match sets the timer's interval and shows "你设置了" + time + unit +
// tail(), the tail taken when the confirmation is shown. The seconds come from
// the time text with "000" appended; minutes and hours are the values the
// caller computed before any other step.
void setIntervalByUnit(const CountdownUnits& c, double minutes, double hours, Text (*tail)());
