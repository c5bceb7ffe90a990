#include "x11_stacking.h"

#include <xcb/xcb.h>

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QWidget>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

template <typename T>
struct Reply {
    T* p = nullptr;
    explicit Reply(T* r) : p(r) {}
    ~Reply() { std::free(p); }
    Reply(const Reply&) = delete;
    Reply& operator=(const Reply&) = delete;
    T* operator->() const { return p; }
    explicit operator bool() const { return p != nullptr; }
};

xcb_atom_t intern(xcb_connection_t* c, const char* name)
{
    Reply r(xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr));
    return r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// A restack the window manager does not carry out (it keeps docks, or the
// windows of a higher layer, over ours) is asked for this often against the
// same windows, then left until they change.
constexpr int kRestackTries = 3;

struct Watched {
    xcb_window_t root = XCB_WINDOW_NONE;
    bool dirty = true;        // the stacking or our state may have changed since the last look
    bool stateAsked = false;  // "above" asked for, and our state has not changed since
    std::vector<xcb_window_t> lastOver;
    int tries = 0;
};

// Whether a window manager runs on a root, as far as we know.
struct RootWm {
    bool known = false;
    bool runs = false;
    xcb_window_t check = XCB_WINDOW_NONE;
};

} // namespace

struct X11Stacking::State : QAbstractNativeEventFilter {
    xcb_connection_t* c = nullptr;
    xcb_atom_t netWmState = XCB_ATOM_NONE;
    xcb_atom_t above = XCB_ATOM_NONE;
    xcb_atom_t stacking = XCB_ATOM_NONE;
    xcb_atom_t supportingCheck = XCB_ATOM_NONE;
    std::unordered_map<xcb_window_t, Watched> windows;
    std::unordered_map<xcb_window_t, RootWm> roots;   // their property changes are selected
    std::unordered_set<xcb_window_t> unmanagedRoots;  // their restacks are selected too

    void markAll()
    {
        for (auto& [id, w] : windows)
            w.dirty = true;
    }

    void forgetWindowManager(RootWm& r)
    {
        r.known = false;
        markAll();
    }

    // What tells us the stacking changed: the window manager's stacking list,
    // our own state, a window manager come or gone, and without a window
    // manager the root's children.
    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override
    {
        if (type != "xcb_generic_event_t")
            return false;
        auto* ev = static_cast<xcb_generic_event_t*>(message);
        switch (ev->response_type & 0x7F) {
        case XCB_PROPERTY_NOTIFY: {
            auto* p = reinterpret_cast<xcb_property_notify_event_t*>(ev);
            auto root = roots.find(p->window);
            if (root != roots.end() && p->atom == supportingCheck) {
                forgetWindowManager(root->second);
            } else if (root != roots.end() && p->atom == stacking) {
                markAll();
            } else if (p->atom == netWmState) {
                if (auto it = windows.find(p->window); it != windows.end()) {
                    it->second.dirty = true;
                    it->second.stateAsked = false;
                }
            }
            break;
        }
        case XCB_DESTROY_NOTIFY: {
            // A window manager that ended, even killed, takes its check window along.
            auto* d = reinterpret_cast<xcb_destroy_notify_event_t*>(ev);
            for (auto& [root, r] : roots)
                if (r.known && r.check == d->window)
                    forgetWindowManager(r);
            break;
        }
        case XCB_MAP_NOTIFY: {
            auto* m = reinterpret_cast<xcb_map_notify_event_t*>(ev);
            if (unmanagedRoots.contains(m->event) || windows.contains(m->window))
                markAll();
            break;
        }
        case XCB_CONFIGURE_NOTIFY: {
            // Our own restack reports itself here too; it must not ask for another.
            auto* e = reinterpret_cast<xcb_configure_notify_event_t*>(ev);
            if (unmanagedRoots.contains(e->event) && !windows.contains(e->window))
                markAll();
            break;
        }
        case XCB_CIRCULATE_NOTIFY: {
            auto* e = reinterpret_cast<xcb_circulate_notify_event_t*>(ev);
            if (unmanagedRoots.contains(e->event) && !windows.contains(e->window))
                markAll();
            break;
        }
        default: break;
        }
        return false;
    }

