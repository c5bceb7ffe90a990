#pragma once
// A faithful fake of the desktop for tests: a virtual clock that fires due
// timers in order, input as a user produces it (a press on a button first moves
// the focus, then clicks), scripted answers for message boxes and file dialogs
// whose modal loops run while time advances, and a record of every call.
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform.h"
#include "runtime.h"

// Thrown by exitProcess so a test can see how the program ended.
struct ProcessExit {
    int code;
};

class HeadlessPlatform : public Platform {
public:
    HeadlessPlatform();

    // Platform
    bool createWindow(WindowInstance& w) override;
    void showWindow(WindowInstance& w) override;
    void destroyWindow(WindowInstance& w) override;
    void unitChanged(WindowInstance& w, int unit, Prop p) override;
    void setWindowBlocked(WindowInstance& w, bool blocked) override;
    void setTopmost(WindowInstance& w, bool on) override;
    bool setFocus(WindowInstance& w, int unit) override;
    ScreenArea primaryScreen() override { return screen; }
    int64_t nowMs() override { return now_; }
    void scheduleWakeup(int64_t dueMs) override
    {
        wakeup_ = dueMs;
        ++wakeupRequests;
    }
    void runMessageLoop() override;
    void quitMessageLoop() override;
    void runModalLoop(const std::function<bool()>& done) override;
    MessageButton messageBox(const MessageBoxRequest& request) override;
    std::optional<Text> openFileDialog(const FileDialogRequest& request) override;
    // The box or dialog whose script runs now answers as closed, whatever the script says.
    void dismissModal() override;
    void beep() override { record("beep"); }
    void shellExecute(const ShellRequest& request) override;
    bool powerPermitted(PowerAction action) override;
    bool powerAction(PowerAction action, bool force) override;
    bool registrySetValue(RegistryRoot root, const Text& key, const Text& name,
                          const std::optional<RegistryValue>& value) override;
    bool registryDeleteValue(RegistryRoot root, const Text& key, const Text& name) override;
    bool registryDeleteKey(RegistryRoot root, const Text& key) override;
    bool registryValueExists(RegistryRoot root, const Text& key, const Text& name) override;
    [[noreturn]] void exitProcess(int code) override;

    // The clock: advances by ms, firing every timer that falls due on the way.
    void advance(int64_t ms);
    // Moves the clock without running the loop, as a busy handler does.
    void elapse(int64_t ms) { now_ += ms; }

    // Input, addressed by window id and stored name (GB18030, as in the programs).
    // Each returns false when the window refused it (blocked, gone, not shown).
    bool click(WindowId w, std::string_view unit);   // mouse: focus first, then clicked
    bool pressSpace(WindowId w, std::string_view unit);  // keyboard: clicked without moving the focus
    bool focus(WindowId w, std::string_view unit);
    bool type(WindowId w, std::string_view unit, std::string_view keys);  // each byte/char as a key
    bool paste(WindowId w, std::string_view unit, std::string_view text);
    bool press(WindowId w, std::string_view unit, int x, int y, int keys = 0);  // at unit-relative point
    bool pressAt(WindowId w, int x, int y, int keys = 0);                    // at a client point
    bool selectPage(WindowId w, std::string_view tab, int page);
    bool escape(WindowId w);
    bool close(WindowId w);

    // Scripts: answers for the next boxes and dialogs (run inside their modal
    // loops, so they may advance the clock or give further input); without a
    // script a box is closed with OK and a dialog is cancelled.
    std::deque<std::function<MessageButton(const MessageBoxRequest&)>> messageBoxScript;
    std::deque<std::function<std::optional<Text>(const FileDialogRequest&)>> fileDialogScript;
    // What the message loop and modal windows do while they run.
    std::deque<std::function<void()>> loopScript;
    std::deque<std::function<void()>> modalScript;

    // Power as the system would answer: whether an action is permitted
    // without asking, and whether the system then accepts it.
    bool powerPermission = true;
    bool powerAccepted = true;

    // The registry's values by registryPath(); a key exists while a value is
    // in it (key case is kept exact). A test may fill it before the start.
    static std::string registryPath(RegistryRoot root, const Text& key, const Text& name);
    std::map<std::string, RegistryValue> registry;
    bool registryWritable = true;  // false: every write and delete fails

    // Records.
    std::vector<MessageBoxRequest> messageBoxes;
    std::vector<FileDialogRequest> fileDialogs;
    std::vector<ShellRequest> shellRequests;
    struct PowerCall {
        PowerAction action;
        bool force;
    };
    std::vector<PowerCall> powerCalls;       // actions asked for, after a permitted privilege step
    std::vector<PowerAction> powerQueries;   // privilege steps
    std::vector<std::string> calls;  // every platform call, in order
    int topmostCalls = 0;
    int wakeupRequests = 0;
    bool quitPosted = false;
    ScreenArea screen{0, 0, 1024, 768};
    bool failCreateWindow = false;

    WindowInstance* window(WindowId w) { return Runtime::get().window(w); }
    bool shown(WindowId w, std::string_view unit);
    int focusedUnit(WindowId w);

private:
    void record(std::string call) { calls.push_back(std::move(call)); }
    int unitIndex(WindowInstance& w, std::string_view unit);
    bool moveFocus(WindowInstance& w, int to);
    bool insert(WindowInstance& w, int unit, std::string_view text, bool filtered);
    bool windowEvent(WindowId w, NativeEvent::Kind kind);

    int64_t now_ = 0;
    int64_t wakeup_ = -1;
    bool quit_ = false;
    bool dismissed_ = false;
};
