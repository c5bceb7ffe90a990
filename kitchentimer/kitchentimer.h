#pragma once
// The kitchen timer's two windows and its own handlers.
#include "value.h"

inline constexpr WindowId kitchenMainWindow{"kitchenMainWindow"};
inline constexpr WindowId aboutWindow{"aboutWindow"};

void onKitchenMainWindowCreated();
void onKitchenPurposeLinkLabelLeftButtonDown(int x, int y, int keys);
void onKitchenAboutLinkLabelLeftButtonDown(int x, int y, int keys);
void onAboutWindowCreated();

void onKitchenCountdownStartButtonClicked();
void onCountdownStopButtonClicked();
void onKitchenCountdownSecondsCheckClicked();
void onKitchenCountdownMinutesCheckClicked();
void onKitchenCountdownHoursCheckClicked();

void onKitchenMusicPlayButtonClicked();
void onMusicStopButtonClicked();
