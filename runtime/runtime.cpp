#include "runtime.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <utility>

#include "program.h"
#include "services.h"

namespace {

Runtime* g_runtime = nullptr;

constexpr int64_t kMinimumPeriod = 10;  // the smallest timer period the desktop grants

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Frame sizes of a classic fixed or sizable window, so that a definition's outer
// size leaves the client area its layout was drawn for.
void frameMetrics(const UnitDef& w, int& side, int& top)
{
    side = top = 0;
    if (w.borderStyle == 0)
        return;
    bool sizable = w.borderStyle == 1 || w.borderStyle == 3 || w.borderStyle == 5;
    side = sizable ? 4 : 3;
    if (w.borderStyle == 5 || w.borderStyle == 6)
        side += 2;
    top = side;
    if (!w.caption.empty() || w.controlBox)
        top += (w.borderStyle == 3 || w.borderStyle == 4) ? 15 : 19;
}

struct DepthGuard {
    int& d;
    explicit DepthGuard(int& depth) : d(depth) { ++d; }
    ~DepthGuard() { --d; }
};

} // namespace

bool mode7Accepts(char32_t ch)
{
    return ch < 32 || (ch >= U'0' && ch <= U'9') || ch == U'-';
}

Text normaliseMode7(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    // Saturates instead of wrapping: the value is clamped to 32 bits afterwards anyway.
    int64_t v = 0;
    const int64_t limit = std::numeric_limits<int64_t>::max() / 10;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        int d = text[i++] - '0';
        v = v > limit ? std::numeric_limits<int64_t>::max() : v * 10 + d;
        if (v < 0)
            v = std::numeric_limits<int64_t>::max();
    }
    if (negative)
        v = -v;
    v = std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
    return v == 0 ? Text() : std::to_string(v);
}

int WindowInstance::find(std::string_view name) const
{
    auto it = byName.find(name);
    return it == byName.end() ? -1 : it->second;
}

Runtime::Runtime(Platform& platform) : platform_(platform), windowThread_(std::this_thread::get_id())
{
    assert(!g_runtime);
    g_runtime = this;
}

Runtime::~Runtime()
{
    if (g_runtime == this)
        g_runtime = nullptr;
}

Runtime& Runtime::get()
{
    assert(g_runtime && "no runtime");
    return *g_runtime;
}

Runtime* Runtime::current() { return g_runtime; }

void Runtime::loadDefinitions(std::span<const EmbeddedFile> files, std::span<const HandlerEntry> handlers,
                              std::span<const EmbeddedFile> assets)
{
    assets_ = assets;
    LoadResult r = ::loadDefinitions(files, handlers, assets);
    if (!r.ok()) {
        for (const std::string& f : r.faults)
            std::fprintf(stderr, "%s\n", f.c_str());
        fatalError(0, "载入窗口模板数据段出错!");
    }
    definitions_ = std::move(r.windows);
    for (const HandlerEntry& h : handlers)
        handlers_[h.name] = &h;
}

const WindowDefinition* Runtime::definition(std::string_view id) const
{
    for (const WindowDefinition& d : definitions_)
        if (d.id == id)
            return &d;
    return nullptr;
}

std::vector<WindowInstance*> Runtime::windows()
{
    std::vector<WindowInstance*> out;
    for (auto& w : windows_)
        if (!w->destroyed)
            out.push_back(w.get());
    return out;
}

WindowInstance* Runtime::window(WindowId id)
{
    for (auto& w : windows_)
        if (!w->destroyed && w->def->id == id.name)
            return w.get();
    return nullptr;
}

