#pragma once
// The alarm timer's tick and the music "打开" button, shared by both programs
// (each binds them to its own main window's units of the same names).
void onCountdownTimerTick();
void onMusicOpenButtonClicked();
