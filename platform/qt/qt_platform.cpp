// The application side of the Qt backend: the QApplication with its display,
// style, palette and fonts, the clock and the one wake-up (a timerfd on the monotonic clock), the loops, focus tracking,
// Escape and blocked windows (one application event filter), always-on-top,
// message boxes and the open-file dialog, each owned by the window it blocks.
#include "qt_platform.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPalette>
#include <QPointer>
#include <QScreen>
#include <QSocketNotifier>
#include <QStyleHints>
#include <QTimer>
#include <QTranslator>
#include <QTreeView>
#include <QWindow>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <vector>

#include "qt_units.h"
#include "shell.h"
#include "window_states.h"
#include "x11_stacking.h"

namespace {

NativeWindow* nativeOf(WindowInstance& w) { return static_cast<NativeWindow*>(w.native); }

// Whether Qt is told a style on the command line or in the environment.
bool styleGiven(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "-style") == 0 || std::strcmp(a, "--style") == 0 || std::strncmp(a, "-style=", 7) == 0 ||
            std::strncmp(a, "--style=", 8) == 0)
            return true;
    }
    return !qEnvironmentVariableIsEmpty("QT_STYLE_OVERRIDE");
}

// Whether the user chose Qt's platform plugin, on the command line or in the environment.
bool platformGiven(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return true;
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

// In a Wayland session Qt would take its Wayland plugin, where the windows
// lose what the window manager gives them on X11: centring, the frame's
// boxes, always on top, a box kept over the window it blocks. So the X
// display beside it (Xwayland) is used whenever it can be opened.
bool preferX11()
{
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && qgetenv("XDG_SESSION_TYPE") != "wayland")
        return false;  // Qt takes X11 by itself
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return false;
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    const bool opens = xcb_connection_has_error(c) == 0;
    xcb_disconnect(c);
    return opens;
}

bool isUserInput(QEvent::Type t)
{
    switch (t) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::InputMethod:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::TabletMove:
    // A drop from another program is input too; refused at the window, the
    // drag source shows that nothing would be taken.
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop: return true;
    default: return false;
    }
}

bool anyTopmost()
{
    for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* win = dynamic_cast<NativeWindow*>(top); win && win->instance && win->topmost)
            return true;
    return false;
}

// "desc|pattern|desc|pattern||" to Qt name filters "desc (pattern pattern)".
// Split after decoding: a GB18030 trail byte may be the byte of "|".
QStringList nameFilters(const Text& filter)
{
    QStringList parts = qstr(filter).split(QLatin1Char('|'));
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty() && parts[i + 1].isEmpty())
            break;  // the closing "||"
        QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        // "*.*" means every file where these filters come from; to Qt it
        // means names with a dot, which would hide most programs and scripts.
        for (QString& p : patterns) {
            p = p.trimmed();
            if (p == QLatin1String("*.*"))
                p = QStringLiteral("*");
        }
        out << parts[i] + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return out;
}

// A box or dialog that is transient for the window it blocks, so that no
// window manager puts that window over it. It stays where Qt places a dialog
// without an owner, in the middle of the screen, as the programs' boxes do:
// the owner is told once Qt has placed it, and the place is told as the
// program's own, or window managers would centre it over the owner.
template <class Dialog>
class OwnedDialog : public Dialog {
public:
    explicit OwnedDialog(QWidget* owner) : owner_(owner) {}

protected:
    void showEvent(QShowEvent* e) override
    {
        Dialog::showEvent(e);  // places it
        // Before the native window maps, which is when X11 reads both.
        if (owner_ && owner_->windowHandle() && this->windowHandle()) {
            this->windowHandle()->setTransientParent(owner_->windowHandle());
            this->move(this->pos());
        }
    }

private:
    QPointer<QWidget> owner_;
};