bool Runtime::loadWindow(WindowId id, std::optional<WindowId> parentId, bool dialogMode)
{
    if (suppressed_)
        return false;
    WindowInstance* parent = nullptr;
    if (parentId) {
        parent = window(*parentId);
        if (!parent)
            return false;
    }
    const WindowDefinition* def = definition(id.name);
    if (!def)
        return false;

    auto inst = std::make_unique<WindowInstance>();
    WindowInstance& w = *inst;
    w.def = def;
    w.units.resize(def->units.size());
    for (size_t i = 0; i < def->units.size(); ++i) {
        const UnitDef& d = def->units[i];
        Unit& u = w.units[i];
        u.def = &d;
        u.text = d.caption;
        u.checked = d.checked;
        u.currentPage = d.currentPage;
        u.fileName = d.fileName;
        u.visible = d.type == UnitType::Timer || d.type == UnitType::CommonDlg ? false : d.visible;
        if (i > 0)
            w.byName.emplace(d.name, int(i));
        if (d.type == UnitType::Timer)
            w.timers.push_back(int(i));
    }
    const UnitDef& wd = def->units[0];
    int side, top;
    frameMetrics(wd, side, top);
    w.clientWidth = std::max(0, wd.rect.width - 2 * side);
    w.clientHeight = std::max(0, wd.rect.height - top - side);
    w.x = wd.rect.left;
    w.y = wd.rect.top;
    if (wd.startPosition == 1) {
        ScreenArea s = platform_.primaryScreen();
        w.x = s.left + (s.width - wd.rect.width) / 2;
        w.y = s.top + (s.height - wd.rect.height) / 2;
    }
    w.alwaysOnTop = wd.alwaysOnTop;
    if (dialogMode)
        w.owner = parent ? parent : handling_ && !handling_->destroyed ? handling_ : nullptr;
    windows_.push_back(std::move(inst));

    DepthGuard guard(depth_);
    if (!platform_.createWindow(w)) {
        w.destroyed = true;
        return false;
    }
    if (w.alwaysOnTop)
        platform_.setTopmost(w, true);
    for (int t : w.timers)
        if (def->units[size_t(t)].interval > 0)
            setInterval(w, t, def->units[size_t(t)].interval);

    std::vector<std::pair<WindowInstance*, bool>> saved;
    if (dialogMode)
        blockAll(saved, &w);
    dispatch(w, 0, Event::created);
    if (w.destroyed || suppressed_) {
        restore(saved);
        return true;
    }
    if (dialogMode) {
        // Opened while the program is being ended: it closes before it is seen.
        if (endRequested_) {
            closeWindow(w);
            restore(saved);
            return true;
        }
        if (parent && !parent->destroyed && parent->alwaysOnTop)
            platform_.setTopmost(w, true);
        platform_.showWindow(w);
        ModalFrame frame(modal_, &w);
        platform_.runModalLoop([&w] { return w.destroyed; });
        restore(saved);
        return true;
    }
    platform_.showWindow(w);
    return true;
}

void Runtime::loadStartWindow(WindowId id)
{
    if (!definition(id.name) || !loadWindow(id, std::nullopt, false))
        fatalError(0, "载入启动窗口失败");
}

void Runtime::runMessageLoop()
{
    loopStarted_ = true;
    if (windows().empty())
        return;
    platform_.runMessageLoop();
}

void Runtime::shutdownCleanup(bool runRoutine)
{
    if (cleanupDone_)
        return;
    cleanupDone_ = true;
    suppressed_ = true;
    platform_.scheduleWakeup(-1);
    for (auto& w : windows_) {
        if (w->destroyed)
            continue;
        for (int t : w->timers)
            w->units[size_t(t)].due = -1;
        platform_.destroyWindow(*w);
        w->destroyed = true;
    }
    void (*routine)() = cleanup_;
    cleanup_ = nullptr;
    if (runRoutine && routine)
        routine();
}

void Runtime::endProgram(int code)
{
    shutdownCleanup(true);
    platform_.exitProcess(code);
    std::abort();  // exitProcess does not return
}

