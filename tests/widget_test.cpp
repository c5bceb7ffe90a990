// Widget tests of the Qt backend: what only real widgets show. Typing and focus
// in number boxes, check boxes, tab pages, stacking, label pixels, Escape and
// closing, blocked windows, always-on-top, and timers going on under a message box.
// Mouse input goes through the native window, as a desktop delivers it.
#define QTEST_QPA_MOUSE_HANDLING
#include <QAccessible>
#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <memory>
#include <utility>

#include "assets.h"
#include "drawing.h"
#include "qt_environment.h"
#include "qt_platform.h"
#include "runtime.h"
#include "test_env.h"
#include "windows_pictures.h"

// Readable failures: gtest finds this by argument-dependent lookup.
void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
void PrintTo(const QColor& c, std::ostream* os) { *os << c.name().toStdString(); }

namespace {

constexpr WindowId kMain{"testWindow"};
constexpr WindowId kDialog{"dialogWindow"};

struct Press {
    std::string unit;
    int x, y, keys;
    bool operator==(const Press&) const = default;
};

void PrintTo(const Press& p, std::ostream* os) { *os << p.unit << "(" << p.x << "," << p.y << "," << p.keys << ")"; }

// What the handlers saw.
struct Seen {
    int closing = 0;
    int ticks = 0;
    std::vector<int64_t> tickTimes;
    std::vector<std::string> okContents;  // UTF-8
    std::vector<bool> checkStates;
    std::vector<Press> presses;
    int boxResult = -1;
    int ticksDuringBox = 0;
    std::vector<bool> fileResults;
    bool dialogReturned = false;
    int dialogClosing = 0;
} seen;

void onClosing() { ++seen.closing; }
void onTick()
{
    ++seen.ticks;
    seen.tickTimes.push_back(Runtime::get().platform().nowMs());
}
void onOk() { seen.okContents.push_back(toUtf8(GetText(kMain, "num", Prop::content))); }
void onCheck() { seen.checkStates.push_back(GetUnitProperty(kMain, fromUtf8("选择框1"), Prop::checked).boolean()); }
void onShowBox()
{
    SetUnitProperty(kMain, "ticker", Prop::interval, 10);
    int before = seen.ticks;
    seen.boxResult = ShowMessageBox(Value(fromUtf8("第一行\r\n第二行")), MB_ICONINFORMATION, fromUtf8("提示"));
    seen.ticksDuringBox = seen.ticks - before;
    SetUnitProperty(kMain, "ticker", Prop::interval, 0);
}
void onOpenDialog()
{
    LoadWindow(kDialog, kMain, true);
    seen.dialogReturned = true;
}
void onDialogClosing() { ++seen.dialogClosing; }
void onBrowse() { seen.fileResults.push_back(ShowFileDialog(kMain, "music")); }
void onPanelPress(int x, int y, int keys) { seen.presses.push_back({"panel", x, y, keys}); }
void onPicturePress(int x, int y, int keys) { seen.presses.push_back({"picture", x, y, keys}); }
void onStudioPress(int x, int y, int keys)
{
    seen.presses.push_back({"studio", x, y, keys});
    SetUnitProperty(kMain, "picture", Prop::visible, true);
}

const HandlerEntry kHandlers[] = {
    handler("onClosing", onClosing),       handler("onTick", onTick),
    handler("onOk", onOk),                 handler("onCheck", onCheck),
    handler("onShowBox", onShowBox),       handler("onOpenDialog", onOpenDialog),
    handler("onDialogClosing", onDialogClosing), handler("onPanelPress", onPanelPress),
    handler("onPicturePress", onPicturePress),   handler("onStudioPress", onStudioPress),
    handler("onBrowse", onBrowse),
};

// Outer 406 x 322: a 400 x 297 client area inside the classic fixed frame.
constexpr char kMainDefinition[] = R"(window
title "部件测试"
rect 20 30 406 322
icon program.ico
on aboutToBeDestroyed onClosing

Tab tab
rect 5 5 390 285
pages "first" "第二页"

EditBox num
parent tab 0
rect 10 30 100 20
inputMode 7

EditBox free
parent tab 0
rect 10 55 100 20

Button ok
parent tab 0
rect 120 30 80 24
caption "OK"
on clicked onOk

CheckBox 选择框1
parent tab 0
rect 120 60 80 16
caption "选择"
on clicked onCheck

Button showBox
parent tab 0
rect 210 30 80 24
caption "Box"
on clicked onShowBox

Button openDialog
parent tab 0
rect 210 60 80 24
caption "Dialog"
on clicked onOpenDialog

Button browse
parent tab 0
rect 300 60 60 24
caption "打开"
on clicked onBrowse

CommonDlg music
parent tab 0
rect 330 30 26 26
title "音乐文件"
filter "音乐文件（*.mp3）|*.mp3|任何文件（*.*）|*.*"
filterIndex 1
keepCurrentDir true

Timer ticker
parent tab 0
rect 300 30 26 26
on tick onTick

DrawPanel panel
parent tab 0
rect 10 90 251 64
border 5
backColor #9000FF
on leftButtonDown onPanelPress

PicBox picture
parent panel
rect 38 0 176 65
visible false
picture studio.bmp
displayMode 1
on leftButtonDown onPicturePress

Label studio
parent panel
rect 5 16 235 32
caption "RUVO工作室"
font "黑体" -29 bold
gradientMode 2
gradientColors #9000FF #ECECEC #9000FF
hAlign 1
on leftButtonDown onStudioPress

Label caption
parent tab 0
rect 10 160 100 16
caption "关机选择框"

Label link
parent tab 0
rect 120 160 100 16
caption "程序用途简解"
textColor #9000FF
font "宋体" -12

Label second
parent tab 1
rect 10 30 100 16
caption "second page"
)";

