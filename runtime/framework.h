#pragma once
// What the programs' handlers see of the runtime: unit properties by window and
// stored name, the four unit operations, the program frame and message boxes.
#include <optional>
#include <string_view>

#include "text.h"
#include "value.h"

enum class Prop : uint8_t { caption, content, checked, interval, currentPage, fileName, visible, alwaysOnTop };

// The window's own record is addressed with the empty unit name.
Value GetUnitProperty(WindowId window, std::string_view unit, Prop property);
void SetUnitProperty(WindowId window, std::string_view unit, Prop property, const Value& value);

// Shorthands for the kind a property holds.
inline Text GetText(WindowId w, std::string_view unit, Prop p) { return GetUnitProperty(w, unit, p).text(); }
inline int64_t GetNumber(WindowId w, std::string_view unit, Prop p) { return GetUnitProperty(w, unit, p).integer(); }

bool SetInputFocus(WindowId window, std::string_view unit);
bool ShowFileDialog(WindowId window, std::string_view unit);
bool LoadWindow(WindowId window, std::optional<WindowId> parent, bool dialogMode);
void LoadStartWindow(WindowId window);
void RunMessageLoop();
void RegisterCleanupRoutine(void (*routine)());
[[noreturn]] void EndProgram(int exitCode);

// Message-box style bits the programs use.
constexpr int MB_OK = 0x0;
constexpr int MB_ICONHAND = 0x10;
constexpr int MB_ICONEXCLAMATION = 0x30;
constexpr int MB_ICONINFORMATION = 0x40;
constexpr int MB_SYSTEMMODAL = 0x1000;
constexpr int MB_TASKMODAL = 0x2000;

// Returns the button that closed the box: OK 0, Cancel 1, Abort 2, Retry 3,
// Ignore 4, Yes 5, No 6; anything else 0.
int ShowMessageBox(const Value& message, int style, std::optional<Text> title = std::nullopt);
void PlayBeep();

// Opens a file, program, folder or address with the desktop's action for it;
// nothing is reported back. operation: 1 edit, 2 explore, 3 find, 4 open,
// 5 print, anything else none. show: 1 hide, 2 normal, 3 minimised,
// 4 maximised, 5 shown without activation, 6 minimise; anything else normal.
void ExecuteFile(std::optional<int> operation, const Text& file, std::optional<Text> parameters = std::nullopt,
                 std::optional<Text> directory = std::nullopt, std::optional<int> show = std::nullopt);

// Switches the machine off (1), restarts it (2), logs the user off (3),
// suspends (4) or hibernates it (5); true when the system accepted.
bool ShutdownSystem(int mode, std::optional<bool> force = std::nullopt);

// Registry values, named by one path "key\value" below a root: 1 classes root,
// 2 current config, 3 current user, 4 local machine, 5 users; any other number
// is the current user. A number is written as a DWORD, a text as a
// zero-terminated string, a byte set as binary data; any other value writes
// nothing. Deleting removes the value, or else the key the whole path names.
bool WriteRegistryValue(int root, const Text& path, const Value& value);
bool DeleteRegistryValue(int root, const Text& path);
bool RegistryValueExists(int root, const Text& path);
