#pragma once
// The one interface the runtime needs from a platform. The runtime owns every
// unit's state; a backend creates native windows that mirror it, renders, and
// reports native input back through Runtime::handleNative. A backend never
// calls a handler.
#include <cstdint>
#include <functional>
#include <optional>

#include "text.h"

struct WindowInstance;
enum class Prop : uint8_t;

enum class MessageButton { ok, cancel, abort, retry, ignore, yes, no, none };

struct MessageBoxRequest {
    Text message;
    uint32_t style = 0;  // the Windows message-box style bits
    Text title;
};

struct FileDialogRequest {
    Text title;             // empty: the dialog's own caption
    Text filter;            // "desc|pattern|desc|pattern||"
    int filterIndex = 0;    // counted from 0
    Text initialDir;
    Text proposedName;
    bool fileMustExist = true;
    bool pathMustExist = true;
    bool keepCurrentDir = true;
};

// One start of a file, program, folder or address with the desktop's action
// for it. The file and the directory are passed on as they are; an absent
// parameter text is no parameters at all.
struct ShellRequest {
    enum class Verb { none, edit, explore, find, open, print };
    Verb verb = Verb::none;
    Text file;
    std::optional<Text> parameters;
    Text directory;  // empty: the current directory
    enum class Show { hide, normal, minimized, maximized, noActivate, minimize };
    Show show = Show::normal;
};

// The system's power actions, numbered as the programs number them.
enum class PowerAction { powerOff = 1, reboot = 2, logOff = 3, suspend = 4, hibernate = 5 };

// The registry's roots, numbered as the programs number them.
enum class RegistryRoot { classesRoot = 1, currentConfig = 2, currentUser = 3, localMachine = 4, users = 5 };

// A registry value's data as it is stored: a REG_SZ keeps its terminating zero byte.
struct RegistryValue {
    enum class Type { sz = 1, binary = 3, dword = 4 };
    Type type = Type::sz;
    std::string data;
};

// The primary screen on the desktop. Its origin need not be 0, 0: another
// monitor may lie to its left or above it.
struct ScreenArea {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

class Platform {
public:
    virtual ~Platform() = default;

    // Windows. createWindow builds the native window and every unit hidden;
    // showWindow shows it. destroyWindow raises nothing.
    virtual bool createWindow(WindowInstance& w) = 0;
    virtual void showWindow(WindowInstance& w) = 0;
    virtual void destroyWindow(WindowInstance& w) = 0;
    // A property of a unit (or unit 0, the window) changed in the runtime.
    virtual void unitChanged(WindowInstance& w, int unit, Prop p) = 0;
    // Input to a blocked window is refused while a modal box or window is open.
    virtual void setWindowBlocked(WindowInstance& w, bool blocked) = 0;
    // Applied anew at every call, also when the value does not change.
    virtual void setTopmost(WindowInstance& w, bool on) = 0;
    virtual bool setFocus(WindowInstance& w, int unit) = 0;
    virtual ScreenArea primaryScreen() = 0;

    // Time: a monotonic clock in milliseconds and one wake-up for the earliest
    // due timer (a negative due time cancels it).
    virtual int64_t nowMs() = 0;
    virtual void scheduleWakeup(int64_t dueMs) = 0;

    // Loops. runModalLoop returns once done() holds; events go on meanwhile.
    virtual void runMessageLoop() = 0;
    virtual void quitMessageLoop() = 0;
    virtual void runModalLoop(const std::function<bool()>& done) = 0;

    // Modal dialogs; both run their loop while timers go on.
    virtual MessageButton messageBox(const MessageBoxRequest& request) = 0;
    virtual std::optional<Text> openFileDialog(const FileDialogRequest& request) = 0;
    // Closes the box or dialog open now, as its close button would; the call
    // that opened it then returns.
    virtual void dismissModal() = 0;
    virtual void beep() = 0;

    // Shell: starts and returns at once; nothing is reported back.
    virtual void shellExecute(const ShellRequest& request) = 0;

    // Power: whether the action may be taken now without asking the user
    // (a forced action cannot stop for a password), and the action itself;
    // true when the system accepted it.
    virtual bool powerPermitted(PowerAction action) = 0;
    virtual bool powerAction(PowerAction action, bool force) = 0;

    // Registry, with the semantics of the Win32 calls: a key named by its
    // path below a root. registrySetValue opens or creates the key (and the
    // keys above it) and, when a value is given, writes it; true only when a
    // value was written. registryDeleteKey removes a key without subkeys.
    virtual bool registrySetValue(RegistryRoot root, const Text& key, const Text& name,
                                  const std::optional<RegistryValue>& value) = 0;
    virtual bool registryDeleteValue(RegistryRoot root, const Text& key, const Text& name) = 0;
    virtual bool registryDeleteKey(RegistryRoot root, const Text& key) = 0;
    virtual bool registryValueExists(RegistryRoot root, const Text& key, const Text& name) = 0;

    [[noreturn]] virtual void exitProcess(int code) = 0;
};
