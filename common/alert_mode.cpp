#include "alert_mode.h"

#include "option_group.h"
#include "program_frame.h"

void onAlertOnceCheckClicked() { optionGroupClicked(programMainWindow(), "选择框5", {"选择框1"}); }
void onAlertRepeatCheckClicked() { optionGroupClicked(programMainWindow(), "选择框1", {"选择框5"}); }
