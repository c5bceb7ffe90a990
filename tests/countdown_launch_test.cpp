// The "启动程序" page: browsing and clearing the three paths, and the launch at
// the end of its countdown, with the shell requests recorded.
#include <gtest/gtest.h>

#include "countdown.h"
#include "harness.h"
#include "settings_store.h"

namespace {

Text content(const char* box) { return GetText(mainWindow, box, Prop::content); }

class LaunchTest : public ::testing::Test {
protected:
    void startLaunch(const char* seconds)
    {
        h.platform.selectPage(mainWindow, "选择夹1", 1);
        h.platform.type(mainWindow, "编辑框4", seconds);
        h.platform.click(mainWindow, "按钮8");
    }
    std::vector<Text> launchedFiles()
    {
        std::vector<Text> out;
        for (const ShellRequest& r : h.platform.shellRequests)
            out.push_back(r.file);
        return out;
    }
    ProgramHarness h;
};

TEST_F(LaunchTest, shouldLaunchEveryBoxInOrderOnceAndStop)
{
    h.start();
    SetUnitProperty(mainWindow, "启动程序3", Prop::content, "tool.sh");
    startLaunch("2");
    size_t boxes = h.platform.messageBoxes.size();
    h.platform.advance(1999);
    EXPECT_TRUE(h.platform.shellRequests.empty());
    h.platform.advance(1);
    EXPECT_EQ(launchedFiles(), (std::vector<Text>{"", "", "tool.sh"})) << "empty boxes are not skipped";
    for (const ShellRequest& r : h.platform.shellRequests) {
        EXPECT_EQ(r.verb, ShellRequest::Verb::none);
        EXPECT_FALSE(r.parameters.has_value());
        EXPECT_EQ(r.directory, "");
        EXPECT_EQ(r.show, ShellRequest::Show::normal);
    }
    EXPECT_EQ(GetNumber(mainWindow, "时钟2", Prop::interval), 0);
    h.platform.advance(10000);
    EXPECT_EQ(h.platform.shellRequests.size(), 3u);
    EXPECT_EQ(h.platform.messageBoxes.size(), boxes) << "the launch shows nothing";

    // A second countdown; the same address twice is opened twice, in box order.
    SetUnitProperty(mainWindow, "启动程序框1", Prop::content, "https://example.com/a b");
    SetUnitProperty(mainWindow, "启动程序框2", Prop::content, "https://example.com/a b");
    SetUnitProperty(mainWindow, "编辑框4", Prop::content, "1");
    h.platform.click(mainWindow, "按钮8");
    h.platform.shellRequests.clear();
    h.platform.advance(1000);
    EXPECT_EQ(launchedFiles(), (std::vector<Text>{"https://example.com/a b", "https://example.com/a b", "tool.sh"}));
}

TEST_F(LaunchTest, shouldReadTheBoxesAtTheTickAndStoreNothingTypedOrCleared)
{
    const std::string ini = "[yy]\r\n程序=/stored/one\r\n程序2=/stored/two\r\n";
    testenv::writeFile(h.path("pz.ini"), ini);
    h.start();
    startLaunch("5");
    h.platform.advance(1000);
    h.platform.click(mainWindow, "按钮11");
    EXPECT_EQ(content("启动程序框1"), "");
    EXPECT_NE(GetNumber(mainWindow, "时钟2", Prop::interval), 0) << "clearing leaves the countdown running";
    h.platform.type(mainWindow, "启动程序3", "typed 路径");
    h.platform.advance(4000);
    EXPECT_EQ(launchedFiles(), (std::vector<Text>{"", "/stored/two", "typed 路径"}));
    EXPECT_EQ(testenv::readFile(h.path("pz.ini")), ini);
}

TEST_F(LaunchTest, shouldShareOneDialogThatProposesTheNameChosenLast)
{
    h.start();
    h.platform.selectPage(mainWindow, "选择夹1", 1);
    h.platform.fileDialogScript.push_back([](const FileDialogRequest&) { return Text("/p/第一"); });
    h.platform.click(mainWindow, "按钮6");
    h.platform.fileDialogScript.push_back([](const FileDialogRequest&) { return Text("/p/second"); });
    h.platform.click(mainWindow, "按钮9");
    ASSERT_EQ(h.platform.fileDialogs.size(), 2u);
    EXPECT_EQ(h.platform.fileDialogs[0].filter, "任何文件（*.*）|*.*||");
    EXPECT_EQ(h.platform.fileDialogs[1].proposedName, "/p/第一");
    EXPECT_EQ(content("启动程序框1"), "/p/第一");
    EXPECT_EQ(content("启动程序框2"), "/p/second");
    EXPECT_EQ(ReadIniValue(iniFilePath, "yy", "程序"), "/p/第一");
    EXPECT_EQ(ReadIniValue(iniFilePath, "yy", "程序2"), "/p/second");

    // A cancel writes neither the box nor the file.
    SetUnitProperty(mainWindow, "启动程序3", Prop::content, "by hand");
    h.platform.click(mainWindow, "按钮10");
    EXPECT_EQ(h.platform.fileDialogs[2].proposedName, "/p/second");
    EXPECT_EQ(content("启动程序3"), "by hand");
    EXPECT_EQ(ReadIniValue(iniFilePath, "yy", "程序3"), "");

    h.platform.click(mainWindow, "按钮12");
    h.platform.click(mainWindow, "按钮13");
    EXPECT_EQ(content("启动程序框2"), "");
    EXPECT_EQ(content("启动程序3"), "");
    EXPECT_EQ(ReadIniValue(iniFilePath, "yy", "程序2"), "/p/second") << "clearing keeps the stored path";
}

} // namespace