constexpr char kDialogDefinition[] = R"(window
title "Dialog"
rect 100 100 206 122
on aboutToBeDestroyed onDialogClosing

Button dialogOk
rect 10 10 80 24
caption "OK"
)";

const EmbeddedFile kDefinitions[] = {
    {"testWindow.def", kMainDefinition},
    {"dialogWindow.def", kDialogDefinition},
};

class WidgetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        seen = Seen{};
        runtime = std::make_unique<Runtime>(*QtEnvironment::platform);
        runtime->loadDefinitions(kDefinitions, kHandlers, assetFiles());
        ASSERT_TRUE(runtime->loadWindow(kMain, std::nullopt, false));
        window = shownTopLevel("testWindow");
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    }

    void TearDown() override
    {
        runtime->shutdownCleanup(false);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        runtime.reset();
    }

    template <class T = QWidget>
    T* unit(const char* name)
    {
        T* w = window->findChild<T*>(QString::fromUtf8(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    // A left click as the window system delivers it: hit-tested, focus first.
    void click(QWidget* target, QPoint at = QPoint(-1, -1), Qt::KeyboardModifiers keys = {})
    {
        if (at == QPoint(-1, -1))
            at = target->rect().center();
        QTest::mouseClick(target->window()->windowHandle(), Qt::LeftButton, keys, target->mapTo(target->window(), at));
    }

    void type(QWidget* target, const QString& text)
    {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, text);
        QApplication::sendEvent(target, &press);
    }

    Text content(const char* name) { return GetText(kMain, name, Prop::content); }

    std::unique_ptr<Runtime> runtime;
    QWidget* window = nullptr;
};

TEST_F(WidgetTest, shouldBuildTheWindowAndUnitsAtTheirRectangles)
{
    EXPECT_EQ(window->size(), QSize(400, 297));
    EXPECT_EQ(window->pos(), QPoint(20, 30));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("部件测试"));
    EXPECT_GT(window->windowIcon().availableSizes().size(), 1) << "every image of the icon file";
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);

    WindowInstance* w = runtime->window(kMain);
    for (const char* name : {"num", "ok", "选择框1", "studio", "panel", "tab"}) {
        QWidget* widget = unit(name);
        ASSERT_NE(widget, nullptr);
        Rect r = runtime->rectInWindow(*w, w->find(fromUtf8(name)));
        EXPECT_EQ(QRect(widget->mapTo(window, QPoint(0, 0)), widget->size()), QRect(r.left, r.top, r.width, r.height)) << name;
    }
    EXPECT_EQ(unit("studio")->parentWidget(), unit("panel"));
    EXPECT_EQ(unit<QCheckBox>("选择框1")->text(), QStringLiteral("选择"));
    EXPECT_EQ(window->findChild<QWidget*>(QStringLiteral("ticker")), nullptr) << "timers have no widget";

    QAccessibleInterface* label = QAccessible::queryAccessibleInterface(unit("studio"));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->role(), QAccessible::StaticText);
    EXPECT_EQ(label->text(QAccessible::Name), QStringLiteral("RUVO工作室"));
}

