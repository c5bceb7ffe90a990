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

void onSaveSettingsButtonClicked();
void onTopmostTimerTick();
// The last step of the creation sequence, and the save's: the timer runs while "总在最前" is checked.
void startTopmostTimer();

void onPurposeLinkLabelLeftButtonDown(int x, int y, int keys);
void onPurposeShortLinkLabelLeftButtonDown(int x, int y, int keys);
void onAboutLinkLabelLeftButtonDown(int x, int y, int keys);
void onAboutBoardLeftButtonDown(int x, int y, int keys);
void onStudioNameLabelLeftButtonDown(int x, int y, int keys);
void onAboutPictureLeftButtonDown(int x, int y, int keys);
