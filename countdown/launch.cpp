// The "启动程序" page: the three launch paths and the end of its countdown.
#include "countdown.h"
#include "framework.h"
#include "program_frame.h"
#include "settings_store.h"

namespace {

// The three rows share one dialog, so it proposes the name chosen last in any row.
void browse(const char* box, const char* key)
{
    // A cancelled dialog changes neither the box nor the settings file.
    if (!ShowFileDialog(mainWindow, "通用对话框2"))
        return;
    SetUnitProperty(mainWindow, box, Prop::content, GetText(mainWindow, "通用对话框2", Prop::fileName));
    (void)WriteIniValue(iniFilePath, "yy", key, GetText(mainWindow, box, Prop::content));
}

void clear(const char* box) { SetUnitProperty(mainWindow, box, Prop::content, ""); }

} // namespace

void onLaunchBrowse1ButtonClicked() { browse("启动程序框1", "程序"); }
void onLaunchBrowse2ButtonClicked() { browse("启动程序框2", "程序2"); }
void onLaunchBrowse3ButtonClicked() { browse("启动程序3", "程序3"); }

void onLaunchClear1ButtonClicked() { clear("启动程序框1"); }
void onLaunchClear2ButtonClicked() { clear("启动程序框2"); }
void onLaunchClear3ButtonClicked() { clear("启动程序3"); }

void onLaunchTimerTick()
{
    // Read at the tick; an empty box is handed on like the others.
    ExecuteFile(std::nullopt, GetText(mainWindow, "启动程序框1", Prop::content));
    ExecuteFile(std::nullopt, GetText(mainWindow, "启动程序框2", Prop::content));
    ExecuteFile(std::nullopt, GetText(mainWindow, "启动程序3", Prop::content));
    SetUnitProperty(mainWindow, "时钟2", Prop::interval, 0);
}