void Runtime::fatalError(int64_t code, const Text& message)
{
    // No handler may run once the program is failing, not even while the box is open.
    suppressed_ = true;
    platform_.scheduleWakeup(-1);
    Text text = "运行时出错!\r\n\r\n";
    if (code != 0)
        text += "错误代码：" + std::to_string(code) + "\r\n\r\n";
    if (!message.empty())
        text += "错误信息：" + message + "\r\n";
    platform_.messageBox({text, MB_ICONHAND, "错误"});
    shutdownCleanup(false);
    platform_.exitProcess(-1);
    std::abort();
}

WindowInstance& Runtime::requireLoaded(WindowId id)
{
    WindowInstance* w = window(id);
    if (!w)
        fatalError(0, "未载入欲访问窗口组件所在的窗口");
    return *w;
}

int Runtime::requireUnit(WindowInstance& w, std::string_view name, Prop p)
{
    // A wrong name or property is a fault of the program itself, never of the user.
    int i = name.empty() ? 0 : w.find(name);
    if (i < 0)
        fatalError(0, "窗口组件不存在：" + Text(name));
    UnitType t = w.defOf(i).type;
    bool ok = false;
    switch (p) {
    case Prop::caption: ok = t == UnitType::Label; break;
    case Prop::content: ok = t == UnitType::EditBox; break;
    case Prop::checked: ok = t == UnitType::CheckBox; break;
    case Prop::interval: ok = t == UnitType::Timer; break;
    case Prop::currentPage: ok = t == UnitType::Tab; break;
    case Prop::fileName: ok = t == UnitType::CommonDlg; break;
    case Prop::visible: ok = true; break;
    case Prop::alwaysOnTop: ok = t == UnitType::window; break;
    }
    if (!ok)
        fatalError(0, "窗口组件不支持此属性：" + Text(name));
    return i;
}

Value Runtime::get(WindowId id, std::string_view unit, Prop p)
{
    WindowInstance& w = requireLoaded(id);
    const Unit& u = w.units[size_t(requireUnit(w, unit, p))];
    switch (p) {
    case Prop::caption:
    case Prop::content: return Value(u.text);
    case Prop::checked: return Value(u.checked);
    case Prop::interval: return Value(u.interval);
    case Prop::currentPage: return Value(int64_t{u.currentPage});
    case Prop::fileName: return Value(u.fileName);
    case Prop::visible: return Value(u.visible);
    case Prop::alwaysOnTop: return Value(w.alwaysOnTop);
    }
    return Value();
}

void Runtime::set(WindowId id, std::string_view unit, Prop p, const Value& v)
{
    WindowInstance& w = requireLoaded(id);
    int i = requireUnit(w, unit, p);
    Unit& u = w.units[size_t(i)];
    switch (p) {
    case Prop::caption:
    case Prop::content:
        u.text = ToText(v);
        u.caret = int(u.text.size());  // as a native edit box leaves it after a new text
        platform_.unitChanged(w, i, p);
        break;
    case Prop::checked:
        u.checked = v.boolean();
        platform_.unitChanged(w, i, p);
        break;
    case Prop::interval:
        setInterval(w, i, v.integer());
        break;
    case Prop::currentPage:
        selectPage(w, i, int(std::clamp<int64_t>(v.integer(), -1, INT32_MAX)));
        break;
    case Prop::fileName:
        u.fileName = ToText(v);
        break;
    case Prop::visible:
        if (u.def->type == UnitType::Timer || u.def->type == UnitType::CommonDlg)
            break;  // never visible at run time
        u.visible = v.boolean();
        platform_.unitChanged(w, i, p);
        break;
    case Prop::alwaysOnTop:
        w.alwaysOnTop = v.boolean();
        platform_.setTopmost(w, w.alwaysOnTop);
        break;
    }
}