TEST_F(WidgetTest, shouldTypeOnlyDigitsAndMinusIntoANumberBox)
{
    auto* num = unit<QLineEdit>("num");
    ASSERT_TRUE(SetInputFocus(kMain, "num"));
    ASSERT_TRUE(num->hasFocus());

    QTest::keyClicks(num, "1a2.3");
    EXPECT_EQ(num->text(), "123");
    EXPECT_EQ(content("num"), "123");

    type(num, QStringLiteral("１"));  // a full-width digit is not a digit here
    EXPECT_EQ(num->text(), "123");

    QInputMethodEvent commit;  // an input method commits characters without keys
    commit.setCommitString(QStringLiteral("4x5"));
    QApplication::sendEvent(num, &commit);
    EXPECT_EQ(num->text(), "12345");

    QTest::keyClick(num, Qt::Key_Backspace);
    QTest::keyClick(num, Qt::Key_Home);
    QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier, QStringLiteral("\x7f"));
    QApplication::sendEvent(num, &del);
    EXPECT_EQ(num->text(), "234");

    QGuiApplication::clipboard()->setText(QStringLiteral("ab"));  // pasted text is not filtered
    QTest::keyClick(num, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(num->text(), "ab234");
    EXPECT_EQ(content("num"), "ab234");
}

TEST_F(WidgetTest, shouldReportEditsInGb18030WithTheCaretInBytes)
{
    auto* free = unit<QLineEdit>("free");
    ASSERT_TRUE(SetInputFocus(kMain, "free"));
    type(free, QStringLiteral("中"));
    type(free, QStringLiteral("x"));
    type(free, QStringLiteral("文"));
    EXPECT_EQ(toUtf8(content("free")), "中x文");
    WindowInstance* w = runtime->window(kMain);
    EXPECT_EQ(w->units[size_t(w->find("free"))].caret, 5);

    SetUnitProperty(kMain, "free", Prop::content, fromUtf8("改写"));
    EXPECT_EQ(free->text(), QStringLiteral("改写"));
}

TEST_F(WidgetTest, shouldSeeTextSetWithoutTypingAndKeepTheCaretWhereTheUserLeftIt)
{
    auto* num = unit<QLineEdit>("num");
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(num);
    ASSERT_TRUE(a && a->editableTextInterface());
    a->editableTextInterface()->insertText(0, QStringLiteral("7x"));  // as an on-screen keyboard does
    EXPECT_EQ(content("num"), "7x") << "not filtered, like pasted text";
    click(unit("ok"));
    ASSERT_FALSE(seen.okContents.empty());
    EXPECT_EQ(seen.okContents.back(), "7");

    // Normalisation keeps the caret where Home left it, not where typing ended.
    SetUnitProperty(kMain, "num", Prop::content, Text());
    ASSERT_TRUE(SetInputFocus(kMain, "num"));
    QTest::keyClicks(num, "0071234");
    QTest::keyClick(num, Qt::Key_Home);
    QTest::keyClick(num, Qt::Key_Right);
    ASSERT_TRUE(SetInputFocus(kMain, "free"));
    EXPECT_EQ(num->text(), "71234");
    EXPECT_EQ(num->cursorPosition(), 1);
}

TEST_F(WidgetTest, shouldNormaliseANumberBoxBeforeTheClickHandlerRuns)
{
    auto* num = unit<QLineEdit>("num");
    QPushButton* ok = unit<QPushButton>("ok");
    const std::pair<const char*, const char*> cases[] = {{"007", "7"}, {"0", ""}, {"-", ""}, {"99999999999", "2147483647"}, {"-12", "-12"}};
    for (auto [typed, normalised] : cases) {
        SetUnitProperty(kMain, "num", Prop::content, Text());
        ASSERT_TRUE(SetInputFocus(kMain, "num"));
        QTest::keyClicks(num, typed);
        EXPECT_EQ(num->text(), typed) << "as typed while the box has the focus";
        click(ok);
        EXPECT_TRUE(ok->hasFocus());
        ASSERT_FALSE(seen.okContents.empty());
        EXPECT_EQ(seen.okContents.back(), normalised) << typed;
        EXPECT_EQ(num->text(), normalised) << typed;
    }

    // A handler's "0" stays until the box loses the focus.
    ASSERT_TRUE(SetInputFocus(kMain, "num"));
    SetUnitProperty(kMain, "num", Prop::content, Text("0"));
    EXPECT_EQ(num->text(), "0");
    ASSERT_TRUE(SetInputFocus(kMain, "free"));
    EXPECT_EQ(num->text(), "");
    EXPECT_EQ(content("num"), "");
}

