// The "定时关机" page: the power action at the end of its countdown and
// "强制取消", with the power calls recorded.
#include <gtest/gtest.h>

#include "countdown.h"
#include "harness.h"

namespace {

int64_t interval(const char* timer) { return GetNumber(mainWindow, timer, Prop::interval); }

class PowerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        h.start();
        h.platform.selectPage(mainWindow, "选择夹1", 2);
    }
    void startPower(const char* seconds)
    {
        SetUnitProperty(mainWindow, "编辑框3", Prop::content, seconds);
        h.platform.click(mainWindow, "按钮14");
    }
    ProgramHarness h;
};

TEST_F(PowerTest, shouldAskForTheActionCheckedAtTheTickForced)
{
    const std::pair<const char*, PowerAction> boxes[] = {{"重启选择框", PowerAction::reboot},
                                                         {"待机选择框", PowerAction::suspend},
                                                         {"注销选择框", PowerAction::logOff},
                                                         {"关机选择框", PowerAction::powerOff}};
    for (auto [box, action] : boxes) {
        h.platform.powerCalls.clear();
        startPower("1");
        h.platform.click(mainWindow, box);  // after the start: the tick reads the box anew
        size_t boxesShown = h.platform.messageBoxes.size();
        h.platform.advance(1000);
        ASSERT_EQ(h.platform.powerCalls.size(), 1u) << box;
        EXPECT_EQ(h.platform.powerCalls[0].action, action) << box;
        EXPECT_TRUE(h.platform.powerCalls[0].force);
        EXPECT_EQ(interval("时钟3"), 0);
        EXPECT_EQ(h.platform.messageBoxes.size(), boxesShown);
    }
}

TEST_F(PowerTest, shouldOnlyStopWhenNothingIsCheckedOrTheSystemRefuses)
{
    startPower("1");
    h.platform.click(mainWindow, "关机选择框");
    h.platform.advance(1000);
    EXPECT_TRUE(h.platform.powerQueries.empty());
    EXPECT_EQ(interval("时钟3"), 0);

    h.platform.click(mainWindow, "关机选择框");
    h.platform.powerPermission = false;
    size_t boxesShown = h.platform.messageBoxes.size() + 1;  // the start's confirmation
    startPower("1");
    h.platform.advance(1000);
    EXPECT_EQ(h.platform.powerQueries.size(), 1u);
    EXPECT_TRUE(h.platform.powerCalls.empty());
    EXPECT_EQ(interval("时钟3"), 0);
    EXPECT_EQ(h.platform.messageBoxes.size(), boxesShown);
}

TEST_F(PowerTest, shouldCancelOnlyThePowerCountdownAndSaySoEvenWhenIdle)
{
    h.platform.click(mainWindow, "按钮15");
    ASSERT_EQ(h.platform.messageBoxes.size(), 1u);
    EXPECT_EQ(h.platform.messageBoxes[0].message, "强制停止倒计时成功！");
    EXPECT_EQ(h.platform.messageBoxes[0].style, uint32_t(48 | MB_TASKMODAL));
    EXPECT_EQ(h.platform.messageBoxes[0].title, "警告");

    h.platform.selectPage(mainWindow, "选择夹1", 0);
    h.platform.type(mainWindow, "编辑框1", "9");
    h.platform.click(mainWindow, "按钮1");
    h.platform.selectPage(mainWindow, "选择夹1", 1);
    h.platform.type(mainWindow, "编辑框4", "2");
    h.platform.click(mainWindow, "按钮8");
    h.platform.selectPage(mainWindow, "选择夹1", 2);
    startPower("2");
    h.platform.click(mainWindow, "按钮15");
    EXPECT_EQ(interval("时钟3"), 0);
    EXPECT_EQ(interval("时钟1"), 9000);
    EXPECT_EQ(h.platform.messageBoxes.back().message, "强制停止倒计时成功！");
    h.platform.advance(2000);
    EXPECT_TRUE(h.platform.powerQueries.empty());
    EXPECT_EQ(h.platform.shellRequests.size(), 3u) << "the launch countdown ends as set";
}

} // namespace
