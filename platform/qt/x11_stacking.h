#pragma once
// Always-on-top on X11, re-applied as often as the programs ask (up to 100
// times a second) without flicker: the window manager's EWMH "above" state and
// a restack of the live window, never a change of Qt's window flags (which
// would unmap and re-create it). Both are asked for only when the stacking may
// have changed since the last time, so a re-assertion that changes nothing
// costs no request to the server. A window manager counts only while its
// check window names itself: one that ended answers nothing, so the window is
// then kept up as without one.
#include <memory>

class QWidget;

class X11Stacking {
public:
    // Nothing when the application does not run on X11.
    static std::unique_ptr<X11Stacking> create();
    ~X11Stacking();
    X11Stacking(const X11Stacking&) = delete;
    X11Stacking& operator=(const X11Stacking&) = delete;

    // Puts a shown window in the "above" state and, with `restack`, over every
    // window the window manager lets it go above.
    void keepAbove(QWidget* window, bool restack);
    // Takes the "above" state away again.
    void release(QWidget* window);
    // The next keepAbove looks again (after a modal box closed, for example).
    void invalidate(QWidget* window);
    void forget(QWidget* window);

    struct State;

private:
    explicit X11Stacking(std::unique_ptr<State> state);
    std::unique_ptr<State> d_;
};
