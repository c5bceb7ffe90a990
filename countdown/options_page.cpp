// The "设置" page: the save button, the always-on-top timer and its start.
#include "countdown.h"
#include "files.h"
#include "framework.h"
#include "program_frame.h"
#include "settings_store.h"

namespace {
constexpr const char* kAutostartValue = "Software\\Microsoft\\Windows\\CurrentVersion\\Run\\zuv";
// The executable the autostart value names, whatever this one is called.
constexpr const char* kCountdownExecutable = "countdown";

bool checked(const char* unit) { return GetUnitProperty(mainWindow, unit, Prop::checked).boolean(); }
} // namespace

void onSaveSettingsButtonClicked()
{
    (void)WriteIniValue(iniFilePath, "sz", "最前", checked("选择框13") ? "真" : "假");
    (void)WriteIniValue(iniFilePath, "sz", "自启", checked("选择框12") ? "真" : "假");
    const bool present = RegistryValueExists(4, kAutostartValue);
    if (!present && checked("选择框12"))
        (void)WriteRegistryValue(4, kAutostartValue, Join(GetRunDirectory(), kPathSeparator, kCountdownExecutable));
    if (present && !checked("选择框12"))
        (void)DeleteRegistryValue(4, kAutostartValue);
    startTopmostTimer();
}

void onTopmostTimerTick() { SetUnitProperty(mainWindow, "", Prop::alwaysOnTop, true); }

void startTopmostTimer() { SetUnitProperty(mainWindow, "时钟4", Prop::interval, checked("选择框13") ? 1 : 0); }
