#include "headless.h"

#include <cstdio>
#include <utility>

namespace {

bool takesFocus(UnitType t) { return t == UnitType::EditBox || t == UnitType::Button || t == UnitType::CheckBox; }

// Splits typed keys into characters: ASCII bytes, or GB18030 double-byte characters.
std::vector<std::string> characters(std::string_view s)
{
    std::vector<std::string> out;
    for (size_t i = 0; i < s.size();) {
        size_t n = isLeadByte(static_cast<unsigned char>(s[i])) && i + 1 < s.size() ? 2 : 1;
        if (n == 2 && i + 3 < s.size() && s[i + 1] >= 0x30 && s[i + 1] <= 0x39)
            n = 4;
        out.emplace_back(s.substr(i, n));
        i += n;
    }
    return out;
}

char32_t codePoint(const std::string& ch)
{
    if (ch.size() == 1)
        return static_cast<unsigned char>(ch[0]);
    std::string u = toUtf8(ch);
    // Decode the first UTF-8 sequence; only the range matters to the filter.
    unsigned char c = static_cast<unsigned char>(u[0]);
    char32_t cp = c & (c >= 0xF0 ? 0x07 : c >= 0xE0 ? 0x0F : 0x1F);
    for (size_t i = 1; i < u.size(); ++i)
        cp = (cp << 6) | (static_cast<unsigned char>(u[i]) & 0x3F);
    return cp;
}

} // namespace

HeadlessPlatform::HeadlessPlatform() = default;

bool HeadlessPlatform::createWindow(WindowInstance& w)
{
    record("createWindow " + w.def->id + (w.owner ? " owner " + w.owner->def->id : ""));
    return !failCreateWindow;
}

void HeadlessPlatform::showWindow(WindowInstance& w) { record("showWindow " + w.def->id); }

void HeadlessPlatform::destroyWindow(WindowInstance& w) { record("destroyWindow " + w.def->id); }

void HeadlessPlatform::unitChanged(WindowInstance& w, int unit, Prop p)
{
    // A unit that disappears, or whose container does, loses the focus, as on a desktop.
    if (p == Prop::visible && w.focus > 0 && !Runtime::get().shown(w, w.focus))
        moveFocus(w, -1);
}

void HeadlessPlatform::setWindowBlocked(WindowInstance& w, bool blocked)
{
    record(std::string(blocked ? "block " : "unblock ") + w.def->id);
}

void HeadlessPlatform::setTopmost(WindowInstance& w, bool on)
{
    ++topmostCalls;
    if (topmostCalls <= 3 || !on)
        record(std::string("setTopmost ") + w.def->id + (on ? " on" : " off"));
}

bool HeadlessPlatform::setFocus(WindowInstance& w, int unit)
{
    record("setFocus " + toUtf8(w.defOf(unit).name));
    return moveFocus(w, unit);
}

bool HeadlessPlatform::moveFocus(WindowInstance& w, int to)
{
    if (w.focus == to)
        return true;
    NativeEvent e(NativeEvent::Kind::focusChanged);
    e.window = &w;
    e.unit = w.focus;
    e.to = to;
    return Runtime::get().handleNative(e);
}

void HeadlessPlatform::runMessageLoop()
{
    record("runMessageLoop");
    quit_ = false;
    while (!quit_ && !loopScript.empty()) {
        auto step = std::move(loopScript.front());
        loopScript.pop_front();
        step();
    }
}

void HeadlessPlatform::quitMessageLoop()
{
    record("quitMessageLoop");
    quit_ = true;
    quitPosted = true;
}

void HeadlessPlatform::runModalLoop(const std::function<bool()>& done)
{
    record("runModalLoop");
    while (!done()) {
        if (modalScript.empty()) {
            // Nothing scripted would keep a real user waiting forever; close it as a user would.
            std::fprintf(stderr, "headless: modal loop without a script; closing the window\n");
            for (WindowInstance* w : Runtime::get().windows())
                if (!w->blocked) {
                    Runtime::get().closeWindow(*w);
                    break;
                }
            if (!done())
                return;
            continue;
        }
        auto step = std::move(modalScript.front());
        modalScript.pop_front();
        step();
    }
}

MessageButton HeadlessPlatform::messageBox(const MessageBoxRequest& request)
{
    record("messageBox " + toUtf8(request.message));
    messageBoxes.push_back(request);
    if (messageBoxScript.empty())
        return MessageButton::ok;
    auto answer = std::move(messageBoxScript.front());
    messageBoxScript.pop_front();
    bool outer = std::exchange(dismissed_, false);
    MessageButton b = answer(request);
    if (std::exchange(dismissed_, outer))
        return MessageButton::none;
    return b;
}

