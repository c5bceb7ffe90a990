#pragma once
// The real desktop: a Qt Widgets backend of the platform interface. It owns
// the QApplication and mirrors the runtime's windows with native widgets.
#include <functional>
#include <memory>

#include "platform.h"

class QLocale;

class QtPlatform : public Platform {
public:
    // Takes Qt's command-line options (-style, -platform, ...) from argc/argv,
    // which must outlive the platform.
    QtPlatform(int& argc, char** argv);
    ~QtPlatform() override;
    // Qt's own texts (message-box buttons, the file dialog) in the locale's
    // language; the constructor loads them for the user's locale.
    void loadTranslations(const QLocale& locale);
    QtPlatform(const QtPlatform&) = delete;
    QtPlatform& operator=(const QtPlatform&) = delete;

    bool createWindow(WindowInstance& w) override;
    void showWindow(WindowInstance& w) override;
    void destroyWindow(WindowInstance& w) override;
    void unitChanged(WindowInstance& w, int unit, Prop p) override;
    void setWindowBlocked(WindowInstance& w, bool blocked) override;
    void setTopmost(WindowInstance& w, bool on) override;
    bool setFocus(WindowInstance& w, int unit) override;
    ScreenArea primaryScreen() override;

    int64_t nowMs() override;
    void scheduleWakeup(int64_t dueMs) override;

    void runMessageLoop() override;
    void quitMessageLoop() override;
    void runModalLoop(const std::function<bool()>& done) override;

    MessageButton messageBox(const MessageBoxRequest& request) override;
    std::optional<Text> openFileDialog(const FileDialogRequest& request) override;
    void dismissModal() override;
    void beep() override;
    void shellExecute(const ShellRequest& request) override;
    bool powerPermitted(PowerAction action) override;
    bool powerAction(PowerAction action, bool force) override;
    bool registrySetValue(RegistryRoot root, const Text& key, const Text& name,
                          const std::optional<RegistryValue>& value) override;
    bool registryDeleteValue(RegistryRoot root, const Text& key, const Text& name) override;
    bool registryDeleteKey(RegistryRoot root, const Text& key) override;
    bool registryValueExists(RegistryRoot root, const Text& key, const Text& name) override;

    [[noreturn]] void exitProcess(int code) override;

    // The system's power service, given by the program that uses one; without
    // it no action is ever permitted.
    struct PowerService {
        std::function<bool(PowerAction)> permitted;
        std::function<bool(PowerAction, bool force)> act;
    };
    void setPowerService(PowerService service);

    // How long the caret blinks after the last key or click; 10 s unless a
    // test shortens it.
    void setCaretRestDelay(int ms);

private:
    // Termination signals become a request to end, handled in the event loop.
    static void watchEndSignals();

    struct State;
    std::unique_ptr<State> d_;
};