TEST_F(WidgetTest, shouldShowTheNewCheckStateToTheClickHandler)
{
    auto* check = unit<QCheckBox>("选择框1");
    click(check);
    EXPECT_TRUE(check->isChecked());
    click(check);
    EXPECT_FALSE(check->isChecked());
    QTest::keyClick(check, Qt::Key_Space);
    EXPECT_TRUE(check->isChecked());
    EXPECT_EQ(seen.checkStates, (std::vector<bool>{true, false, true}));

    SetUnitProperty(kMain, fromUtf8("选择框1"), Prop::checked, false);
    EXPECT_FALSE(check->isChecked());
    EXPECT_EQ(seen.checkStates.size(), 3u) << "writing the state raises no click";

    // Past the caption, near the right edge, is still the check box.
    click(check, QPoint(check->width() - 4, check->height() / 2));
    EXPECT_TRUE(check->isChecked());
    EXPECT_EQ(seen.checkStates, (std::vector<bool>{true, false, true, true}));
}

TEST_F(WidgetTest, shouldShowOnlyTheUnitsOfTheSelectedPage)
{
    QWidget* num = unit("num");
    QWidget* second = unit("second");
    auto* strip = unit("tab")->findChild<QTabBar*>();
    ASSERT_NE(strip, nullptr);
    EXPECT_TRUE(num->isVisible());
    EXPECT_FALSE(second->isVisible());

    click(strip, strip->tabRect(1).center());
    EXPECT_EQ(GetNumber(kMain, "tab", Prop::currentPage), 1);
    EXPECT_FALSE(num->isVisible());
    EXPECT_TRUE(second->isVisible());

    SetUnitProperty(kMain, "tab", Prop::currentPage, 0);
    EXPECT_EQ(strip->currentIndex(), 0);
    EXPECT_TRUE(num->isVisible());
    EXPECT_FALSE(second->isVisible());
}

TEST_F(WidgetTest, shouldPaintTheLabelGradientByTheDrawingRule)
{
    QWidget* studio = unit("studio");
    QImage image = studio->grab().toImage();
    ASSERT_EQ(image.size(), QSize(235, 32));
    // Worked out by hand: 235 px in two segments of 117, violet -> grey -> violet,
    // integer steps; column 234 lies beyond the last whole segment.
    struct Column {
        int x;
        QColor colour;
    } columns[] = {
        {0, QColor(144, 0, 255)},   {10, QColor(151, 20, 254)}, {25, QColor(163, 50, 251)},
        {210, QColor(163, 49, 251)}, {233, QColor(145, 3, 254)}, {234, QColor(144, 0, 255)},
    };
    for (const Column& c : columns)
        for (int y : {0, 16, 31})
            EXPECT_EQ(image.pixelColor(c.x, y), c.colour) << c.x << "," << y;
    int dark = 0;
    for (int x = 30; x < 205; ++x)
        for (int y = 0; y < 32; ++y)
            dark += qGray(image.pixel(x, y)) < 60;
    EXPECT_GT(dark, 100) << "the caption is drawn over the gradient";
}

// The pixel of a caption closest to its text colour.
QColor closestTo(QWidget* label, QColor ink)
{
    QImage image = label->grab().toImage();
    int best = INT_MAX;
    QColor found;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            QColor c = image.pixelColor(x, y);
            int d = std::abs(c.red() - ink.red()) + std::abs(c.green() - ink.green()) + std::abs(c.blue() - ink.blue());
            if (d < best)
                best = d, found = c;
        }
    return found;
}

TEST_F(WidgetTest, shouldDrawTwelvePixelCaptionsSolid)
{
    EXPECT_EQ(closestTo(unit("caption"), Qt::black), QColor(Qt::black)) << "the default font";
    // Without an underline, whose solid line would pass anyway.
    QColor violet = closestTo(unit("link"), QColor(144, 0, 255));
    EXPECT_LE(std::abs(violet.red() - 144) + violet.green() + 255 - violet.blue(), 6) << violet.name().toStdString();
}