void HeadlessPlatform::shellExecute(const ShellRequest& request)
{
    record("shellExecute " + toUtf8(request.file));
    shellRequests.push_back(request);
}

bool HeadlessPlatform::powerPermitted(PowerAction action)
{
    record("powerPermitted " + std::to_string(int(action)));
    powerQueries.push_back(action);
    return powerPermission;
}

bool HeadlessPlatform::powerAction(PowerAction action, bool force)
{
    record("powerAction " + std::to_string(int(action)) + (force ? " force" : ""));
    powerCalls.push_back({action, force});
    return powerAccepted;
}

std::string HeadlessPlatform::registryPath(RegistryRoot root, const Text& key, const Text& name)
{
    return std::to_string(int(root)) + "\\" + key + "\\" + name;
}

bool HeadlessPlatform::registrySetValue(RegistryRoot root, const Text& key, const Text& name,
                                        const std::optional<RegistryValue>& value)
{
    record("registrySetValue " + toUtf8(registryPath(root, key, name)));
    if (!registryWritable || !value)
        return false;
    registry[registryPath(root, key, name)] = *value;
    return true;
}

bool HeadlessPlatform::registryDeleteValue(RegistryRoot root, const Text& key, const Text& name)
{
    record("registryDeleteValue " + toUtf8(registryPath(root, key, name)));
    return registryWritable && registry.erase(registryPath(root, key, name)) > 0;
}

bool HeadlessPlatform::registryDeleteKey(RegistryRoot root, const Text& key)
{
    record("registryDeleteKey " + std::to_string(int(root)) + "\\" + toUtf8(key));
    // Only a key without subkeys goes, with its values.
    const std::string prefix = std::to_string(int(root)) + "\\" + key + "\\";
    if (!registryWritable)
        return false;
    bool found = false;
    for (auto it = registry.lower_bound(prefix); it != registry.end() && it->first.starts_with(prefix); ++it) {
        if (it->first.find('\\', prefix.size()) != std::string::npos)
            return false;
        found = true;
    }
    std::erase_if(registry, [&](const auto& v) { return v.first.starts_with(prefix); });
    return found;
}

bool HeadlessPlatform::registryValueExists(RegistryRoot root, const Text& key, const Text& name)
{
    record("registryValueExists " + toUtf8(registryPath(root, key, name)));
    return registry.contains(registryPath(root, key, name));
}

std::optional<Text> HeadlessPlatform::openFileDialog(const FileDialogRequest& request)
{
    record("openFileDialog " + toUtf8(request.title));
    fileDialogs.push_back(request);
    if (fileDialogScript.empty())
        return std::nullopt;
    auto answer = std::move(fileDialogScript.front());
    fileDialogScript.pop_front();
    bool outer = std::exchange(dismissed_, false);
    std::optional<Text> chosen = answer(request);
    if (std::exchange(dismissed_, outer))
        return std::nullopt;
    return chosen;
}

void HeadlessPlatform::dismissModal()
{
    record("dismissModal");
    dismissed_ = true;
}

void HeadlessPlatform::exitProcess(int code)
{
    record("exitProcess " + std::to_string(code));
    throw ProcessExit{code};
}

void HeadlessPlatform::advance(int64_t ms)
{
    int64_t target = now_ + ms;
    while (wakeup_ >= 0 && wakeup_ <= target) {
        now_ = std::max(now_, wakeup_);
        wakeup_ = -1;
        Runtime::get().onWakeup();
    }
    // A nested advance (inside a modal script) may already have gone further.
    now_ = std::max(now_, target);
}

int HeadlessPlatform::unitIndex(WindowInstance& w, std::string_view unit)
{
    return unit.empty() ? 0 : w.find(unit);
}

bool HeadlessPlatform::shown(WindowId id, std::string_view unit)
{
    WindowInstance* w = window(id);
    if (!w)
        return false;
    int i = unitIndex(*w, unit);
    return i >= 0 && Runtime::get().shown(*w, i);
}

int HeadlessPlatform::focusedUnit(WindowId id)
{
    WindowInstance* w = window(id);
    return w ? w->focus : -1;
}

bool HeadlessPlatform::focus(WindowId id, std::string_view unit)
{
    WindowInstance* w = window(id);
    if (!w || w->blocked)
        return false;
    int i = unitIndex(*w, unit);
    if (i <= 0 || !takesFocus(w->defOf(i).type) || !Runtime::get().shown(*w, i))
        return false;
    return moveFocus(*w, i);
}