// Qt lists and checks only names that are UTF-8. A file whose name is in the
// Windows code page stays hidden, but its name typed in full is found here.
class OpenFileDialog : public OwnedDialog<QFileDialog> {
public:
    using OwnedDialog::OwnedDialog;
    void accept() override
    {
        const QStringList files = selectedFiles();
        if (fileMode() == QFileDialog::ExistingFile && files.size() == 1 && !QFileInfo::exists(files[0])) {
            struct stat st;
            if (::stat(toFileName(fromQString(files[0])).c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
                QDialog::accept();
                return;
            }
        }
        QFileDialog::accept();
    }
};

// The colours Qt gives windows on a desktop without a colour scheme: black on
// light grey, white edit boxes, as the programs' classic controls are drawn.
// Every role of every group is set, so that a desktop's scheme, which Qt
// resolves the application palette against again at each theme change,
// finds no role left to fill.
QPalette classicPalette()
{
    static constexpr QRgb normal[] = {
        0xff000000, 0xffefefef, 0xffffffff, 0xffcacaca, 0xff9f9f9f, 0xffb8b8b8, 0xff000000,
        0xffffffff, 0xff000000, 0xffffffff, 0xffefefef, 0xff767676, 0xff308cc6, 0xffffffff,
        0xff0000ff, 0xffff00ff, 0xfff7f7f7, 0xff000000, 0xffffffdc, 0xff000000, 0x80000000,
    };
    static constexpr QRgb disabled[] = {
        0xffbebebe, 0xffefefef, 0xffffffff, 0xffcacaca, 0xffbebebe, 0xffb8b8b8, 0xffbebebe,
        0xffffffff, 0xffbebebe, 0xffefefef, 0xffefefef, 0xffb1b1b1, 0xff919191, 0xffffffff,
        0xff0000ff, 0xffff00ff, 0xfff7f7f7, 0xff000000, 0xffffffdc, 0xff000000, 0x80000000,
    };
    static_assert(std::size(normal) == QPalette::NColorRoles && std::size(disabled) == QPalette::NColorRoles);
    QPalette p;
    for (int r = 0; r < QPalette::NColorRoles; ++r) {
        const auto role = QPalette::ColorRole(r);
        p.setColor(QPalette::Active, role, QColor::fromRgba(normal[r]));
        p.setColor(QPalette::Inactive, role, QColor::fromRgba(normal[r]));
        p.setColor(QPalette::Disabled, role, QColor::fromRgba(disabled[r]));
    }
    return p;
}

timespec monotonicNow()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts;
}

} // namespace

struct QtPlatform::State : QObject {
    int argc = 0;  // Qt's command line, which it keeps for the application's life
    std::vector<char*> args;
    std::unique_ptr<QApplication> app;
    timespec epoch{};  // time 0 of nowMs
    // The event loop's poll() may wake late by 0.1 % of its timeout (up to
    // 100 ms); a timerfd armed on an absolute monotonic deadline is a
    // high-resolution timer the loop only has to watch, so a tick is exact
    // at any delay.
    int timerFd = -1;
    std::unique_ptr<QSocketNotifier> timerNotifier;
    std::unique_ptr<QTimer> wakeup;  // only where no timerfd can be had
    int64_t wakeupDue = -1;
    int blockedWindows = 0;
    QPointer<QWidget> lastActive;  // the window of ours the user worked in last

