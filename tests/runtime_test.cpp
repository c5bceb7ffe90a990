// The unit model on the headless platform: timers on the virtual clock, input
// mode 7, automatic check boxes, tabs, stacking, Escape, dialog mode, message
// boxes, the shut-down paths and the fatal errors.
#include <gtest/gtest.h>

#include "files.h"
#include "framework.h"
#include "headless.h"
#include "program.h"
#include "runtime.h"
#include "test_env.h"

namespace {

constexpr WindowId testWindow{"testWindow"};
constexpr WindowId dialogWindow{"dialogWindow"};

std::vector<std::string> g_log;
std::vector<int64_t> g_ticks;
HeadlessPlatform* g_platform = nullptr;
std::function<void()> g_onClick;
std::function<void()> g_onTick;
int g_cleanups = 0;

void onCreated() { g_log.push_back("created"); }
void onDestroyed() { g_log.push_back("destroyed"); }
void onDialogCreated() { g_log.push_back("dialog created"); }
void onDialogDestroyed() { g_log.push_back("dialog destroyed"); }
void onButton()
{
    g_log.push_back("button e7=" + GetText(testWindow, "e7", Prop::content));
    if (g_onClick)
        g_onClick();
}
void onCheck1() { g_log.push_back("check1 " + std::to_string(GetNumber(testWindow, "c1", Prop::checked))); SetUnitProperty(testWindow, "c2", Prop::checked, false); }
void onCheck2() { g_log.push_back("check2"); }
void onTick()
{
    g_ticks.push_back(g_platform->nowMs());
    if (g_onTick)
        g_onTick();
}
void onPressTop(int x, int y, int keys) { g_log.push_back("top " + std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(keys)); }
void onPressBottom(int x, int y, int) { g_log.push_back("bottom " + std::to_string(x) + "," + std::to_string(y)); }
void cleanup() { ++g_cleanups; }

const HandlerEntry kHandlers[] = {
    handler("onCreated", onCreated),         handler("onDestroyed", onDestroyed),
    handler("onDialogCreated", onDialogCreated), handler("onDialogDestroyed", onDialogDestroyed),
    handler("onButton", onButton),           handler("onCheck1", onCheck1),
    handler("onCheck2", onCheck2),           handler("onTick", onTick),
    handler("onPressTop", onPressTop),       handler("onPressBottom", onPressBottom),
};

const char kTestWindow[] = R"(
window
    title "测试"
    rect 10 20 300 200
    startPosition 1
    on created onCreated
    on aboutToBeDestroyed onDestroyed
EditBox e7
    rect 5 5 100 20
    inputMode 7
EditBox e0
    rect 5 30 100 20
Button b
    rect 120 5 60 20
    caption "OK"
    on clicked onButton
CheckBox c1
    rect 5 60 60 16
    caption "一"
    on clicked onCheck1
CheckBox c2
    rect 70 60 60 16
    caption "二"
    checked true
    on clicked onCheck2
Timer t1
    rect 0 0 10 10
    on tick onTick
Label top
    parent panel
    rect 10 0 50 20
    on leftButtonDown onPressTop
Label bottom
    parent panel
    rect 0 10 100 20
    on leftButtonDown onPressBottom
DrawPanel panel
    rect 150 100 120 40
Tab tabs
    rect 5 90 140 80
    pages "甲" "乙"
Label onFirst
    parent tabs 0
    rect 5 25 50 16
Label onSecond
    parent tabs 1
    rect 5 25 50 16
Label plain
    rect 200 5 40 16
)";

const char kDialogWindow[] = R"(
window
    title "对话"
    rect 0 0 100 80
    on created onDialogCreated
    on aboutToBeDestroyed onDialogDestroyed
)";

const EmbeddedFile kWindows[] = {
    {"testWindow.window", kTestWindow},
    {"dialogWindow.window", kDialogWindow},
};

class RuntimeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_log.clear();
        g_ticks.clear();
        g_onClick = nullptr;
        g_onTick = nullptr;
        g_cleanups = 0;
        g_platform = &platform;
        runtime = std::make_unique<Runtime>(platform);
        runtime->loadDefinitions(kWindows, kHandlers, {});
        runtime->registerCleanup(cleanup);
        ASSERT_TRUE(LoadWindow(testWindow, std::nullopt, false));
    }
    void TearDown() override { g_platform = nullptr; }

    HeadlessPlatform platform;
    std::unique_ptr<Runtime> runtime;
};

