// The countdown timer's start, its main window as built from its definition,
// and the ways it ends.
#include <gtest/gtest.h>

#include "countdown.h"
#include "harness.h"

namespace {

TEST(CountdownStart, shouldComeUpWithItsStartValuesAndFocus)
{
    ProgramHarness h;
    h.start();
    WindowInstance* w = h.platform.window(mainWindow);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->units[0].text, "倒计时提示");
    EXPECT_EQ(w->units.size(), 77u);
    EXPECT_EQ(w->clientWidth, 281);
    EXPECT_EQ(w->clientHeight, 253);
    EXPECT_EQ(w->x, (1024 - 287) / 2);
    EXPECT_EQ(GetText(mainWindow, "编辑框1", Prop::content), "0");
    EXPECT_EQ(GetText(mainWindow, "编辑框4", Prop::content), "0");
    EXPECT_EQ(GetText(mainWindow, "编辑框3", Prop::content), "");
    for (const char* label : {"倒计时标签", "启动文件标签", "关机标签"})
        EXPECT_EQ(GetText(mainWindow, label, Prop::caption), "秒");
    EXPECT_EQ(w->focus, w->find("编辑框1"));
    EXPECT_EQ(GetNumber(mainWindow, "选择夹1", Prop::currentPage), 0);
    for (const char* t : {"时钟1", "时钟2", "时钟3", "时钟4"})
        EXPECT_EQ(GetNumber(mainWindow, t, Prop::interval), 0);
    for (const char* c : {"选择框2", "选择框6", "选择框9", "选择框5", "关机选择框"})
        EXPECT_TRUE(GetUnitProperty(mainWindow, c, Prop::checked).boolean()) << c;
    for (const char* c : {"选择框1", "选择框3", "选择框4", "选择框12", "选择框13", "待机选择框"})
        EXPECT_FALSE(GetUnitProperty(mainWindow, c, Prop::checked).boolean()) << c;
    EXPECT_FALSE(GetUnitProperty(mainWindow, "图片框1", Prop::visible).boolean());
    EXPECT_FALSE(GetUnitProperty(mainWindow, "关机状态标签", Prop::visible).boolean());
    EXPECT_EQ(w->units[size_t(w->find("按钮17"))].text, "按钮");
    EXPECT_FALSE(testenv::exists(h.path("pz.ini")));
}

TEST(CountdownStart, shouldComeUpCentredOnAPrimaryScreenBelowAnother)
{
    ProgramHarness h;
    h.platform.screen = {0, 1080, 1920, 1080};
    h.start();
    EXPECT_EQ(h.platform.window(mainWindow)->x, (1920 - 287) / 2);
    EXPECT_EQ(h.platform.window(mainWindow)->y, 1080 + (1080 - 278) / 2);
}

TEST(CountdownStart, shouldShowEachPagesUnitsOnlyOnItsPage)
{
    ProgramHarness h;
    h.start();
    EXPECT_TRUE(h.platform.shown(mainWindow, "按钮1"));
    EXPECT_FALSE(h.platform.shown(mainWindow, "标签7"));
    h.platform.selectPage(mainWindow, "选择夹1", 4);
    EXPECT_FALSE(h.platform.shown(mainWindow, "按钮1"));
    for (const char* u : {"标签6", "画板1", "标签7", "标签8"})
        EXPECT_TRUE(h.platform.shown(mainWindow, u)) << u;
    EXPECT_FALSE(h.platform.shown(mainWindow, "图片框1"));
}

TEST(CountdownEnd, shouldEndWithCodeZeroWhenTheWindowIsClosedByEscape)
{
    ProgramHarness h;
    h.platform.loopScript.push_back([&] { h.platform.escape(mainWindow); });
    EXPECT_EQ(h.run(), 0);
    EXPECT_TRUE(h.platform.quitPosted);
    EXPECT_TRUE(iniFilePath.empty());
}

TEST(CountdownEnd, shouldEndWithCodeZeroAtOnceOnForceClose)
{
    ProgramHarness h;
    h.platform.loopScript.push_back([&] {
        h.platform.selectPage(mainWindow, "选择夹1", 2);
        h.platform.click(mainWindow, "按钮16");
        ADD_FAILURE() << "the click returned";
    });
    EXPECT_EQ(h.run(), 0);
    EXPECT_FALSE(h.platform.quitPosted);
    EXPECT_TRUE(h.runtime->windows().empty());
}

TEST(CountdownEnd, shouldCloseAsByTheCloseBoxWhenTheSessionEnds)
{
    ProgramHarness h;
    h.platform.loopScript.push_back([&] {
        EXPECT_TRUE(testenv::exists(toFileName(DefaultSoundPath())));
        h.runtime->requestEnd();
    });
    EXPECT_EQ(h.run(), 0);
    EXPECT_TRUE(h.platform.quitPosted);
    EXPECT_FALSE(testenv::exists(toFileName(DefaultSoundPath())));
}

// A library that ends the process itself (the display is gone): the main
// window's clean-up handler removes the sound; no window is touched after.
TEST(CountdownEnd, shouldRemoveTheDefaultSoundWhenTheProcessEndsUnasked)
{
    ProgramHarness h;
    h.start();
    const size_t calls = h.platform.calls.size();
    h.runtime->processEndingUnexpectedly();
    EXPECT_FALSE(testenv::exists(toFileName(DefaultSoundPath())));
    EXPECT_EQ(h.platform.calls.size(), calls);
    EXPECT_FALSE(h.platform.click(mainWindow, "按钮1"));
}

} // namespace