void Runtime::setInterval(WindowInstance& w, int unit, int64_t v)
{
    Unit& u = w.units[size_t(unit)];
    if (v < 0)
        v = 0;
    if (v == u.interval)
        return;  // a running timer keeps its phase
    u.interval = v;
    if (v > 0) {
        // Far beyond any countdown, but the due time must not overflow.
        u.period = std::clamp(v, kMinimumPeriod, std::numeric_limits<int64_t>::max() / 4);
        u.due = platform_.nowMs() + u.period;
    } else {
        u.due = -1;
    }
    scheduleWakeup();
}

void Runtime::selectPage(WindowInstance& w, int tab, int page)
{
    Unit& t = w.units[size_t(tab)];
    if (page < 0 || page >= int(t.def->pages.size()))
        return;
    t.currentPage = page;
    platform_.unitChanged(w, tab, Prop::currentPage);
    for (int child : w.def->children[size_t(tab)])
        platform_.unitChanged(w, child, Prop::visible);
}

bool Runtime::setInputFocus(WindowId id, std::string_view unit)
{
    WindowInstance& w = requireLoaded(id);
    int i = requireUnit(w, unit, Prop::visible);
    return platform_.setFocus(w, i);
}

void Runtime::blockAll(std::vector<std::pair<WindowInstance*, bool>>& saved, WindowInstance* except)
{
    for (auto& w : windows_) {
        if (w->destroyed || w.get() == except)
            continue;
        saved.emplace_back(w.get(), w->blocked);
        if (!w->blocked) {
            w->blocked = true;
            platform_.setWindowBlocked(*w, true);
        }
    }
}

void Runtime::restore(const std::vector<std::pair<WindowInstance*, bool>>& saved)
{
    for (auto it = saved.rbegin(); it != saved.rend(); ++it) {
        WindowInstance* w = it->first;
        if (w->destroyed || w->blocked == it->second)
            continue;
        w->blocked = it->second;
        platform_.setWindowBlocked(*w, w->blocked);
    }
}

bool Runtime::showFileDialog(WindowId id, std::string_view unit)
{
    WindowInstance& w = requireLoaded(id);
    int i = requireUnit(w, unit, Prop::fileName);
    const UnitDef& d = w.defOf(i);
    FileDialogRequest r;
    r.title = d.title;
    r.filter = d.filter;
    if (r.filter.size() < 2 || r.filter.compare(r.filter.size() - 2, 2, "||") != 0)
        r.filter += "||";
    r.filterIndex = d.filterIndex;
    r.initialDir = d.initialDir;
    r.proposedName = w.units[size_t(i)].fileName;
    r.fileMustExist = d.fileMustExist;
    r.pathMustExist = d.pathMustExist;
    r.keepCurrentDir = d.keepCurrentDir;
    if (endRequested_)
        return false;
    std::vector<std::pair<WindowInstance*, bool>> saved;
    DepthGuard guard(depth_);
    blockAll(saved, nullptr);
    std::optional<Text> chosen;
    {
        ModalFrame frame(modal_, nullptr);
        chosen = platform_.openFileDialog(r);
    }
    restore(saved);
    if (!chosen)
        return false;
    // The unit may have gone with its window while the dialog was open.
    if (WindowInstance* again = window(id))
        again->units[size_t(i)].fileName = *chosen;
    return true;
}

int Runtime::messageBox(const Text& message, int style, const Text& title)
{
    // Ending: no further box is shown; it counts as closed.
    if (endRequested_)
        return 0;
    std::vector<std::pair<WindowInstance*, bool>> saved;
    DepthGuard guard(depth_);
    blockAll(saved, nullptr);
    MessageButton b;
    {
        ModalFrame frame(modal_, nullptr);
        b = platform_.messageBox({message, uint32_t(style), title});
    }
    restore(saved);
    switch (b) {
    case MessageButton::ok: return 0;
    case MessageButton::cancel: return 1;
    case MessageButton::abort: return 2;
    case MessageButton::retry: return 3;
    case MessageButton::ignore: return 4;
    case MessageButton::yes: return 5;
    case MessageButton::no: return 6;
    default: return 0;
    }
}

