// The countdown timer's option groups, its settings at start, and the three
// "OK" buttons on the virtual clock.
#include <gtest/gtest.h>

#include "countdown.h"
#include "harness.h"

namespace {

bool checked(const char* unit) { return GetUnitProperty(mainWindow, unit, Prop::checked).boolean(); }
Text caption(const char* unit) { return GetText(mainWindow, unit, Prop::caption); }
int64_t interval(const char* timer) { return GetNumber(mainWindow, timer, Prop::interval); }

class CountdownTest : public ::testing::Test {
protected:
    void SetUp() override { h.start(); }
    std::vector<Text> messages()
    {
        std::vector<Text> out;
        for (const MessageBoxRequest& m : h.platform.messageBoxes)
            out.push_back(m.message);
        return out;
    }
    ProgramHarness h;
};

TEST(CountdownSettings, shouldLoadPathsAndOnlyTrueSwitchesWithoutWritingTheFile)
{
    ProgramHarness h;
    const std::string ini = "[yy]\r\n音乐=/home/u/歌.mp3\r\n程序= http://example.org \r\n程序2=\"/opt/a b\"\r\n程序3=x\r\n"
                            "[sz]\r\n自启=真\r\n最前=1\r\n";
    testenv::writeFile(h.path("pz.ini"), ini);
    h.start();
    EXPECT_EQ(GetText(mainWindow, "编辑框2", Prop::content), "/home/u/歌.mp3");
    EXPECT_EQ(GetText(mainWindow, "启动程序框1", Prop::content), "http://example.org");
    EXPECT_EQ(GetText(mainWindow, "启动程序框2", Prop::content), "/opt/a b");
    EXPECT_EQ(GetText(mainWindow, "启动程序3", Prop::content), "x");
    EXPECT_TRUE(checked("选择框12"));
    EXPECT_FALSE(checked("选择框13"));
    EXPECT_EQ(iniFilePath, fromUtf8(h.path("pz.ini")));
    EXPECT_EQ(testenv::readFile(h.path("pz.ini")), ini);
}

TEST(CountdownSettings, shouldCheckASwitchOnlyForTheExactTextTrue)
{
    for (const char* v : {"假", "1", "true", "", " 真x"}) {
        ProgramHarness h;
        testenv::writeFile(h.path("pz.ini"), std::string("[sz]\n最前=") + v + "\n自启=" + v + "\n");
        h.start();
        EXPECT_FALSE(checked("选择框13")) << v;
        EXPECT_FALSE(checked("选择框12")) << v;
    }
}

TEST_F(CountdownTest, shouldActAsOneChoiceAndRewriteTheLabels)
{
    h.platform.click(mainWindow, "选择框4");
    EXPECT_FALSE(checked("选择框2"));
    EXPECT_FALSE(checked("选择框3"));
    EXPECT_TRUE(checked("选择框4"));
    EXPECT_EQ(caption("标签1"), "设置几小时后鸣叫：");
    EXPECT_EQ(caption("倒计时标签"), "小时");

    // Unchecking the checked box leaves the group empty and the unit in force.
    h.platform.click(mainWindow, "选择框4");
    EXPECT_FALSE(checked("选择框4"));
    EXPECT_EQ(caption("倒计时标签"), "小时");
    EXPECT_EQ(caption("标签1"), "设置几小时后鸣叫：");

    // From the empty state a click checks and writes.
    h.platform.click(mainWindow, "选择框3");
    EXPECT_TRUE(checked("选择框3"));
    EXPECT_EQ(caption("倒计时标签"), "分钟");
    EXPECT_EQ(caption("标签1"), "设置几分钟后鸣叫：");

    // The other pages write only their unit label.
    h.platform.selectPage(mainWindow, "选择夹1", 1);
    h.platform.click(mainWindow, "选择框7");
    EXPECT_EQ(caption("启动文件标签"), "分钟");
    EXPECT_FALSE(checked("选择框6"));
    EXPECT_EQ(caption("标签1"), "设置几分钟后鸣叫：");
    h.platform.selectPage(mainWindow, "选择夹1", 2);
    h.platform.click(mainWindow, "选择框11");
    EXPECT_EQ(caption("关机标签"), "小时");
    EXPECT_FALSE(checked("选择框9"));
}

TEST_F(CountdownTest, shouldKeepAtMostOnePowerActionAndAlertModeChecked)
{
    h.platform.selectPage(mainWindow, "选择夹1", 2);
    h.platform.click(mainWindow, "重启选择框");
    EXPECT_FALSE(checked("关机选择框"));
    EXPECT_TRUE(checked("重启选择框"));
    h.platform.click(mainWindow, "重启选择框");
    for (const char* b : {"关机选择框", "待机选择框", "注销选择框", "重启选择框"})
        EXPECT_FALSE(checked(b)) << b;

    h.platform.selectPage(mainWindow, "选择夹1", 0);
    h.platform.click(mainWindow, "选择框1");
    EXPECT_TRUE(checked("选择框1"));
    EXPECT_FALSE(checked("选择框5"));
}

TEST_F(CountdownTest, shouldRefuseAnEmptyTimeAndLeaveARunningCountdownAlone)
{
    // At start the box holds "0" and the focus; pressing OK takes the focus and empties it.
    h.platform.click(mainWindow, "按钮1");
    EXPECT_EQ(messages(), std::vector<Text>{"你未输入时间！"});
    EXPECT_EQ(h.platform.messageBoxes[0].title, "信息：");
    EXPECT_EQ(h.platform.messageBoxes[0].style, uint32_t(MB_TASKMODAL));
    EXPECT_EQ(interval("时钟1"), 0);

    h.platform.type(mainWindow, "编辑框1", "5");
    h.platform.click(mainWindow, "按钮1");
    EXPECT_EQ(interval("时钟1"), 5000);
    EXPECT_EQ(messages().back(), "你设置了5秒后鸣叫！");
    h.platform.advance(2000);
    SetUnitProperty(mainWindow, "编辑框1", Prop::content, "");
    h.platform.click(mainWindow, "按钮1");
    EXPECT_EQ(messages().back(), "你未输入时间！");
    EXPECT_EQ(interval("时钟1"), 5000);
}

TEST_F(CountdownTest, shouldConvertEachUnitToMilliseconds)
{
    struct Case {
        const char* box;
        const char* typed;
        int64_t ms;
        const char* message;
    } cases[] = {
        {"选择框2", "5", 5000, "你设置了5秒后鸣叫！"},
        {"选择框3", "5", 300000, "你设置了5分钟后鸣叫！"},
        {"选择框4", "2", 7200000, "你设置了2小时后鸣叫！"},
        {"选择框4", "-5", 0, "你设置了-5小时后鸣叫！"},
        {"选择框2", "2147483647", 2147483647000LL, "你设置了2147483647秒后鸣叫！"},
    };
    for (const Case& c : cases) {
        if (!checked(c.box))
            h.platform.click(mainWindow, c.box);
        SetUnitProperty(mainWindow, "编辑框1", Prop::content, "");
        h.platform.type(mainWindow, "编辑框1", c.typed);
        h.platform.click(mainWindow, "按钮1");
        EXPECT_EQ(interval("时钟1"), c.ms) << c.typed;
        EXPECT_EQ(messages().back(), c.message);
    }
}

TEST_F(CountdownTest, shouldHoldATimeBeyondTheTimersRangeForAsLongAsItCan)
{
    // Written while the focus is elsewhere, so the box never normalises the text.
    const struct {
        const char* box;
        const char* text;
        int64_t ms;
    } cases[] = {
        {"选择框2", "99999999999999999999", INT64_MAX},
        {"选择框2", "1e9", INT64_MAX},  // "1e9000": beyond a double
        {"选择框4", "1e300", INT64_MAX},
        {"选择框3", "-99999999999999999999", 0},
    };
    for (const auto& c : cases) {
        if (!checked(c.box))
            h.platform.click(mainWindow, c.box);
        h.platform.focus(mainWindow, "按钮1");
        SetUnitProperty(mainWindow, "编辑框1", Prop::content, c.text);
        h.platform.pressSpace(mainWindow, "按钮1");
        EXPECT_EQ(interval("时钟1"), c.ms) << c.text;
        EXPECT_EQ(messages().back(), Join("你设置了", c.text, caption("倒计时标签"), "后鸣叫！"));
    }
}

TEST_F(CountdownTest, shouldCountInTheLastUnitWhenItsBoxWasUnchecked)
{
    h.platform.click(mainWindow, "选择框3");
    h.platform.click(mainWindow, "选择框3");  // no unit box checked now
    SetUnitProperty(mainWindow, "编辑框1", Prop::content, "");
    h.platform.type(mainWindow, "编辑框1", "2");
    h.platform.click(mainWindow, "按钮1");
    EXPECT_EQ(interval("时钟1"), 120000);
    EXPECT_EQ(messages().back(), "你设置了2分钟后鸣叫！");
}

TEST_F(CountdownTest, shouldRestartOnADifferentIntervalButNotOnTheSameOne)
{
    SetUnitProperty(mainWindow, "编辑框1", Prop::content, "");
    h.platform.type(mainWindow, "编辑框1", "60");
    h.platform.click(mainWindow, "按钮1");  // 60 s
    int64_t started = h.platform.nowMs();
    h.platform.advance(20000);
    // One minute is the same interval: the countdown keeps its end.
    h.platform.click(mainWindow, "选择框3");
    SetUnitProperty(mainWindow, "编辑框1", Prop::content, "1");
    h.platform.click(mainWindow, "按钮1");
    EXPECT_EQ(h.platform.messageBoxes.back().message, "你设置了1分钟后鸣叫！");
    WindowInstance* w = h.platform.window(mainWindow);
    const Unit& timer = w->units[size_t(w->find("时钟1"))];
    EXPECT_EQ(timer.due, started + 60000);
    // Two minutes restart it from the press.
    SetUnitProperty(mainWindow, "编辑框1", Prop::content, "2");
    h.platform.click(mainWindow, "按钮1");
    EXPECT_EQ(timer.due, h.platform.nowMs() + 120000);
}

TEST_F(CountdownTest, shouldStartTheLaunchCountdownFromTheUntouchedZero)
{
    // The "0" written at creation stays until the box first loses the focus.
    h.platform.selectPage(mainWindow, "选择夹1", 1);
    h.platform.click(mainWindow, "选择框7");
    h.platform.click(mainWindow, "按钮8");
    EXPECT_EQ(messages(), std::vector<Text>{"你设置了0分钟后启动程序！"});
    EXPECT_EQ(interval("时钟2"), 0);

    SetUnitProperty(mainWindow, "编辑框4", Prop::content, "");
    h.platform.type(mainWindow, "编辑框4", "3");
    h.platform.click(mainWindow, "按钮8");
    EXPECT_EQ(interval("时钟2"), 180000);
    EXPECT_EQ(messages().back(), "你设置了3分钟后启动程序！");
    // A negative time stops a running launch countdown and is confirmed all the same.
    SetUnitProperty(mainWindow, "编辑框4", Prop::content, "");
    h.platform.type(mainWindow, "编辑框4", "-1");
    h.platform.click(mainWindow, "按钮8");
    EXPECT_EQ(interval("时钟2"), 0);
    EXPECT_EQ(messages().back(), "你设置了-1分钟后启动程序！");
}

TEST_F(CountdownTest, shouldNormaliseATimeBoxWhosePageIsLeft)
{
    h.platform.selectPage(mainWindow, "选择夹1", 1);
    SetUnitProperty(mainWindow, "编辑框4", Prop::content, "");
    h.platform.paste(mainWindow, "编辑框4", "007");
    h.platform.selectPage(mainWindow, "选择夹1", 0);
    EXPECT_EQ(GetText(mainWindow, "编辑框4", Prop::content), "7");
    EXPECT_EQ(h.platform.focusedUnit(mainWindow), -1);
}

TEST_F(CountdownTest, shouldNameThePowerActionOfTheLastPressThatFoundOne)
{
    h.platform.selectPage(mainWindow, "选择夹1", 2);
    h.platform.click(mainWindow, "关机选择框");  // none checked now
    h.platform.type(mainWindow, "编辑框3", "10");
    h.platform.click(mainWindow, "选择框10");
    h.platform.click(mainWindow, "按钮14");
    EXPECT_EQ(messages().back(), "你设置了10分钟后");
    h.platform.click(mainWindow, "待机选择框");
    // A refused press updates the label too.
    SetUnitProperty(mainWindow, "编辑框3", Prop::content, "");
    h.platform.click(mainWindow, "按钮14");
    EXPECT_EQ(messages().back(), "你未输入时间！");
    EXPECT_EQ(caption("关机状态标签"), "待机");
    h.platform.click(mainWindow, "待机选择框");
    h.platform.type(mainWindow, "编辑框3", "2");
    h.platform.click(mainWindow, "按钮14");
    EXPECT_EQ(messages().back(), "你设置了2分钟后待机");
    EXPECT_EQ(interval("时钟3"), 120000);
}

TEST_F(CountdownTest, shouldRunTheCountdownFromThePressNotFromTheConfirmation)
{
    h.platform.type(mainWindow, "编辑框1", "1");
    int64_t pressed = h.platform.nowMs();
    h.platform.messageBoxScript.push_back([&](const MessageBoxRequest&) {
        h.platform.advance(400);  // the user reads the confirmation
        return MessageButton::ok;
    });
    h.platform.click(mainWindow, "按钮1");
    WindowInstance* w = h.platform.window(mainWindow);
    EXPECT_EQ(w->units[size_t(w->find("时钟1"))].due, pressed + 1000);
}

} // namespace