TEST_F(RuntimeTest, shouldCentreWindowAndLeaveClientAreaOfClassicFrame)
{
    WindowInstance* w = platform.window(testWindow);
    EXPECT_EQ(w->x, (1024 - 300) / 2);
    EXPECT_EQ(w->y, (768 - 200) / 2);
    EXPECT_EQ(w->clientWidth, 300 - 6);
    EXPECT_EQ(w->clientHeight, 200 - 3 - 3 - 19);
    EXPECT_EQ(g_log, std::vector<std::string>{"created"});

    // A primary screen to the right of and below another monitor: centred in
    // its own geometry; a window at its stored place stays there.
    platform.screen = {1366, 250, 1279, 1023};
    platform.close(testWindow);
    ASSERT_TRUE(LoadWindow(testWindow, std::nullopt, false));
    ASSERT_TRUE(LoadWindow(dialogWindow, std::nullopt, false));
    w = platform.window(testWindow);
    EXPECT_EQ(w->x, 1366 + 489);
    EXPECT_EQ(w->y, 250 + 411);
    EXPECT_EQ(platform.window(dialogWindow)->x, 0);
    EXPECT_EQ(platform.window(dialogWindow)->y, 0);
}

TEST_F(RuntimeTest, shouldApplyTimerRulesOnTheVirtualClock)
{
    SetUnitProperty(testWindow, "t1", Prop::interval, 5000);
    platform.advance(3000);
    // The same value again does not restart the timer...
    SetUnitProperty(testWindow, "t1", Prop::interval, 5000);
    platform.advance(2000);
    EXPECT_EQ(g_ticks, std::vector<int64_t>{5000});
    // ...a new value restarts it from the write.
    platform.advance(1000);
    SetUnitProperty(testWindow, "t1", Prop::interval, 4000);
    platform.advance(3999);
    EXPECT_EQ(g_ticks.size(), 1u);
    platform.advance(1);
    EXPECT_EQ(g_ticks.back(), 10000);
    platform.advance(4000);
    EXPECT_EQ(g_ticks.back(), 14000);

    // A negative value stops it and reads back as 0.
    SetUnitProperty(testWindow, "t1", Prop::interval, -1);
    EXPECT_EQ(GetNumber(testWindow, "t1", Prop::interval), 0);
    platform.advance(100000);
    EXPECT_EQ(g_ticks.size(), 3u);
}

TEST_F(RuntimeTest, shouldTickNoFasterThanTenMillisecondsAndNeverDoubleADelayedTick)
{
    SetUnitProperty(testWindow, "t1", Prop::interval, 1);
    EXPECT_EQ(GetNumber(testWindow, "t1", Prop::interval), 1);
    int requests = platform.wakeupRequests;
    platform.advance(100);
    EXPECT_EQ(g_ticks.size(), 10u);
    // One wake-up asked of the platform per tick, not one before and one after the handler.
    EXPECT_EQ(platform.wakeupRequests - requests, 10);

    // A handler that holds the thread for 35 ms: the tick due meanwhile comes late, once.
    g_ticks.clear();
    SetUnitProperty(testWindow, "t1", Prop::interval, 20);
    int64_t start = platform.nowMs();
    bool slow = true;
    g_onTick = [&] {
        if (slow) {
            slow = false;
            platform.elapse(35);  // the handler keeps the thread busy
        }
    };
    platform.advance(100);
    ASSERT_GE(g_ticks.size(), 3u);
    EXPECT_EQ(g_ticks[0], start + 20);
    EXPECT_EQ(g_ticks[1], start + 55);  // the tick due at 40, delivered late and only once
    EXPECT_EQ(g_ticks[2], start + 60);
    for (size_t i = 1; i < g_ticks.size(); ++i)
        EXPECT_GT(g_ticks[i], g_ticks[i - 1]);
}

TEST_F(RuntimeTest, shouldHoldAnIntervalBeyondThirtyTwoBitsWhole)
{
    const int64_t hours596 = 596LL * 3600000;
    const int64_t beyond = 2147483648LL * 3;
    SetUnitProperty(testWindow, "t1", Prop::interval, beyond);
    EXPECT_EQ(GetNumber(testWindow, "t1", Prop::interval), beyond);
    platform.advance(hours596);
    EXPECT_TRUE(g_ticks.empty());
    platform.advance(beyond - hours596);
    EXPECT_EQ(g_ticks, std::vector<int64_t>{beyond});
}