TEST_F(WidgetTest, shouldGiveAPressToTheFirstListedOfOverlappingUnits)
{
    QWidget* panel = unit("panel");
    QWidget* studio = unit("studio");
    click(panel, QPoint(245, 5));
    // The picture lies over the label but is hidden: the label takes the press and shows it.
    click(studio, QPoint(50, 10), Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_TRUE(unit("picture")->isVisible());
    click(studio, QPoint(50, 10));
    EXPECT_EQ(seen.presses, (std::vector<Press>{{"panel", 245, 5, 0}, {"studio", 50, 10, 3}, {"picture", 17, 26, 0}}));
}

TEST_F(WidgetTest, shouldCloseTheWindowOnEscapeAndOnTheCloseButton)
{
    ASSERT_TRUE(SetInputFocus(kMain, "num"));
    QTest::keyClick(unit("num"), Qt::Key_Escape);
    EXPECT_EQ(seen.closing, 1);
    EXPECT_EQ(runtime->window(kMain), nullptr);
    EXPECT_EQ(shownTopLevel("testWindow"), nullptr);

    ASSERT_TRUE(runtime->loadWindow(kMain, std::nullopt, false));
    window = shownTopLevel("testWindow");
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(window->close()) << "the runtime destroys it, Qt does not";
    EXPECT_EQ(seen.closing, 2);
    EXPECT_EQ(runtime->window(kMain), nullptr);
    EXPECT_EQ(shownTopLevel("testWindow"), nullptr);
}

TEST_F(WidgetTest, shouldKeepTimersTickingWhileAMessageBoxIsOpen)
{
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QElapsedTimer waited;
    waited.start();
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || (seen.ticks < 5 && waited.elapsed() < 5000))
            return;
        closer.stop();
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        box->button(QMessageBox::Ok)->click();
    });
    closer.start(20);
    click(unit("showBox"));
    EXPECT_EQ(seen.boxResult, 0);
    EXPECT_GE(seen.ticksDuringBox, 5);
    EXPECT_EQ(title, QStringLiteral("提示"));
    EXPECT_EQ(text, QStringLiteral("第一行\n第二行"));
    EXPECT_EQ(icon, QMessageBox::Information);
    EXPECT_EQ(GetNumber(kMain, "ticker", Prop::interval), 0);
}

TEST_F(WidgetTest, shouldTickNeverBeforeTheDueMillisecondAndNotOnceStopped)
{
    Platform& platform = runtime->platform();
    const int64_t set = platform.nowMs();
    SetUnitProperty(kMain, "ticker", Prop::interval, 30);
    ASSERT_TRUE(QTest::qWaitFor([] { return seen.ticks >= 3; }, 5000));
    SetUnitProperty(kMain, "ticker", Prop::interval, 0);
    for (size_t k = 0; k < 3; ++k)
        EXPECT_GE(seen.tickTimes[k], set + 30 * int64_t(k + 1)) << "tick " << k;
    const int ticks = seen.ticks;
    QTest::qWait(100);
    EXPECT_EQ(seen.ticks, ticks);
}

TEST_F(WidgetTest, shouldRestTheCaretWithoutInputAndBlinkAgainOnKeyOrClick)
{
    const int desktop = QApplication::cursorFlashTime();
    ASSERT_GT(desktop, 0);
    auto* num = unit<QLineEdit>("num");
    click(num);
    QtEnvironment::platform->setCaretRestDelay(50);
    EXPECT_TRUE(QTest::qWaitFor([] { return QApplication::cursorFlashTime() == 0; }, 2000)) << "rests";
    QTest::keyClick(num, Qt::Key_1);
    EXPECT_EQ(QApplication::cursorFlashTime(), desktop) << "a key wakes it";
    EXPECT_TRUE(QTest::qWaitFor([] { return QApplication::cursorFlashTime() == 0; }, 2000));
    click(num);
    EXPECT_EQ(QApplication::cursorFlashTime(), desktop) << "a click wakes it";
    QtEnvironment::platform->setCaretRestDelay(10000);
}

