#pragma once
// The unit model: loaded windows and their units own the truth of every
// property; events are dispatched here, one handler at a time, on the window
// thread. Backends create native windows from these records and report input
// through handleNative.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "definition.h"
#include "framework.h"
#include "platform.h"

struct Unit {
    const UnitDef* def = nullptr;
    Text text;           // Label/Button/CheckBox/GroupBox caption, EditBox content, window title
    bool checked = false;
    int64_t interval = 0;
    int currentPage = 0;
    bool visible = true;
    Text fileName;
    int caret = 0;        // edit boxes: where the caret stands, in bytes
    int64_t due = -1;     // timers: when the next tick is due; -1 stopped
    int64_t period = 0;
    void* native = nullptr;  // the backend's object
};

struct WindowInstance {
    const WindowDefinition* def = nullptr;
    std::vector<Unit> units;  // units[0] is the window itself
    std::unordered_map<std::string_view, int> byName;
    std::vector<int> timers;  // the timer units, so that a tick need not scan the rest
    // A window loaded in dialog mode belongs to the window that opened it, so a
    // window manager keeps it above its blocked owner; valid while it is created.
    WindowInstance* owner = nullptr;
    bool blocked = false;
    bool alwaysOnTop = false;
    bool destroyed = false;
    int focus = -1;
    int x = 0, y = 0;                   // outer position on the screen
    int clientWidth = 0, clientHeight = 0;
    void* native = nullptr;

    const UnitDef& defOf(int unit) const { return *units[size_t(unit)].def; }
    int find(std::string_view name) const;
};

// Input as a backend reports it.
struct NativeEvent {
    enum class Kind {
        typed,         // a character typed into an edit box (ch); answered: accepted or not
        edited,        // the user changed an edit box's text (text, caret)
        focusChanged,  // the keyboard focus moved from `unit` to `to` (-1: none)
        clicked,       // a button or check box was clicked (mouse or Space)
        pressed,       // the left button went down over a unit (x, y, keys)
        pageSelected,  // the user selected a tab page (page)
        escape,        // Escape pressed in the window
        closeRequest,  // the user asked to close the window
    };
    explicit NativeEvent(Kind k, WindowInstance* w = nullptr, int u = -1) : kind(k), window(w), unit(u) {}
    Kind kind;
    WindowInstance* window = nullptr;
    int unit = -1;
    int to = -1;
    int x = 0, y = 0, keys = 0;
    int page = 0;
    char32_t ch = 0;
    Text text;
    int caret = 0;
};

// The typing filter and the focus-loss normalisation of input mode 7.
bool mode7Accepts(char32_t ch);
Text normaliseMode7(std::string_view text);

class Runtime {
public:
    explicit Runtime(Platform& platform);
    ~Runtime();
    Runtime(const Runtime&) = delete;
    Runtime& operator=(const Runtime&) = delete;

    static Runtime& get();
    static Runtime* current();
    Platform& platform() { return platform_; }

    // Framework set-up: parses and checks the definitions; a fault is fatal.
    void loadDefinitions(std::span<const EmbeddedFile> files, std::span<const HandlerEntry> handlers,
                         std::span<const EmbeddedFile> assets);
    std::span<const EmbeddedFile> assets() const { return assets_; }
    const WindowDefinition* definition(std::string_view id) const;

    void registerCleanup(void (*routine)()) { cleanup_ = routine; }
    bool loadWindow(WindowId id, std::optional<WindowId> parent, bool dialogMode);
    void loadStartWindow(WindowId id);
    void runMessageLoop();
    bool loopStarted() const { return loopStarted_; }
    // The shut-down clean-up; runs once whatever calls it.
    void shutdownCleanup(bool runRoutine);
    [[noreturn]] void endProgram(int code);
    [[noreturn]] void fatalError(int64_t code, const Text& message);
    bool onWindowThread() const { return std::this_thread::get_id() == windowThread_; }