void Runtime::dispatch(WindowInstance& w, int unit, Event e, int x, int y, int keys)
{
    if (suppressed_)
        return;
    const Binding* b = w.defOf(unit).binding(e);
    if (!b)
        return;
    auto it = handlers_.find(b->handler);
    if (it == handlers_.end())
        return;
    DepthGuard guard(depth_);
    WindowInstance* outer = std::exchange(handling_, &w);
    struct Restore {
        WindowInstance*& slot;
        WindowInstance* value;
        ~Restore() { slot = value; }
    } restoreHandling{handling_, outer};
    ++handlersRunning_;
    if (it->second->kind == HandlerKind::mouse)
        it->second->mouse(x, y, keys);
    else
        it->second->plain();
    --handlersRunning_;
    if (endRequested_)
        continueEnd();
}

void Runtime::requestEnd()
{
    // Only the box of a fatal error can be open now; it ends as by its button.
    if (suppressed_) {
        platform_.dismissModal();
        return;
    }
    endRequested_ = true;
    continueEnd();
}

void Runtime::continueEnd()
{
    // A handler that is not waiting in a box or dialog finishes first; its
    // return comes back here.
    if (ending_ || suppressed_ || handlersRunning_ > int(modal_.size()))
        return;
    ending_ = true;
    if (modal_.empty()) {
        std::vector<WindowInstance*> open = windows();
        for (auto w = open.rbegin(); w != open.rend(); ++w)
            closeWindow(**w);
    } else if (modal_.back()) {
        closeWindow(*modal_.back());
    } else {
        platform_.dismissModal();
    }
    ending_ = false;
}

void Runtime::processEndingUnexpectedly()
{
    if (suppressed_)
        return;
    ending_ = true;  // the windows are beyond reach: none is closed
    for (WindowInstance* w : windows())
        dispatch(*w, 0, Event::aboutToBeDestroyed);
    suppressed_ = true;
}

void Runtime::closeWindow(WindowInstance& w)
{
    if (w.destroyed || suppressed_)
        return;
    dispatch(w, 0, Event::aboutToBeDestroyed);
    destroyWindow(w);
}

void Runtime::destroyWindow(WindowInstance& w)
{
    if (w.destroyed)
        return;
    for (int t : w.timers)
        w.units[size_t(t)].due = -1;
    w.destroyed = true;
    platform_.destroyWindow(w);
    scheduleWakeup();
    if (!suppressed_ && loopStarted_ && windows().empty())
        platform_.quitMessageLoop();
}