TEST_F(RuntimeTest, shouldFilterTypingInModeSevenButNotPastedText)
{
    platform.type(testWindow, "e7", "1a2.3");
    EXPECT_EQ(GetText(testWindow, "e7", Prop::content), "123");
    platform.type(testWindow, "e7", "４-");  // a full-width digit is dropped too
    EXPECT_EQ(GetText(testWindow, "e7", Prop::content), "123-");
    platform.type(testWindow, "e0", "1a2.3");
    EXPECT_EQ(GetText(testWindow, "e0", Prop::content), "1a2.3");

    SetUnitProperty(testWindow, "e7", Prop::content, "");
    platform.paste(testWindow, "e7", " 1.5abc");
    EXPECT_EQ(GetText(testWindow, "e7", Prop::content), " 1.5abc");
    platform.focus(testWindow, "e0");
    EXPECT_EQ(GetText(testWindow, "e7", Prop::content), "1");
}

TEST_F(RuntimeTest, shouldNormaliseModeSevenOnFocusLossBeforeTheButtonHandler)
{
    struct Case {
        const char* typed;
        const char* seen;
    } cases[] = {
        {"007", "7"}, {"000", ""}, {"-", ""}, {"", ""}, {"99999999999", "2147483647"},
        {"-99999999999", "-2147483648"}, {"12-3", "12"}, {"-0", ""}, {"99999999999999999999999", "2147483647"},
    };
    for (const Case& c : cases) {
        SetUnitProperty(testWindow, "e7", Prop::content, "");
        platform.type(testWindow, "e7", c.typed);
        g_log.clear();
        platform.click(testWindow, "b");
        EXPECT_EQ(g_log, std::vector<std::string>{std::string("button e7=") + c.seen}) << c.typed;
    }
    // A handler's write is not normalised until the box loses the focus.
    SetUnitProperty(testWindow, "e7", Prop::content, "0");
    EXPECT_EQ(GetText(testWindow, "e7", Prop::content), "0");
    platform.focus(testWindow, "e7");
    EXPECT_EQ(GetText(testWindow, "e7", Prop::content), "0");
    platform.focus(testWindow, "e0");
    EXPECT_EQ(GetText(testWindow, "e7", Prop::content), "");
}

TEST_F(RuntimeTest, shouldKeepCaretWhereItWasWhenNormalising)
{
    platform.paste(testWindow, "e7", "0012");
    WindowInstance* w = platform.window(testWindow);
    int e7 = w->find("e7");
    w->units[size_t(e7)].caret = 1;
    platform.focus(testWindow, "e0");
    EXPECT_EQ(GetText(testWindow, "e7", Prop::content), "12");
    EXPECT_EQ(w->units[size_t(e7)].caret, 1);
}

TEST_F(RuntimeTest, shouldToggleCheckBoxBeforeItsHandlerAndNotRaiseClickedOnWrites)
{
    platform.click(testWindow, "c1");
    platform.click(testWindow, "c1");
    // c1's handler unchecks c2 by writing: c2's handler must not run.
    EXPECT_EQ(g_log, (std::vector<std::string>{"created", "check1 1", "check1 0"}));
    EXPECT_FALSE(GetUnitProperty(testWindow, "c2", Prop::checked).boolean());
    // Space on the focused box clicks it without moving the focus.
    platform.focus(testWindow, "c2");
    platform.pressSpace(testWindow, "c2");
    EXPECT_TRUE(GetUnitProperty(testWindow, "c2", Prop::checked).boolean());
    EXPECT_EQ(g_log.back(), "check2");
}

TEST_F(RuntimeTest, shouldShowOnlyTheSelectedPage)
{
    EXPECT_TRUE(platform.shown(testWindow, "onFirst"));
    EXPECT_FALSE(platform.shown(testWindow, "onSecond"));
    platform.selectPage(testWindow, "tabs", 1);
    EXPECT_FALSE(platform.shown(testWindow, "onFirst"));
    EXPECT_TRUE(platform.shown(testWindow, "onSecond"));
    SetUnitProperty(testWindow, "tabs", Prop::currentPage, 0);
    EXPECT_EQ(GetNumber(testWindow, "tabs", Prop::currentPage), 0);
    EXPECT_TRUE(platform.shown(testWindow, "onFirst"));
    // A page that does not exist changes nothing.
    SetUnitProperty(testWindow, "tabs", Prop::currentPage, 7);
    EXPECT_EQ(GetNumber(testWindow, "tabs", Prop::currentPage), 0);
}