    // The window a box or dialog opened now blocks: the active one of ours, or,
    // when the user works in another program, the one of ours used last.
    QWidget* blockedWindow() const
    {
        if (QWidget* active = QApplication::activeWindow())
            return active;
        if (lastActive && lastActive->isVisible())
            return lastActive;
        for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* win = dynamic_cast<NativeWindow*>(top); win && win->instance && win->isVisible())
                return win;
        return nullptr;
    }
    bool canRaise = true;
    std::unique_ptr<QTranslator> translator;
    PowerService power;
    std::unique_ptr<X11Stacking> x11;  // always-on-top through the window manager, on X11

    // Desktops let the caret rest, shown, after a while without input (GTK's
    // cursor-blink-timeout, 10 s by default): a blinking caret in a focused
    // edit box would wake the program twice a second for ever.
    QTimer caretRest;
    int flashTime = 0;  // the desktop's, while the caret rests
    bool caretResting = false;

    void noteInput()
    {
        if (caretResting) {
            caretResting = false;
            QGuiApplication::styleHints()->setCursorFlashTime(flashTime);
        }
        caretRest.start();
    }

    void restCaret()
    {
        flashTime = QGuiApplication::styleHints()->cursorFlashTime();
        caretResting = true;
        // Every blinking edit box stops its timer and shows its caret.
        QGuiApplication::styleHints()->setCursorFlashTime(0);
    }

    int64_t nowMs() const
    {
        const timespec t = monotonicNow();
        return int64_t(t.tv_sec - epoch.tv_sec) * 1000 + (t.tv_nsec - epoch.tv_nsec) / 1'000'000;
    }

    void armWakeup(int64_t now)
    {
        if (timerFd >= 0) {
            // All zero disarms; a due time never is, as the epoch lies after boot.
            itimerspec spec{};
            if (wakeupDue >= 0) {
                spec.it_value.tv_sec = epoch.tv_sec + wakeupDue / 1000;
                spec.it_value.tv_nsec = epoch.tv_nsec + (wakeupDue % 1000) * 1'000'000;
                if (spec.it_value.tv_nsec >= 1'000'000'000) {
                    spec.it_value.tv_sec += 1;
                    spec.it_value.tv_nsec -= 1'000'000'000;
                }
            }
            (void)timerfd_settime(timerFd, TFD_TIMER_ABSTIME, &spec, nullptr);  // cannot fail on valid times
            return;
        }
        // Waits beyond what a QTimer holds are cut and re-armed when they end.
        if (wakeupDue < 0) {
            wakeup->stop();
            return;
        }
        int64_t wait = std::clamp<int64_t>(wakeupDue - now, 0, INT_MAX);
        wakeup->start(int(wait));
    }

    void onWakeupTimer()
    {
        if (timerFd >= 0) {
            uint64_t expirations = 0;
            (void)!::read(timerFd, &expirations, sizeof expirations);  // EAGAIN when re-armed meanwhile
        }
        if (wakeupDue < 0)
            return;
        int64_t now = nowMs();
        if (now < wakeupDue) {
            armWakeup(now);
            return;
        }
        if (Runtime* rt = Runtime::current())
            rt->onWakeup();
    }

    static void onFocusChanged(QWidget* old, QWidget* now)
    {
        UnitAddress from = unitOf(old);
        UnitAddress to = unitOf(now);
        if (from.window && from.window == to.window) {
            NativeEvent e(NativeEvent::Kind::focusChanged);
            e.window = from.window;
            e.unit = from.unit;
            e.to = to.unit;
            report(e);
            return;
        }
        if (from.window) {
            NativeEvent e(NativeEvent::Kind::focusChanged);
            e.window = from.window;
            e.unit = from.unit;
            e.to = -1;
            report(e);
        }
        if (to.window) {
            NativeEvent e(NativeEvent::Kind::focusChanged);
            e.window = to.window;
            e.unit = -1;
            e.to = to.unit;
            report(e);
        }
    }

    // Every event of the application passes here, so the common case leaves at once.
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        switch (e->type()) {
        case QEvent::KeyPress:
        case QEvent::MouseButtonPress:
        case QEvent::InputMethod: noteInput(); break;
        default: break;
        }
        bool escape = e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->key() == Qt::Key_Escape;
        if (!escape && (blockedWindows == 0 || !isUserInput(e->type())))
            return false;
        NativeWindow* win = nativeWindowOf(watched);
        if (!win || !win->instance)
            return false;
        // A blocked window refuses input as a disabled one does, without being greyed.
        // Native windows are filtered too, so a press never moves the focus there.
        if (win->blocked && isUserInput(e->type()))
            return true;
        // Key events reach the native window first, then the focus widget: report once.
        if (escape && watched->isWidgetType()) {
            NativeEvent ev(NativeEvent::Kind::escape);
            ev.window = win->instance;
            report(ev);
            return true;
        }
        return false;
    }
};