bool Runtime::handleNative(const NativeEvent& e)
{
    if (suppressed_ || !e.window || e.window->destroyed)
        return false;
    WindowInstance& w = *e.window;
    // An edit is input as well: text can arrive without a key (an assistive
    // tool, a drop); the backend puts back what the runtime holds.
    if (e.kind != NativeEvent::Kind::focusChanged && w.blocked)
        return false;
    if (e.unit >= int(w.units.size()) || e.to >= int(w.units.size()))
        return false;
    bool result = true;
    {
        DepthGuard guard(depth_);
        switch (e.kind) {
        case NativeEvent::Kind::typed: {
            const UnitDef& d = w.defOf(e.unit);
            result = d.type != UnitType::EditBox || d.inputMode != 7 || mode7Accepts(e.ch);
            break;
        }
        case NativeEvent::Kind::edited: {
            Unit& u = w.units[size_t(e.unit)];
            u.text = e.text;
            u.caret = std::clamp(e.caret, 0, int(u.text.size()));
            break;
        }
        case NativeEvent::Kind::focusChanged: {
            w.focus = e.to;
            if (e.unit > 0 && w.defOf(e.unit).type == UnitType::EditBox && w.defOf(e.unit).inputMode == 7) {
                Unit& u = w.units[size_t(e.unit)];
                Text n = normaliseMode7(u.text);
                if (n != u.text) {
                    u.text = n;
                    u.caret = std::min<int>(u.caret, int(u.text.size()));
                    platform_.unitChanged(w, e.unit, Prop::content);
                }
            }
            break;
        }
        case NativeEvent::Kind::clicked: {
            Unit& u = w.units[size_t(e.unit)];
            if (u.def->type == UnitType::CheckBox) {
                // An automatic check box: the mark toggles first, then the handler sees it.
                u.checked = !u.checked;
                platform_.unitChanged(w, e.unit, Prop::checked);
            } else if (u.def->type != UnitType::Button) {
                result = false;
                break;
            }
            dispatch(w, e.unit, Event::clicked);
            break;
        }
        case NativeEvent::Kind::pressed:
            dispatch(w, e.unit, Event::leftButtonDown, e.x, e.y, e.keys);
            break;
        case NativeEvent::Kind::pageSelected:
            if (w.defOf(e.unit).type == UnitType::Tab)
                selectPage(w, e.unit, e.page);
            break;
        case NativeEvent::Kind::escape:
            if (w.def->units[0].escapeCloses)
                closeWindow(w);
            else
                result = false;
            break;
        case NativeEvent::Kind::closeRequest:
            closeWindow(w);
            break;
        }
    }
    purgeDestroyed();
    return result;
}

int64_t Runtime::nextDue() const
{
    int64_t best = -1;
    for (const auto& w : windows_) {
        if (w->destroyed)
            continue;
        for (int t : w->timers) {
            int64_t due = w->units[size_t(t)].due;
            if (due >= 0 && (best < 0 || due < best))
                best = due;
        }
    }
    return best;
}

void Runtime::scheduleWakeup()
{
    if (suppressed_)
        return;
    // A tick asks before and after its handler; the platform is asked only once.
    int64_t due = nextDue();
    if (due == wakeupHeld_)
        return;
    wakeupHeld_ = due;
    platform_.scheduleWakeup(due);
}

void Runtime::onWakeup()
{
    wakeupHeld_ = kNoWakeupHeld;
    if (suppressed_)
        return;
    int64_t now = platform_.nowMs();
    struct Due {
        int64_t due;
        WindowInstance* w;
        int unit;
    };
    std::vector<Due> due;
    for (auto& w : windows_) {
        if (w->destroyed)
            continue;
        for (int t : w->timers)
            if (w->units[size_t(t)].due >= 0 && w->units[size_t(t)].due <= now)
                due.push_back({w->units[size_t(t)].due, w.get(), t});
    }
    std::stable_sort(due.begin(), due.end(), [](const Due& a, const Due& b) { return a.due < b.due; });
    {
        DepthGuard guard(depth_);
        for (const Due& d : due) {
            Unit& u = d.w->units[size_t(d.unit)];
            // A handler that ran before may have stopped or restarted this timer.
            if (d.w->destroyed || u.due != d.due)
                continue;
            // Missed periods are dropped: a late tick is delayed, never doubled.
            int64_t next = d.due + u.period;
            if (next <= now)
                next += ((now - next) / u.period + 1) * u.period;
            u.due = next;
            scheduleWakeup();
            dispatch(*d.w, d.unit, Event::tick);
            if (suppressed_)
                return;
        }
    }
    scheduleWakeup();
    purgeDestroyed();
}

void Runtime::purgeDestroyed()
{
    if (depth_ != 0)
        return;
    std::erase_if(windows_, [](const std::unique_ptr<WindowInstance>& w) { return w->destroyed; });
}

bool Runtime::shownLocally(const WindowInstance& w, int unit) const
{
    const Unit& u = w.units[size_t(unit)];
    if (!u.visible)
        return false;
    const UnitDef& d = *u.def;
    if (d.parent > 0 && w.defOf(d.parent).type == UnitType::Tab)
        return w.units[size_t(d.parent)].currentPage == d.page;
    return true;
}