TEST_F(RuntimeTest, shouldGiveThePressToTheFirstListedOfOverlappingSiblings)
{
    // In the panel at (150,100): "top" spans x 10..60, y 0..20; "bottom" x 0..100, y 10..30.
    platform.pressAt(testWindow, 150 + 20, 100 + 15, 1 | 2);
    platform.pressAt(testWindow, 150 + 80, 100 + 15);
    EXPECT_EQ(g_log, (std::vector<std::string>{"created", "top 10,15,3", "bottom 80,5"}));
    // Hidden, it no longer takes the press.
    SetUnitProperty(testWindow, "top", Prop::visible, false);
    platform.pressAt(testWindow, 150 + 20, 100 + 15);
    EXPECT_EQ(g_log.back(), "bottom 20,5");
}

TEST_F(RuntimeTest, shouldCloseOnEscapeWithAboutToBeDestroyed)
{
    EXPECT_TRUE(platform.escape(testWindow));
    EXPECT_EQ(g_log, (std::vector<std::string>{"created", "destroyed"}));
    EXPECT_EQ(platform.window(testWindow), nullptr);
    // The loop had not started, so no quit is posted.
    EXPECT_FALSE(platform.quitPosted);
}

TEST_F(RuntimeTest, shouldRunDialogModalWhileTicksGoOnAndRestoreTheOtherWindows)
{
    SetUnitProperty(testWindow, "t1", Prop::interval, 100);
    platform.modalScript.push_back([&] {
        EXPECT_TRUE(platform.window(testWindow)->blocked);
        EXPECT_FALSE(platform.click(testWindow, "b"));  // no input reaches the blocked window
        NativeEvent edit(NativeEvent::Kind::edited, platform.window(testWindow), platform.window(testWindow)->find("e0"));
        edit.text = "dropped";
        EXPECT_FALSE(Runtime::get().handleNative(edit));
        EXPECT_EQ(GetText(testWindow, "e0", Prop::content), "");
        platform.advance(250);
        platform.escape(dialogWindow);
    });
    EXPECT_TRUE(LoadWindow(dialogWindow, testWindow, true));
    EXPECT_EQ(g_ticks, (std::vector<int64_t>{100, 200}));
    EXPECT_FALSE(platform.window(testWindow)->blocked);
    EXPECT_EQ(g_log, (std::vector<std::string>{"created", "dialog created", "dialog destroyed"}));
}

TEST_F(RuntimeTest, shouldRefuseToLoadUnderAParentThatIsNotLoaded)
{
    EXPECT_FALSE(LoadWindow(testWindow, dialogWindow, false));
    EXPECT_FALSE(LoadWindow(WindowId{"noSuchWindow"}, std::nullopt, false));
}

TEST_F(RuntimeTest, shouldMakeDialogTopmostWhenItsParentIs)
{
    SetUnitProperty(testWindow, "", Prop::alwaysOnTop, true);
    platform.modalScript.push_back([&] { platform.close(dialogWindow); });
    LoadWindow(dialogWindow, testWindow, true);
    EXPECT_NE(std::find(platform.calls.begin(), platform.calls.end(), "setTopmost dialogWindow on"), platform.calls.end());
}

TEST_F(RuntimeTest, shouldShowMessageBoxWithDefaultTitleAndBlockInputWhileTimersGoOn)
{
    SetUnitProperty(testWindow, "t1", Prop::interval, 50);
    platform.messageBoxScript.push_back([&](const MessageBoxRequest&) {
        EXPECT_FALSE(platform.click(testWindow, "b"));
        platform.advance(120);
        return MessageButton::ok;
    });
    EXPECT_EQ(ShowMessageBox("你好", 0), 0);
    ASSERT_EQ(platform.messageBoxes.size(), 1u);
    EXPECT_EQ(platform.messageBoxes[0].title, "信息：");
    EXPECT_EQ(platform.messageBoxes[0].style, uint32_t(MB_TASKMODAL));
    EXPECT_EQ(g_ticks.size(), 2u);
    EXPECT_TRUE(platform.click(testWindow, "b"));

    // Results map the closing button; numbers and bools show as text.
    platform.messageBoxScript.push_back([](const MessageBoxRequest&) { return MessageButton::no; });
    EXPECT_EQ(ShowMessageBox(int32_t(42), MB_SYSTEMMODAL, Text("题")), 6);
    EXPECT_EQ(platform.messageBoxes[1].message, "42");
    EXPECT_EQ(platform.messageBoxes[1].style, uint32_t(MB_SYSTEMMODAL));
    platform.messageBoxScript.push_back([](const MessageBoxRequest&) { return MessageButton::none; });
    EXPECT_EQ(ShowMessageBox(true, MB_ICONEXCLAMATION), 0);
    EXPECT_EQ(platform.messageBoxes[2].message, "真");
}