QtPlatform::QtPlatform(int& argc, char** argv) : d_(std::make_unique<State>())
{
    bool keepStyle = styleGiven(argc, argv);
    // Told on Qt's command line, not in the environment, which the programs a
    // launch starts inherit.
    static char platformOption[] = "-platform", x11[] = "xcb";
    d_->args.assign(argv, argv + argc);
    if (!platformGiven(argc, argv) && preferX11())
        d_->args.insert(d_->args.begin() + std::min(argc, 1), {platformOption, x11});
    d_->argc = int(d_->args.size());
    d_->args.push_back(nullptr);
    d_->app = std::make_unique<QApplication>(d_->argc, d_->args.data());
    if (!keepStyle)
        QApplication::setStyle(QStringLiteral("Windows"));
    // Whatever the style, the stored colours (black captions, violet links on
    // the face colour) are drawn for this palette; the desktop's never applies.
    QApplication::setPalette(classicPalette());
    // Units without a stored font use the Windows default GUI font: a 12 px Song face.
    QApplication::setFont(songFont(12));
    loadTranslations(QLocale());
    // The runtime ends the loop when its last window is gone.
    QApplication::setQuitOnLastWindowClosed(false);
    watchEndSignals();
    installAccessibility();
    // Platforms without a window stack warn at every raise, 100 times a second.
    const QString platform = QGuiApplication::platformName();
    d_->canRaise = platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
    d_->x11 = X11Stacking::create();

    d_->epoch = monotonicNow();
    d_->timerFd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (d_->timerFd >= 0) {
        d_->timerNotifier = std::make_unique<QSocketNotifier>(d_->timerFd, QSocketNotifier::Read);
        QObject::connect(d_->timerNotifier.get(), &QSocketNotifier::activated, d_.get(),
                         [s = d_.get()] { s->onWakeupTimer(); });
    } else {
        d_->wakeup = std::make_unique<QTimer>();
        d_->wakeup->setSingleShot(true);
        d_->wakeup->setTimerType(Qt::PreciseTimer);
        QObject::connect(d_->wakeup.get(), &QTimer::timeout, d_.get(), [s = d_.get()] { s->onWakeupTimer(); });
    }
    QObject::connect(d_->app.get(), &QApplication::focusChanged, d_.get(), &State::onFocusChanged);
    QObject::connect(d_->app.get(), &QGuiApplication::focusWindowChanged, d_.get(), [s = d_.get()] {
        if (QWidget* active = QApplication::activeWindow())
            s->lastActive = active;
    });
    d_->caretRest.setSingleShot(true);
    d_->caretRest.setInterval(10000);
    QObject::connect(&d_->caretRest, &QTimer::timeout, d_.get(), [s = d_.get()] { s->restCaret(); });
    d_->caretRest.start();
    d_->app->installEventFilter(d_.get());
}