bool Runtime::shown(const WindowInstance& w, int unit) const
{
    for (int i = unit; i > 0; i = w.defOf(i).parent)
        if (!shownLocally(w, i))
            return false;
    return true;
}

Rect Runtime::rectInWindow(const WindowInstance& w, int unit) const
{
    if (unit == 0)
        return {0, 0, w.clientWidth, w.clientHeight};
    Rect r = w.defOf(unit).rect;
    for (int p = w.defOf(unit).parent; p > 0; p = w.defOf(p).parent) {
        r.left += w.defOf(p).rect.left;
        r.top += w.defOf(p).rect.top;
    }
    return r;
}

int Runtime::unitAt(const WindowInstance& w, int x, int y) const
{
    int container = 0;
    for (;;) {
        int hit = -1;
        for (int child : w.def->children[size_t(container)]) {
            UnitType t = w.defOf(child).type;
            if (t == UnitType::Timer || t == UnitType::CommonDlg || !shownLocally(w, child))
                continue;
            Rect r = rectInWindow(w, child);
            if (x >= r.left && y >= r.top && x < r.left + r.width && y < r.top + r.height) {
                hit = child;  // the first listed lies on top
                break;
            }
        }
        if (hit < 0)
            return container;
        if (w.def->children[size_t(hit)].empty())
            return hit;
        container = hit;
    }
}

void ReportOutOfMemory(size_t bytes)
{
    // The report itself allocates; a second failure on the way ends at once.
    static std::atomic_flag reporting = ATOMIC_FLAG_INIT;
    if (reporting.test_and_set())
        std::_Exit(255);
    Runtime* r = Runtime::current();
    if (r && r->onWindowThread())
        r->fatalError(0, "分配 " + std::to_string(bytes) + " 字节内存失败!");
    // Another thread (the player's) cannot show a box; it ends the program plainly.
    static const char note[] = "out of memory\n";
    (void)!::write(2, note, sizeof note - 1);
    std::_Exit(255);
}

// The handlers' side of the runtime.

Value GetUnitProperty(WindowId window, std::string_view unit, Prop property) { return Runtime::get().get(window, unit, property); }

void SetUnitProperty(WindowId window, std::string_view unit, Prop property, const Value& value)
{
    Runtime::get().set(window, unit, property, value);
}

bool SetInputFocus(WindowId window, std::string_view unit) { return Runtime::get().setInputFocus(window, unit); }
bool ShowFileDialog(WindowId window, std::string_view unit) { return Runtime::get().showFileDialog(window, unit); }

bool LoadWindow(WindowId window, std::optional<WindowId> parent, bool dialogMode)
{
    return Runtime::get().loadWindow(window, parent, dialogMode);
}

void LoadStartWindow(WindowId window) { Runtime::get().loadStartWindow(window); }
void RunMessageLoop() { Runtime::get().runMessageLoop(); }
void RegisterCleanupRoutine(void (*routine)()) { Runtime::get().registerCleanup(routine); }
void EndProgram(int exitCode) { Runtime::get().endProgram(exitCode); }

int ShowMessageBox(const Value& message, int style, std::optional<Text> title)
{
    Text text = message.kind() == Value::Kind::unit ? Text() : ToText(message);
    if (!(style & MB_SYSTEMMODAL))
        style |= MB_TASKMODAL;
    return Runtime::get().messageBox(text, style, title ? *title : Text("信息："));
}

void PlayBeep() { Runtime::get().platform().beep(); }