TEST_F(WidgetTest, shouldRefuseInputToWindowsBlockedByADialogWindow)
{
    auto* free = unit<QLineEdit>("free");
    QPushButton* ok = unit<QPushButton>("ok");
    auto* check = unit<QCheckBox>("选择框1");
    auto* strip = unit("tab")->findChild<QTabBar*>();
    ASSERT_NE(strip, nullptr);
    QPointer<QWidget> dialog;
    bool tried = false;
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        dialog = shownTopLevel("dialogWindow");
        if (!dialog || tried)
            return;
        tried = true;
        click(ok);
        QTest::keyClicks(free, "abc");
        // Input the runtime cannot refuse by itself: an edit that is no typed
        // key, a page change, a check box's own toggling.
        QGuiApplication::clipboard()->setText(QStringLiteral("pasted"));
        QTest::keyClick(free, Qt::Key_V, Qt::ControlModifier);
        click(strip, strip->tabRect(1).center());
        click(check);
        QTest::keyClick(window, Qt::Key_Escape);
        EXPECT_TRUE(window->isVisible()) << "Escape in a blocked window closes nothing";
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    driver.start(20);
    click(unit("openDialog"));
    driver.stop();

    EXPECT_TRUE(tried);
    EXPECT_TRUE(seen.dialogReturned);
    EXPECT_EQ(seen.dialogClosing, 1);
    EXPECT_TRUE(seen.okContents.empty());
    EXPECT_EQ(free->text(), "");
    EXPECT_EQ(content("free"), "");
    EXPECT_EQ(strip->currentIndex(), 0);
    EXPECT_EQ(GetNumber(kMain, "tab", Prop::currentPage), 0);
    EXPECT_FALSE(check->isChecked());
    EXPECT_TRUE(seen.checkStates.empty());
    EXPECT_EQ(seen.closing, 0);

    click(ok);  // unblocked again
    EXPECT_EQ(seen.okContents.size(), 1u);
}

// Text that reaches an edit box without a key or a click: a drop from another
// program, and an assistive tool's edit, which comes with no input event at all.
TEST_F(WidgetTest, shouldTakeNoDroppedOrAssistedTextIntoABlockedWindow)
{
    auto* free = unit<QLineEdit>("free");
    QMimeData dragged;
    dragged.setText(QStringLiteral("777"));
    auto drop = [&] {  // as the window system hands it to the window
        const QPoint at = free->mapTo(window, free->rect().center());
        QDragEnterEvent enter(at, Qt::CopyAction, &dragged, Qt::LeftButton, {});
        QDropEvent drop(at, Qt::CopyAction, &dragged, Qt::LeftButton, {});
        QApplication::sendEvent(window->windowHandle(), &enter);
        QApplication::sendEvent(window->windowHandle(), &drop);
        return enter.isAccepted() || drop.isAccepted();
    };
    bool tried = false, dropTaken = false;
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        QWidget* dialog = shownTopLevel("dialogWindow");
        if (!dialog || std::exchange(tried, true))
            return;
        dropTaken = drop();
        QAccessible::queryAccessibleInterface(free)->editableTextInterface()->insertText(0, QStringLiteral("888"));
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    driver.start(20);
    click(unit("openDialog"));
    driver.stop();

    EXPECT_TRUE(tried);
    EXPECT_FALSE(dropTaken) << "the drag source is told no";
    EXPECT_EQ(free->text(), "");
    EXPECT_EQ(content("free"), "");
    EXPECT_TRUE(drop());  // unblocked again
    EXPECT_EQ(content("free"), "777");
}

TEST_F(WidgetTest, shouldApplyAlwaysOnTopWithoutRecreatingTheWindow)
{
    QWindow* native = window->windowHandle();
    for (int i = 0; i < 100; ++i)
        SetUnitProperty(kMain, "", Prop::alwaysOnTop, true);
    EXPECT_EQ(window->windowHandle(), native);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(native->flags() & Qt::WindowStaysOnTopHint);

    SetUnitProperty(kMain, "", Prop::alwaysOnTop, false);
    EXPECT_EQ(window->windowHandle(), native);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(native->flags() & Qt::WindowStaysOnTopHint);
}

