#pragma once
// The countdown timer's window and its handlers.
#include "value.h"

inline constexpr WindowId mainWindow{"mainWindow"};

void onMainWindowCreated();
void onForceCloseButtonClicked();