TEST_F(RuntimeTest, shouldHandExecuteFileItsArgumentsWithTheirDefaults)
{
    ExecuteFile(std::nullopt, "");
    ExecuteFile(2, "目录", Text("-x"), Text("/tmp"), 4);
    ExecuteFile(9, "a", std::nullopt, std::nullopt, 0);
    ASSERT_EQ(platform.shellRequests.size(), 3u);
    const ShellRequest& bare = platform.shellRequests[0];
    EXPECT_EQ(bare.verb, ShellRequest::Verb::none);
    EXPECT_EQ(bare.file, "");
    EXPECT_FALSE(bare.parameters.has_value());
    EXPECT_EQ(bare.directory, "");
    EXPECT_EQ(bare.show, ShellRequest::Show::normal);
    const ShellRequest& full = platform.shellRequests[1];
    EXPECT_EQ(full.verb, ShellRequest::Verb::explore);
    EXPECT_EQ(full.file, "目录");
    EXPECT_EQ(full.parameters, Text("-x"));
    EXPECT_EQ(full.directory, "/tmp");
    EXPECT_EQ(full.show, ShellRequest::Show::maximized);
    EXPECT_EQ(platform.shellRequests[2].verb, ShellRequest::Verb::none);
    EXPECT_EQ(platform.shellRequests[2].show, ShellRequest::Show::normal);
}

TEST_F(RuntimeTest, shouldTryAPowerActionOnlyInRangeAndAfterThePrivilegeStep)
{
    EXPECT_FALSE(ShutdownSystem(0, true));
    EXPECT_FALSE(ShutdownSystem(6, true));
    EXPECT_TRUE(platform.powerQueries.empty());

    EXPECT_TRUE(ShutdownSystem(5));
    ASSERT_EQ(platform.powerCalls.size(), 1u);
    EXPECT_EQ(platform.powerCalls[0].action, PowerAction::hibernate);
    EXPECT_FALSE(platform.powerCalls[0].force);

    platform.powerPermission = false;
    EXPECT_FALSE(ShutdownSystem(3, true));
    EXPECT_EQ(platform.powerQueries.size(), 2u);
    EXPECT_EQ(platform.powerCalls.size(), 1u);

    platform.powerPermission = true;
    platform.powerAccepted = false;
    EXPECT_FALSE(ShutdownSystem(1, true));
    ASSERT_EQ(platform.powerCalls.size(), 2u);
    EXPECT_EQ(platform.powerCalls[1].action, PowerAction::powerOff);
    EXPECT_TRUE(platform.powerCalls[1].force);
}

TEST_F(RuntimeTest, shouldEndProgramWithoutAboutToBeDestroyedAndCleanUpOnce)
{
    SetUnitProperty(testWindow, "t1", Prop::interval, 10);
    try {
        EndProgram(0);
        FAIL() << "EndProgram returned";
    } catch (const ProcessExit& e) {
        EXPECT_EQ(e.code, 0);
    }
    EXPECT_EQ(g_log, std::vector<std::string>{"created"});
    EXPECT_EQ(g_cleanups, 1);
    EXPECT_TRUE(runtime->windows().empty());
    // Nothing runs any more, whatever still reaches the runtime, and the clean-up does not run again.
    runtime->onWakeup();
    EXPECT_TRUE(g_ticks.empty());
    runtime->shutdownCleanup(true);
    EXPECT_EQ(g_cleanups, 1);
}