TEST_F(WidgetTest, shouldOpenQtsFileDialogAsTheCommonDialogDescribes)
{
    const std::string dir = testenv::freshDir("music");
    const std::string song = dir + "/歌曲.mp3";
    testenv::writeFile(song, "ID3");
    const QString cwd = QDir::currentPath();

    QStringList filters;
    QString selectedFilter, title;
    bool answer = true;
    QTimer chooser;
    QObject::connect(&chooser, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {  // "file not found": fail, not hang
            ADD_FAILURE() << "the dialog refused the file: " << box->text().toStdString();
            box->reject();
            return;
        }
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (!dialog)
            return;
        if (!answer) {
            dialog->reject();
            return;
        }
        filters = dialog->nameFilters();
        selectedFilter = dialog->selectedNameFilter();
        title = dialog->windowTitle();
        // As a user does: selectFile leaves the name field alone while it has the focus.
        dialog->setDirectory(QString::fromStdString(dir));
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (!name) {
            ADD_FAILURE() << "no file name field";
            dialog->reject();
            return;
        }
        name->setText(QStringLiteral("歌曲.mp3"));
        static_cast<QDialog*>(dialog)->accept();  // QFileDialog::accept checks the file
    });
    chooser.start(20);
    click(unit("browse"));
    EXPECT_EQ(filters, (QStringList{QStringLiteral("音乐文件（*.mp3） (*.mp3)"), QStringLiteral("任何文件（*.*） (*)")}))
        << "\"*.*\" is every file, names without a dot included";
    EXPECT_EQ(selectedFilter, QStringLiteral("任何文件（*.*）")) << "the filter at index 1, shown without its patterns";
    EXPECT_EQ(title, QStringLiteral("音乐文件"));
    EXPECT_EQ(toUtf8(GetText(kMain, "music", Prop::fileName)), song);

    answer = false;
    click(unit("browse"));
    chooser.stop();
    EXPECT_EQ(seen.fileResults, (std::vector<bool>{true, false}));
    EXPECT_EQ(toUtf8(GetText(kMain, "music", Prop::fileName)), song) << "a cancel keeps the last choice";
    EXPECT_EQ(QDir::currentPath(), cwd);
}

TEST_F(WidgetTest, shouldChooseAFileWhoseNameIsInTheWindowsCodePage)
{
    // Qt does not list such names; typed in full, the file is found all the same.
    const std::string dir = testenv::freshDir("archive");
    const std::string folder = dir + "/" + fromUtf8("计时器");
    const std::string song = folder + "/" + fromUtf8("歌曲.mp3");
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    testenv::writeFile(song, "ID3");
    QTimer chooser;
    QObject::connect(&chooser, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            ADD_FAILURE() << "the dialog refused the file: " << box->text().toStdString();
            box->reject();
        } else if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            if (!name) {
                ADD_FAILURE() << "no file name field";
                dialog->reject();
                return;
            }
            name->setText(QString::fromStdString(dir) + QStringLiteral("/计时器/歌曲.mp3"));
            QTest::keyClick(name, Qt::Key_Return);
            if (dialog->isVisible()) {
                ADD_FAILURE() << "Enter did not take the file";
                dialog->reject();
            }
        }
    });
    chooser.start(20);
    click(unit("browse"));
    chooser.stop();
    EXPECT_EQ(seen.fileResults, (std::vector<bool>{true}));
    const Text chosen = GetText(kMain, "music", Prop::fileName);
    EXPECT_EQ(chosen, Join(fromUtf8(dir), "/", fromUtf8("计时器/歌曲.mp3")));
    EXPECT_EQ(toFileName(chosen), song);
}

TEST_F(WidgetTest, shouldSpeakChineseInMessageBoxesAndTheFileDialogUnderAChineseLocale)
{
    QtEnvironment::platform->loadTranslations(QLocale(QLocale::Chinese, QLocale::China));
    QString ok, open, cancel, lookIn;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            ok = box->button(QMessageBox::Ok)->text();
            box->button(QMessageBox::Ok)->click();
        } else if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
            if (auto* buttons = dialog->findChild<QDialogButtonBox*>()) {
                open = buttons->button(QDialogButtonBox::Open)->text();
                cancel = buttons->button(QDialogButtonBox::Cancel)->text();
            }
            if (auto* label = dialog->findChild<QLabel*>(QStringLiteral("lookInLabel")))
                lookIn = label->text();
            dialog->reject();
        }
    });
    closer.start(20);
    click(unit("showBox"));
    click(unit("browse"));
    closer.stop();
    QtEnvironment::platform->loadTranslations(QLocale::c());
    EXPECT_EQ(ok, QStringLiteral("确定"));
    EXPECT_TRUE(open.startsWith(QStringLiteral("打开"))) << open.toStdString();
    EXPECT_TRUE(cancel.startsWith(QStringLiteral("取消"))) << cancel.toStdString();
    EXPECT_TRUE(lookIn.startsWith(QStringLiteral("查找"))) << lookIn.toStdString();
}

