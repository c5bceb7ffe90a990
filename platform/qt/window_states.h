#pragma once
// Window-manager states of a top-level window that Qt has no flag for, told
// to an EWMH window manager before the window maps.
class QWidget;

// Adds _NET_WM_STATE_SKIP_TASKBAR; nothing on a display without X11.
void skipTaskbarBeforeMap(QWidget* window);