bool HeadlessPlatform::click(WindowId id, std::string_view unit)
{
    WindowInstance* w = window(id);
    if (!w || w->blocked)
        return false;
    int i = unitIndex(*w, unit);
    if (i <= 0 || !Runtime::get().shown(*w, i))
        return false;
    record("click " + toUtf8(unit));
    // A mouse press moves the focus to the button before it raises clicked.
    if (takesFocus(w->defOf(i).type))
        moveFocus(*w, i);
    if (!window(id) || w->blocked)
        return false;
    NativeEvent e(NativeEvent::Kind::clicked);
    e.window = w;
    e.unit = i;
    return Runtime::get().handleNative(e);
}

bool HeadlessPlatform::pressSpace(WindowId id, std::string_view unit)
{
    WindowInstance* w = window(id);
    if (!w || w->blocked)
        return false;
    int i = unitIndex(*w, unit);
    if (i <= 0 || w->focus != i)
        return false;
    NativeEvent e(NativeEvent::Kind::clicked);
    e.window = w;
    e.unit = i;
    return Runtime::get().handleNative(e);
}

bool HeadlessPlatform::insert(WindowInstance& w, int unit, std::string_view text, bool filtered)
{
    Unit& u = w.units[size_t(unit)];
    for (const std::string& ch : characters(text)) {
        if (filtered) {
            NativeEvent t(NativeEvent::Kind::typed);
            t.window = &w;
            t.unit = unit;
            t.ch = codePoint(ch);
            if (!Runtime::get().handleNative(t))
                continue;
            if (t.ch < 32)
                continue;  // control keys edit nothing here
        }
        NativeEvent e(NativeEvent::Kind::edited);
        e.window = &w;
        e.unit = unit;
        size_t at = size_t(std::clamp(u.caret, 0, int(u.text.size())));
        e.text = u.text.substr(0, at) + (filtered ? ch : Text(text)) + u.text.substr(at);
        e.caret = int(at + (filtered ? ch.size() : text.size()));
        Runtime::get().handleNative(e);
        if (!filtered)
            break;
    }
    return true;
}

bool HeadlessPlatform::type(WindowId id, std::string_view unit, std::string_view keys)
{
    if (!focus(id, unit))
        return false;
    WindowInstance* w = window(id);
    return insert(*w, unitIndex(*w, unit), keys, true);
}

bool HeadlessPlatform::paste(WindowId id, std::string_view unit, std::string_view text)
{
    if (!focus(id, unit))
        return false;
    WindowInstance* w = window(id);
    return insert(*w, unitIndex(*w, unit), text, false);
}

bool HeadlessPlatform::press(WindowId id, std::string_view unit, int x, int y, int keys)
{
    WindowInstance* w = window(id);
    if (!w)
        return false;
    int i = unitIndex(*w, unit);
    if (i < 0)
        return false;
    Rect r = Runtime::get().rectInWindow(*w, i);
    return pressAt(id, r.left + x, r.top + y, keys);
}

bool HeadlessPlatform::pressAt(WindowId id, int x, int y, int keys)
{
    WindowInstance* w = window(id);
    if (!w || w->blocked)
        return false;
    int hit = Runtime::get().unitAt(*w, x, y);
    Rect r = Runtime::get().rectInWindow(*w, hit);
    record("press " + toUtf8(w->defOf(hit).name));
    NativeEvent e(NativeEvent::Kind::pressed);
    e.window = w;
    e.unit = hit;
    e.x = x - r.left;
    e.y = y - r.top;
    e.keys = keys;
    return Runtime::get().handleNative(e);
}

bool HeadlessPlatform::selectPage(WindowId id, std::string_view tab, int page)
{
    WindowInstance* w = window(id);
    if (!w || w->blocked)
        return false;
    NativeEvent e(NativeEvent::Kind::pageSelected);
    e.window = w;
    e.unit = unitIndex(*w, tab);
    e.page = page;
    return e.unit > 0 && Runtime::get().handleNative(e);
}

bool HeadlessPlatform::windowEvent(WindowId id, NativeEvent::Kind kind)
{
    WindowInstance* w = window(id);
    if (!w)
        return false;
    NativeEvent e(kind);
    e.window = w;
    return Runtime::get().handleNative(e);
}

bool HeadlessPlatform::escape(WindowId id) { return windowEvent(id, NativeEvent::Kind::escape); }
bool HeadlessPlatform::close(WindowId id) { return windowEvent(id, NativeEvent::Kind::closeRequest); }