TEST_F(RuntimeTest, shouldReportFatalErrorInItsFormAndSkipTheCleanUpRoutine)
{
    try {
        runtime->fatalError(5, "坏了");
        FAIL();
    } catch (const ProcessExit& e) {
        EXPECT_EQ(e.code, -1);
    }
    ASSERT_EQ(platform.messageBoxes.size(), 1u);
    EXPECT_EQ(platform.messageBoxes[0].message, "运行时出错!\r\n\r\n错误代码：5\r\n\r\n错误信息：坏了\r\n");
    EXPECT_EQ(platform.messageBoxes[0].title, "错误");
    EXPECT_EQ(platform.messageBoxes[0].style, uint32_t(MB_ICONHAND));
    EXPECT_EQ(g_cleanups, 0);
    EXPECT_EQ(g_log, std::vector<std::string>{"created"});
}

TEST_F(RuntimeTest, shouldFailFatallyOnAUnitOfAWindowThatIsNotLoaded)
{
    try {
        GetUnitProperty(dialogWindow, "x", Prop::caption);
        FAIL();
    } catch (const ProcessExit& e) {
        EXPECT_EQ(e.code, -1);
    }
    EXPECT_EQ(platform.messageBoxes.at(0).message, "运行时出错!\r\n\r\n错误信息：未载入欲访问窗口组件所在的窗口\r\n");
}

TEST(DefinitionLoader, shouldReportEveryFaultWithFileAndLine)
{
    const char bad[] = "window\n"
                       "    title \"t\"\n"
                       "    colour 1\n"
                       "Label a\n"
                       "    parent nowhere\n"
                       "    on clicked onButton\n"
                       "Timer t\n"
                       "    on tick noSuchHandler\n"
                       "    interval -5\n"
                       "Label a\n"
                       "Label b\n"
                       "    parent window 2\n"
                       "    caption unquoted\n"
                       "    on leftButtonDown onButton\n";
    const EmbeddedFile files[] = {{"bad.window", bad}};
    LoadResult r = loadDefinitions(files, kHandlers, {});
    std::vector<std::string> expected = {
        "bad.window:3: unknown property 'colour'",
        "bad.window:6: a Label has no event clicked",
        "bad.window:8: no handler named 'noSuchHandler'",
        "bad.window:9: expects a whole number from 0 to 2147483647, got '-5'",
        "bad.window:10: the name 'a' is used twice",
        "bad.window:13: expects a quoted text",
        "bad.window:14: handler 'onButton' does not take the arguments of leftButtonDown",
        "bad.window:4: no parent named 'nowhere'",
        "bad.window:11: a page number is only for a tab parent",
    };
    EXPECT_EQ(r.faults, expected);
    EXPECT_TRUE(r.windows.empty());
}

TEST(DefinitionLoader, shouldEndTheProgramWhenDefinitionsDoNotLoad)
{
    HeadlessPlatform platform;
    Runtime runtime(platform);
    const EmbeddedFile files[] = {{"bad.window", "Label x\n"}};
    try {
        runtime.loadDefinitions(files, kHandlers, {});
        FAIL();
    } catch (const ProcessExit& e) {
        EXPECT_EQ(e.code, -1);
    }
    EXPECT_EQ(platform.messageBoxes.at(0).message, "运行时出错!\r\n\r\n错误信息：载入窗口模板数据段出错!\r\n");
}

TEST(StartWindow, shouldEndTheProgramWhenTheStartWindowCannotBeBuilt)
{
    HeadlessPlatform platform;
    Runtime runtime(platform);
    runtime.loadDefinitions(kWindows, kHandlers, {});
    platform.failCreateWindow = true;
    try {
        LoadStartWindow(testWindow);
        FAIL();
    } catch (const ProcessExit& e) {
        EXPECT_EQ(e.code, -1);
    }
    EXPECT_EQ(platform.messageBoxes.at(0).message, "运行时出错!\r\n\r\n错误信息：载入启动窗口失败\r\n");
}

} // namespace

namespace {

TEST(OutOfMemory, shouldEndWithTheFatalErrorNamingTheBytes)
{
    HeadlessPlatform platform;
    Runtime runtime(platform);
    int cleanups = 0;
    static int* counter = &cleanups;
    runtime.registerCleanup([] { ++*counter; });
    try {
        ReportOutOfMemory(4096);
        FAIL();
    } catch (const ProcessExit& e) {
        EXPECT_EQ(e.code, -1);
    }
    EXPECT_EQ(platform.messageBoxes.at(0).message, "运行时出错!\r\n\r\n错误信息：分配 4096 字节内存失败!\r\n");
    EXPECT_EQ(cleanups, 0);
}

} // namespace