void QtPlatform::loadTranslations(const QLocale& locale)
{
    if (d_->translator)
        QCoreApplication::removeTranslator(d_->translator.get());
    d_->translator = std::make_unique<QTranslator>();
    // Without a catalogue for the language (English, C) Qt's own texts stay.
    if (d_->translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                             QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(d_->translator.get());
}

QtPlatform::~QtPlatform()
{
    d_->app->removeEventFilter(d_.get());
    d_->translator.reset();
    d_->wakeup.reset();
    d_->timerNotifier.reset();
    if (d_->timerFd >= 0)
        ::close(d_->timerFd);
    d_->x11.reset();
    for (QWidget* top : QApplication::topLevelWidgets())
        if (dynamic_cast<NativeWindow*>(top))
            delete top;
}

bool QtPlatform::createWindow(WindowInstance& w)
{
    buildWindow(w);
    return true;
}

void QtPlatform::showWindow(WindowInstance& w)
{
    NativeWindow* win = nativeOf(w);
    if (!win)
        return;
    win->shownOnce = true;
    // A window loaded in dialog mode belongs to its opener, so that a window
    // manager keeps it above the owner it blocks.
    if (auto* owner = w.owner ? nativeOf(*w.owner) : nullptr) {
        (void)win->winId();
        (void)owner->winId();
        win->windowHandle()->setTransientParent(owner->windowHandle());
    }
    if (!w.defOf(0).showInTaskbar)
        skipTaskbarBeforeMap(win);
    switch (w.defOf(0).startPosition) {
    case 2: win->showMinimized(); break;
    case 3: win->showMaximized(); break;
    default:
        win->show();
        win->activateWindow();
        break;
    }
}

void QtPlatform::destroyWindow(WindowInstance& w)
{
    NativeWindow* win = nativeOf(w);
    if (!win)
        return;
    // Qt may still be inside an event of this window (an Escape, a click), so it
    // goes away later; from now on its events find no owner.
    win->instance = nullptr;
    if (win->blocked)
        --d_->blockedWindows;
    if (d_->x11)
        d_->x11->forget(win);
    for (Unit& u : w.units)
        u.native = nullptr;
    w.native = nullptr;
    win->hide();
    win->deleteLater();
}

void QtPlatform::unitChanged(WindowInstance& w, int unit, Prop p) { applyUnitChange(w, unit, p); }

void QtPlatform::setWindowBlocked(WindowInstance& w, bool blocked)
{
    NativeWindow* win = nativeOf(w);
    if (!win || win->blocked == blocked)
        return;
    win->blocked = blocked;
    d_->blockedWindows += blocked ? 1 : -1;
    // While blocked it stayed below the box that blocked it; now it may go up again.
    if (!blocked && d_->x11)
        d_->x11->invalidate(win);
}

void QtPlatform::setTopmost(WindowInstance& w, bool on)
{
    NativeWindow* win = nativeOf(w);
    if (!win)
        return;
    // A shown window on X11: the window manager's "above" state and a restack,
    // asked for only when something may have changed.
    if (d_->x11 && win->isVisible()) {
        win->topmost = on;
        if (on)
            d_->x11->keepAbove(win, !win->blocked);
        else
            d_->x11->release(win);
        return;
    }
    if (win->topmost != on) {
        win->topmost = on;
        Qt::WindowFlags flags = win->windowFlags();
        flags.setFlag(Qt::WindowStaysOnTopHint, on);
        if (QWindow* handle = win->windowHandle()) {
            // Told to the live native window: QWidget::setWindowFlags would re-create
            // and hide it.
            win->overrideWindowFlags(flags);
            handle->setFlags(flags);
        } else {
            win->setWindowFlags(flags);
        }
    }
    // Re-applying keeps the window above other topmost ones, as the Windows call
    // does; a blocked window stays below the box or dialog that blocks it.
    if (on && d_->canRaise && win->isVisible() && !win->blocked)
        win->raise();
}

bool QtPlatform::setFocus(WindowInstance& w, int unit)
{
    NativeWindow* win = nativeOf(w);
    if (!win || unit < 0 || unit >= int(w.units.size()))
        return false;
    auto* widget = unit == 0 ? static_cast<QWidget*>(win) : static_cast<QWidget*>(w.units[size_t(unit)].native);
    if (!widget)
        return false;
    widget->setFocus(Qt::OtherFocusReason);
    return true;
}

// In the desktop's coordinates, which a top-level window's move takes: on X11 the
// primary output may lie right of or below another.
ScreenArea QtPlatform::primaryScreen()
{
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    QRect g = screen->geometry();
    return {g.x(), g.y(), g.width(), g.height()};
}

void QtPlatform::setCaretRestDelay(int ms)
{
    d_->caretRest.setInterval(ms);
    d_->noteInput();
}

int64_t QtPlatform::nowMs() { return d_->nowMs(); }

void QtPlatform::scheduleWakeup(int64_t dueMs)
{
    d_->wakeupDue = dueMs;
    d_->armWakeup(nowMs());
}

void QtPlatform::runMessageLoop() { (void)QApplication::exec(); }

void QtPlatform::quitMessageLoop() { QApplication::exit(0); }

void QtPlatform::runModalLoop(const std::function<bool()>& done)
{
    while (!done())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

MessageButton QtPlatform::messageBox(const MessageBoxRequest& request)
{
    QString text = qstr(request.message);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));

    OwnedDialog<QMessageBox> box(d_->blockedWindow());
    box.setWindowTitle(qstr(request.title));
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    switch (request.style & 0xF0) {
    case 0x10: box.setIcon(QMessageBox::Critical); break;
    case 0x20: box.setIcon(QMessageBox::Question); break;
    case 0x30: box.setIcon(QMessageBox::Warning); break;
    case 0x40: box.setIcon(QMessageBox::Information); break;
    default: box.setIcon(QMessageBox::NoIcon); break;
    }
    using B = QMessageBox::StandardButton;
    std::vector<B> buttons;
    switch (request.style & 0x0F) {
    case 1: buttons = {B::Ok, B::Cancel}; break;
    case 2: buttons = {B::Abort, B::Retry, B::Ignore}; break;
    case 3: buttons = {B::Yes, B::No, B::Cancel}; break;
    case 4: buttons = {B::Yes, B::No}; break;
    case 5: buttons = {B::Retry, B::Cancel}; break;
    default: buttons = {B::Ok}; break;
    }
    for (B b : buttons)
        box.addButton(b);
    box.setDefaultButton(buttons.front());
    box.setWindowModality(Qt::ApplicationModal);
    // System-modal boxes, and any box while a window of ours is topmost, would
    // otherwise open behind that window.
    if ((request.style & 0x1000) || (request.style & 0x40000) || anyTopmost())
        box.setWindowFlag(Qt::WindowStaysOnTopHint);
    (void)box.exec();

    switch (box.standardButton(box.clickedButton())) {
    case B::Ok: return MessageButton::ok;
    case B::Cancel: return MessageButton::cancel;
    case B::Abort: return MessageButton::abort;
    case B::Retry: return MessageButton::retry;
    case B::Ignore: return MessageButton::ignore;
    case B::Yes: return MessageButton::yes;
    case B::No: return MessageButton::no;
    default: return MessageButton::none;
    }
}