TEST_F(WidgetTest, shouldCaptionAnUntitledFileDialogAsQtsOwnOpenDialogInTheUsersLanguage)
{
    QString title;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            title = dialog->windowTitle();
            dialog->reject();
        }
    });
    closer.start(20);
    for (auto [locale, caption] : {std::pair{QLocale(QLocale::English, QLocale::UnitedStates), "Open"},
                                   std::pair{QLocale(QLocale::Chinese, QLocale::China), "打开"}}) {
        QtEnvironment::platform->loadTranslations(locale);
        title.clear();
        EXPECT_EQ(QtEnvironment::platform->openFileDialog(FileDialogRequest{}), std::nullopt);
        EXPECT_EQ(title, QString::fromUtf8(caption)) << locale.name().toStdString();
    }
    QtEnvironment::platform->loadTranslations(QLocale::c());
}

// A box or dialog is transient for the window it blocks, so that no window
// manager puts that window over it, and still opens in the middle of the
// screen, not over that window.
TEST_F(WidgetTest, shouldOwnBoxesAndTheFileDialogByTheWindowTheyBlockInTheMiddleOfTheScreen)
{
    std::vector<std::pair<QWindow*, QPoint>> opened;  // owner and centre of each
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        opened.emplace_back(dialog->windowHandle()->transientParent(), dialog->frameGeometry().center());
        dialog->reject();
    });
    closer.start(20);
    click(unit("showBox"));
    click(unit("browse"));
    // A box from a tick while the user works in another program: the window used last.
    QApplication::setActiveWindow(nullptr);
    ASSERT_EQ(QApplication::activeWindow(), nullptr);
    (void)QtEnvironment::platform->messageBox(MessageBoxRequest{Text("tick"), 0, Text()});
    closer.stop();

    ASSERT_EQ(opened.size(), 3u);
    const QPoint middle = QGuiApplication::primaryScreen()->availableGeometry().center();
    for (auto [owner, centre] : opened) {
        EXPECT_EQ(owner, window->windowHandle());
        EXPECT_LT((centre - middle).manhattanLength(), 60) << centre.x() << "," << centre.y();
    }
}

} // namespace

// The icon and picture built into the programs decode without Qt's image
// plugins, to the same pixels Qt's readers give.
TEST(WindowsPictures, shouldDecodeTheEmbeddedIconAndPictureAsQtsReadersDo)
{
    for (const char* name : {"program.ico", "studio.bmp"}) {
        std::string_view data = findEmbedded(assetFiles(), name);
        std::vector<QImage> ours = decodeWindowsPicture(data);
        QByteArray bytes = QByteArray::fromRawData(data.data(), qsizetype(data.size()));
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer);
        ASSERT_EQ(int(ours.size()), std::max(1, reader.imageCount())) << name;
        for (size_t i = 0; i < ours.size(); ++i) {
            ASSERT_TRUE(i == 0 || reader.jumpToImage(int(i)));
            // Premultiplied, so that the colour of a transparent pixel does not count.
            const QImage theirs = reader.read().convertToFormat(QImage::Format_ARGB32_Premultiplied);
            EXPECT_EQ(ours[i].convertToFormat(QImage::Format_ARGB32_Premultiplied), theirs) << name << " image " << i;
        }
    }
}

TEST(WindowsPictures, shouldLeaveCutAndForeignDataToQt)
{
    std::string_view icon = findEmbedded(assetFiles(), "program.ico");
    std::string_view bitmap = findEmbedded(assetFiles(), "studio.bmp");
    EXPECT_TRUE(decodeWindowsPicture(icon.substr(0, icon.size() - 1)).empty());
    EXPECT_TRUE(decodeWindowsPicture(icon.substr(0, 30)).empty());
    EXPECT_TRUE(decodeWindowsPicture(bitmap.substr(0, bitmap.size() / 2)).empty());
    EXPECT_TRUE(decodeWindowsPicture("GIF89a\x01\x00\x01\x00").empty());
    std::string rle(bitmap);
    rle[14 + 16] = 1;  // run-length compressed
    EXPECT_TRUE(decodeWindowsPicture(rle).empty());
}
