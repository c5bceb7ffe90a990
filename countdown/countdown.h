#pragma once
// The countdown timer's window and its handlers.
#include "value.h"

inline constexpr WindowId mainWindow{"mainWindow"};

void onMainWindowCreated();
void onForceCloseButtonClicked();

void onCountdownStartButtonClicked();
void onLaunchStartButtonClicked();
void onShutdownStartButtonClicked();
void updateShutdownStateLabel();

void onCountdownSecondsCheckClicked();
void onCountdownMinutesCheckClicked();
void onCountdownHoursCheckClicked();
void onLaunchSecondsCheckClicked();
void onLaunchMinutesCheckClicked();
void onLaunchHoursCheckClicked();
void onShutdownSecondsCheckClicked();
void onShutdownMinutesCheckClicked();
void onShutdownHoursCheckClicked();
void onActionShutdownCheckClicked();
void onActionStandbyCheckClicked();
void onActionLogoffCheckClicked();
void onActionRestartCheckClicked();

void onMusicPlayButtonClicked();
void onMusicPauseButtonClicked();
void onMusicResumeButtonClicked();
void onMusicClearButtonClicked();

void onLaunchBrowse1ButtonClicked();
void onLaunchBrowse2ButtonClicked();
void onLaunchBrowse3ButtonClicked();
void onLaunchClear1ButtonClicked();
void onLaunchClear2ButtonClicked();
void onLaunchClear3ButtonClicked();
void onLaunchTimerTick();

void onShutdownTimerTick();
void onForceCancelButtonClicked();
