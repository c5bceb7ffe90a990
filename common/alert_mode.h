#pragma once
// The alert mode of the alarm, "一次提示" or "循环提示": the same group in both
// programs' main windows.
void onAlertOnceCheckClicked();
void onAlertRepeatCheckClicked();