    Value get(WindowId w, std::string_view unit, Prop p);
    void set(WindowId w, std::string_view unit, Prop p, const Value& v);
    bool setInputFocus(WindowId w, std::string_view unit);
    bool showFileDialog(WindowId w, std::string_view unit);
    int messageBox(const Text& message, int style, const Text& title);
    // Closes a window as the user would: aboutToBeDestroyed, then destruction.
    void closeWindow(WindowInstance& w);
    // The system asks the program to end (a termination signal): every window
    // closes as its close box would. A box, dialog or window in dialog mode
    // that a handler waits on is dismissed first, and the windows close once
    // that handler has returned, so no handler finds its window gone.
    void requestEnd();
    // The process is ending without the shut-down clean-up (a library gave up
    // on the display): every window's aboutToBeDestroyed handler runs, so what
    // it removes is removed; nothing else runs and no window is touched.
    void processEndingUnexpectedly();

    // Backends report input here. For `typed` the result says whether the
    // character is let through; every other event answers true when handled.
    bool handleNative(const NativeEvent& e);
    // The platform's wake-up: ticks every timer that is due, earliest first.
    void onWakeup();
    int64_t nextDue() const;

    // Windows that are loaded, in loading order.
    std::vector<WindowInstance*> windows();
    WindowInstance* window(WindowId id);
    // Whether a unit is shown by its own flag and, on a tab, its page.
    bool shownLocally(const WindowInstance& w, int unit) const;
    // Shown on screen: shown locally and every container above it too.
    bool shown(const WindowInstance& w, int unit) const;
    // The unit's rectangle in the window's client coordinates.
    Rect rectInWindow(const WindowInstance& w, int unit) const;
    // The uppermost shown unit at a point of the client area; 0 for the window.
    int unitAt(const WindowInstance& w, int x, int y) const;

private:
    WindowInstance& requireLoaded(WindowId w);
    int requireUnit(WindowInstance& w, std::string_view unit, Prop p);
    void dispatch(WindowInstance& w, int unit, Event e, int x = 0, int y = 0, int keys = 0);
    void setInterval(WindowInstance& w, int unit, int64_t v);
    void selectPage(WindowInstance& w, int tab, int page);
    void destroyWindow(WindowInstance& w);
    void scheduleWakeup();
    void blockAll(std::vector<std::pair<WindowInstance*, bool>>& saved, WindowInstance* except);
    void restore(const std::vector<std::pair<WindowInstance*, bool>>& saved);
    void purgeDestroyed();
    void continueEnd();
    // Waiting in a box or dialog (nullptr) or a window in dialog mode; ended in reverse.
    struct ModalFrame {
        std::vector<WindowInstance*>& frames;
        ModalFrame(std::vector<WindowInstance*>& f, WindowInstance* w) : frames(f) { frames.push_back(w); }
        ~ModalFrame() { frames.pop_back(); }
    };

    Platform& platform_;
    std::thread::id windowThread_;
    std::vector<WindowDefinition> definitions_;
    std::unordered_map<std::string, const HandlerEntry*> handlers_;
    std::span<const EmbeddedFile> assets_;
    std::vector<std::unique_ptr<WindowInstance>> windows_;
    void (*cleanup_)() = nullptr;
    bool cleanupDone_ = false;
    bool loopStarted_ = false;
    bool suppressed_ = false;
    int depth_ = 0;  // nesting of dispatch; destroyed windows are freed at 0
    // The wake-up the platform holds: asked for once, spent when it fires.
    static constexpr int64_t kNoWakeupHeld = -2;
    int64_t wakeupHeld_ = kNoWakeupHeld;
    WindowInstance* handling_ = nullptr;  // the window whose handler runs now
    int handlersRunning_ = 0;
    std::vector<WindowInstance*> modal_;
    bool endRequested_ = false;
    bool ending_ = false;  // continueEnd is at work
};