std::optional<Text> QtPlatform::openFileDialog(const FileDialogRequest& request)
{
    OpenFileDialog dialog(d_->blockedWindow());
    // Qt's own dialog behaves the same on every desktop and under test.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    // Without a title of its own the dialog keeps the caption Qt gives its open
    // dialog, in the language of Qt's other texts.
    if (!request.title.empty())
        dialog.setWindowTitle(qstr(request.title));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(request.fileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    QStringList filters = nameFilters(request.filter);
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        if (request.filterIndex >= 0 && request.filterIndex < filters.size())
            dialog.selectNameFilter(filters[request.filterIndex]);
    }
    if (!request.initialDir.empty())
        dialog.setDirectory(qstr(request.initialDir));
    if (!request.proposedName.empty())
        dialog.selectFile(qstr(request.proposedName));
    dialog.setWindowModality(Qt::ApplicationModal);
    if (anyTopmost())
        dialog.setWindowFlag(Qt::WindowStaysOnTopHint);
    // Size, type and date in full; the name takes what is left.
    if (auto* view = dialog.findChild<QTreeView*>(QStringLiteral("treeView"))) {
        QHeaderView* header = view->header();
        header->setStretchLastSection(false);
        header->setSectionResizeMode(0, QHeaderView::Stretch);
        for (int c = 1; c < header->count(); ++c)
            header->setSectionResizeMode(c, QHeaderView::ResizeToContents);
    }

    // Kept as bytes: a directory whose name is not UTF-8 has no QString.
    std::unique_ptr<char, decltype(&std::free)> before(::getcwd(nullptr, 0), &std::free);
    bool accepted = dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty();
    // The name of the file that is really there, whatever the encoding of its name.
    const std::string chosen = accepted ? toFileName(fromQString(dialog.selectedFiles().constFirst())) : std::string();
    // A failed change of directory leaves the process where it was, which is all
    // either outcome needs.
    if (request.keepCurrentDir) {
        if (before)
            (void)::chdir(before.get());
    } else if (accepted) {
        (void)::chdir(chosen.substr(0, std::max<size_t>(chosen.rfind('/'), 1)).c_str());
    }
    if (!accepted)
        return std::nullopt;
    return fromFileName(chosen);
}

void QtPlatform::beep() { QApplication::beep(); }

// Only the default verb and "open" run a program; the other verbs have no
// freedesktop counterpart of their own and show the file with its
// application instead. A desktop places windows itself, so the show mode is
// not passed on.
void QtPlatform::shellExecute(const ShellRequest& request)
{
    using Verb = ShellRequest::Verb;
    ShellMode mode = request.verb == Verb::none || request.verb == Verb::open ? ShellMode::defaultAction
                                                                              : ShellMode::desktopOpen;
    StartDetachedInBackground(mode, request.file, request.parameters, request.directory);
}

void QtPlatform::setPowerService(PowerService service) { d_->power = std::move(service); }

bool QtPlatform::powerPermitted(PowerAction action) { return d_->power.permitted && d_->power.permitted(action); }

bool QtPlatform::powerAction(PowerAction action, bool force) { return d_->power.act && d_->power.act(action, force); }

void QtPlatform::exitProcess(int code)
{
    // A start is a local fork: its file-system look-ups are the started process's own.
    (void)FinishBackgroundStarts(std::chrono::seconds(2));
    std::fflush(nullptr);
    std::exit(code);
}