void ExecuteFile(std::optional<int> operation, const Text& file, std::optional<Text> parameters,
                 std::optional<Text> directory, std::optional<int> show)
{
    using Verb = ShellRequest::Verb;
    using Show = ShellRequest::Show;
    ShellRequest r;
    switch (operation.value_or(0)) {
    case 1: r.verb = Verb::edit; break;
    case 2: r.verb = Verb::explore; break;
    case 3: r.verb = Verb::find; break;
    case 4: r.verb = Verb::open; break;
    case 5: r.verb = Verb::print; break;
    default: r.verb = Verb::none; break;
    }
    r.file = file;
    r.parameters = std::move(parameters);
    r.directory = directory.value_or(Text());
    switch (show.value_or(2)) {
    case 1: r.show = Show::hide; break;
    case 3: r.show = Show::minimized; break;
    case 4: r.show = Show::maximized; break;
    case 5: r.show = Show::noActivate; break;
    case 6: r.show = Show::minimize; break;
    default: r.show = Show::normal; break;
    }
    Runtime::get().platform().shellExecute(r);
}

bool ShutdownSystem(int mode, std::optional<bool> force)
{
    if (mode < 1 || mode > 5)
        return false;
    Platform& p = Runtime::get().platform();
    auto action = static_cast<PowerAction>(mode);
    // The privilege step: without it not even the log-off is tried.
    if (!p.powerPermitted(action))
        return false;
    return p.powerAction(action, force.value_or(false));
}

namespace {

RegistryRoot registryRoot(int root)
{
    return root >= 1 && root <= 5 ? static_cast<RegistryRoot>(root) : RegistryRoot::currentUser;
}

// The Windows calls take zero-terminated strings: a text counts up to its first zero byte.
Text asPassed(const Text& t) { return Text(t.c_str()); }

// Key and value name: split at the last backslash that is a character of its
// own, so that the trail byte of a double-byte character never splits it.
std::pair<Text, Text> splitRegistryPath(const Text& path)
{
    size_t last = Text::npos;
    for (size_t i = 0; i < path.size(); ++i) {
        if (isLeadByte(static_cast<unsigned char>(path[i])))
            ++i;
        else if (path[i] == '\\')
            last = i;
    }
    if (last == Text::npos)
        return {Text(), path};
    return {path.substr(0, last), path.substr(last + 1)};
}

} // namespace

bool WriteRegistryValue(int root, const Text& path, const Value& value)
{
    auto [key, name] = splitRegistryPath(asPassed(path));
    std::optional<RegistryValue> data;
    switch (value.kind()) {
    case Value::Kind::integer:
    case Value::Kind::number: {
        // A DWORD: the low 32 bits, little-endian as on the machines the data came from.
        const int64_t n = value.kind() == Value::Kind::integer ? value.integer()
                                                               : TruncateToInt64(std::get<double>(value.raw()));
        const auto u = static_cast<uint32_t>(n);
        const char bytes[4] = {char(u & 0xFF), char((u >> 8) & 0xFF), char((u >> 16) & 0xFF), char(u >> 24)};
        data = RegistryValue{RegistryValue::Type::dword, std::string(bytes, 4)};
        break;
    }
    case Value::Kind::text: {
        Text t = asPassed(value.text());
        t.push_back('\0');
        data = RegistryValue{RegistryValue::Type::sz, std::move(t)};
        break;
    }
    case Value::Kind::bytes:
        data = RegistryValue{RegistryValue::Type::binary, std::string(std::get<ByteSet>(value.raw()).bytes)};
        break;
    default: break;  // the key is still opened or created
    }
    return Runtime::get().platform().registrySetValue(registryRoot(root), key, name, data);
}

bool DeleteRegistryValue(int root, const Text& path)
{
    Platform& p = Runtime::get().platform();
    const Text whole = asPassed(path);
    auto [key, name] = splitRegistryPath(whole);
    if (p.registryDeleteValue(registryRoot(root), key, name))
        return true;
    return p.registryDeleteKey(registryRoot(root), whole);
}

bool RegistryValueExists(int root, const Text& path)
{
    auto [key, name] = splitRegistryPath(asPassed(path));
    return Runtime::get().platform().registryValueExists(registryRoot(root), key, name);
}