    // Adds event kinds to what this client already selects on a window; false
    // when there is no such window.
    bool select(xcb_window_t window, uint32_t mask)
    {
        Reply attrs(xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr));
        if (!attrs)
            return false;
        const uint32_t now = attrs->your_event_mask;
        if ((now & mask) != mask) {
            const uint32_t value = now | mask;
            // Checked, so a window gone meanwhile costs no error in Qt's log.
            xcb_discard_reply(c, xcb_change_window_attributes_checked(c, window, XCB_CW_EVENT_MASK, &value).sequence);
        }
        return true;
    }

    xcb_window_t windowProperty(xcb_window_t window, xcb_atom_t atom)
    {
        Reply r(xcb_get_property_reply(c, xcb_get_property(c, 0, window, atom, XCB_ATOM_WINDOW, 0, 1), nullptr));
        if (!r || r->type != XCB_ATOM_WINDOW || xcb_get_property_value_length(r.p) < int(sizeof(xcb_window_t)))
            return XCB_WINDOW_NONE;
        return *static_cast<const xcb_window_t*>(xcb_get_property_value(r.p));
    }

    // A window manager runs when the root names its check window and that
    // window names itself; a manager that ended leaves the root's property
    // behind, and nobody would answer our requests. Known until the property
    // changes or the check window goes.
    bool windowManagerRuns(xcb_window_t root)
    {
        RootWm& r = roots[root];
        if (r.known)
            return r.runs;
        r.known = true;
        r.check = windowProperty(root, supportingCheck);
        // Told of its destruction before it is read, so no end goes unseen.
        r.runs = r.check != XCB_WINDOW_NONE && select(r.check, XCB_EVENT_MASK_STRUCTURE_NOTIFY) &&
                 windowProperty(r.check, supportingCheck) == r.check;
        return r.runs;
    }

    Watched& watch(xcb_window_t id)
    {
        Watched& w = windows[id];
        if (w.root == XCB_WINDOW_NONE) {
            Reply tree(xcb_query_tree_reply(c, xcb_query_tree(c, id), nullptr));
            w.root = tree ? tree->root : xcb_window_t(XCB_WINDOW_NONE);
            if (w.root != XCB_WINDOW_NONE && roots.try_emplace(w.root).second)
                (void)select(w.root, XCB_EVENT_MASK_PROPERTY_CHANGE);
        }
        return w;
    }

    void askState(xcb_window_t id, xcb_window_t root, bool on)
    {
        xcb_client_message_event_t ev{};
        ev.response_type = XCB_CLIENT_MESSAGE;
        ev.format = 32;
        ev.window = id;
        ev.type = netWmState;
        ev.data.data32[0] = on ? 1 : 0;  // _NET_WM_STATE_ADD, _NET_WM_STATE_REMOVE
        ev.data.data32[1] = above;
        ev.data.data32[3] = 1;  // asked by an application
        xcb_send_event(c, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&ev));
    }

    void raise(xcb_window_t id)
    {
        // Without activation: the window manager restacks, the focus stays where it is.
        const uint32_t mode = XCB_STACK_MODE_ABOVE;
        xcb_configure_window(c, id, XCB_CONFIG_WINDOW_STACK_MODE, &mode);
    }

    void keepAbove(xcb_window_t id, bool restack)
    {
        Watched& w = watch(id);
        if (!w.dirty || w.root == XCB_WINDOW_NONE)
            return;
        Reply<xcb_get_property_reply_t> list(nullptr), state(nullptr);
        if (windowManagerRuns(w.root)) {
            // One round trip for both: the manager's stacking list, bottom to top, and our state.
            auto listCookie = xcb_get_property(c, 0, w.root, stacking, XCB_ATOM_WINDOW, 0, 16384);
            auto stateCookie = xcb_get_property(c, 0, id, netWmState, XCB_ATOM_ATOM, 0, 256);
            list.p = xcb_get_property_reply(c, listCookie, nullptr);
            state.p = xcb_get_property_reply(c, stateCookie, nullptr);
        }

        if (!list || list->type != XCB_ATOM_WINDOW) {
            // No window manager: the server's stacking is all there is, and any
            // other window mapped or restacked may now lie over ours.
            if (unmanagedRoots.insert(w.root).second)
                (void)select(w.root, XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY);
            if (restack)
                raise(id);
            w.dirty = false;
            xcb_flush(c);
            return;
        }
        unmanagedRoots.erase(w.root);
        const auto* ids = static_cast<const xcb_window_t*>(xcb_get_property_value(list.p));
        const int n = xcb_get_property_value_length(list.p) / int(sizeof(xcb_window_t));
        const auto* pos = std::find(ids, ids + n, id);
        if (pos == ids + n) {
            w.dirty = false;  // not managed yet; the list changes once it is
            return;
        }

        const auto* states = state && state->type == XCB_ATOM_ATOM
                                 ? static_cast<const xcb_atom_t*>(xcb_get_property_value(state.p))
                                 : nullptr;
        const int m = states ? xcb_get_property_value_length(state.p) / int(sizeof(xcb_atom_t)) : 0;
        if (std::find(states, states + m, above) == states + m && !w.stateAsked) {
            askState(id, w.root, true);
            w.stateAsked = true;
        }
        std::vector<xcb_window_t> over(pos + 1, ids + n);
        if (over.empty()) {
            w.lastOver.clear();
            w.tries = 0;
        } else if (restack) {
            if (over != w.lastOver) {
                w.lastOver = std::move(over);
                w.tries = 0;
            }
            if (w.tries < kRestackTries) {
                raise(id);
                ++w.tries;
            }
        }
        w.dirty = false;
        xcb_flush(c);
    }
};

std::unique_ptr<X11Stacking> X11Stacking::create()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection())
        return nullptr;
    auto s = std::make_unique<State>();
    s->c = x11->connection();
    s->netWmState = intern(s->c, "_NET_WM_STATE");
    s->above = intern(s->c, "_NET_WM_STATE_ABOVE");
    s->stacking = intern(s->c, "_NET_CLIENT_LIST_STACKING");
    s->supportingCheck = intern(s->c, "_NET_SUPPORTING_WM_CHECK");
    QCoreApplication::instance()->installNativeEventFilter(s.get());
    return std::unique_ptr<X11Stacking>(new X11Stacking(std::move(s)));
}

X11Stacking::X11Stacking(std::unique_ptr<State> state) : d_(std::move(state)) {}

X11Stacking::~X11Stacking()
{
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(d_.get());
}

void X11Stacking::keepAbove(QWidget* window, bool restack) { d_->keepAbove(xcb_window_t(window->winId()), restack); }

void X11Stacking::release(QWidget* window)
{
    const auto id = xcb_window_t(window->internalWinId());
    if (id == XCB_WINDOW_NONE)
        return;
    const Watched& w = d_->watch(id);
    if (w.root != XCB_WINDOW_NONE) {
        d_->askState(id, w.root, false);
        xcb_flush(d_->c);
    }
    d_->windows.erase(id);
}

void X11Stacking::invalidate(QWidget* window)
{
    if (auto it = d_->windows.find(xcb_window_t(window->internalWinId())); it != d_->windows.end())
        it->second.dirty = true;
}

void X11Stacking::forget(QWidget* window) { d_->windows.erase(xcb_window_t(window->internalWinId())); }
