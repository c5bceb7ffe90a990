// The "设置" page (always on top, start at login), the registry services it
// uses, and the uses message, "关于我们" link and studio picture.
#include <gtest/gtest.h>

#include <algorithm>

#include "countdown.h"
#include "harness.h"
#include "settings_store.h"

namespace {

const Text kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::string kAutostart = HeadlessPlatform::registryPath(RegistryRoot::localMachine, kRunKey, "zuv");

int callsStartingWith(const HeadlessPlatform& p, const std::string& prefix)
{
    return int(std::count_if(p.calls.begin(), p.calls.end(), [&](const std::string& c) { return c.starts_with(prefix); }));
}

struct OptionsPage : ::testing::Test {
    ProgramHarness h;

    void save(bool autostart, bool onTop)
    {
        h.platform.selectPage(mainWindow, "选择夹1", 3);
        if (GetUnitProperty(mainWindow, "选择框12", Prop::checked).boolean() != autostart)
            h.platform.click(mainWindow, "选择框12");
        if (GetUnitProperty(mainWindow, "选择框13", Prop::checked).boolean() != onTop)
            h.platform.click(mainWindow, "选择框13");
        h.platform.click(mainWindow, "按钮17");
    }
    Text stored(const char* key) { return ReadIniValue(iniFilePath, "sz", key); }
};

TEST_F(OptionsPage, shouldStoreBothSwitchesAndLeaveAnExistingAutostartValueAlone)
{
    h.platform.registry[kAutostart] = {RegistryValue::Type::sz, Text("/elsewhere/countdown\0", 21)};
    h.start();
    save(true, false);
    EXPECT_EQ(stored("自启"), "真");
    EXPECT_EQ(stored("最前"), "假");
    EXPECT_EQ(callsStartingWith(h.platform, "registryValueExists"), 1);
    EXPECT_EQ(callsStartingWith(h.platform, "registrySetValue"), 0);
    EXPECT_EQ(h.platform.registry[kAutostart].data, Text("/elsewhere/countdown\0", 21));
    EXPECT_TRUE(h.platform.messageBoxes.empty());
}

TEST_F(OptionsPage, shouldLeaveTheRegistryAloneWhenUncheckedAndAbsent)
{
    h.start();
    save(false, false);
    EXPECT_EQ(stored("自启"), "假");
    EXPECT_EQ(callsStartingWith(h.platform, "registry"), 1);
    EXPECT_EQ(GetNumber(mainWindow, "时钟4", Prop::interval), 0);
}

TEST_F(OptionsPage, shouldWriteTheAutostartValueThenDeleteItWhenUnchecked)
{
    h.start();
    save(true, false);
    ASSERT_TRUE(h.platform.registry.contains(kAutostart));
    const RegistryValue v = h.platform.registry[kAutostart];
    EXPECT_EQ(v.type, RegistryValue::Type::sz);
    EXPECT_EQ(v.data, Join(fromUtf8(h.runDir), "/countdown") + '\0');

    save(false, false);
    EXPECT_FALSE(h.platform.registry.contains(kAutostart));
    EXPECT_EQ(callsStartingWith(h.platform, "registryDeleteValue"), 1);
    EXPECT_EQ(callsStartingWith(h.platform, "registryDeleteKey"), 0);
}

TEST_F(OptionsPage, shouldKeepARunDirectoryWithDoubleByteCharactersByteForByte)
{
    // "倒计时" and a character whose trail byte is a backslash.
    const Text dir = "/home/\xB5\xB9\xBC\xC6\xCA\xB1\x81\x5C";
    h.start();
    SetRunDirectory(dir);
    save(true, false);
    EXPECT_EQ(h.platform.registry[kAutostart].data, dir + "/countdown" + '\0');
}

TEST_F(OptionsPage, shouldChangeNothingWhenABoxIsClickedWithoutSaving)
{
    h.start();
    h.platform.selectPage(mainWindow, "选择夹1", 3);
    h.platform.click(mainWindow, "选择框12");
    h.platform.click(mainWindow, "选择框13");
    h.platform.advance(1000);
    EXPECT_FALSE(testenv::exists(h.path("pz.ini")));
    EXPECT_EQ(callsStartingWith(h.platform, "registry"), 0);
    EXPECT_EQ(h.platform.topmostCalls, 0);
}

TEST_F(OptionsPage, shouldPutTheWindowOnTopAtEveryTickFromTheStartWhenStored)
{
    testenv::writeFile(h.path("pz.ini"), "[sz]\r\n最前=真\r\n");
    h.start();
    EXPECT_TRUE(GetUnitProperty(mainWindow, "选择框13", Prop::checked).boolean());
    EXPECT_EQ(GetNumber(mainWindow, "时钟4", Prop::interval), 1);
    EXPECT_EQ(h.platform.topmostCalls, 0);
    h.platform.advance(10);
    EXPECT_EQ(h.platform.topmostCalls, 1);
    EXPECT_TRUE(GetUnitProperty(mainWindow, "", Prop::alwaysOnTop).boolean());
    // The 1 ms interval ticks at the 10 ms floor, re-applying every time.
    h.platform.advance(1000);
    EXPECT_EQ(h.platform.topmostCalls, 101);
}

TEST_F(OptionsPage, shouldOnlyStopTheTimerWhenSwitchedOffSoTheWindowStaysOnTop)
{
    h.start();
    save(false, true);
    EXPECT_EQ(stored("最前"), "真");
    h.platform.advance(50);
    ASSERT_GT(h.platform.topmostCalls, 0);
    save(false, false);
    EXPECT_EQ(stored("最前"), "假");
    const int calls = h.platform.topmostCalls;
    h.platform.advance(1000);
    EXPECT_EQ(GetNumber(mainWindow, "时钟4", Prop::interval), 0);
    EXPECT_EQ(h.platform.topmostCalls, calls);
    EXPECT_TRUE(GetUnitProperty(mainWindow, "", Prop::alwaysOnTop).boolean());
    EXPECT_EQ(std::count(h.platform.calls.begin(), h.platform.calls.end(), "setTopmost mainWindow off"), 0);
}

TEST(RegistryServices, shouldSplitAtTheLastBackslashThatIsACharacterOfItsOwn)
{
    ProgramHarness h;
    h.start();
    // The value name ends in a double-byte character whose trail byte is 0x5C.
    EXPECT_TRUE(WriteRegistryValue(4, "Software\\A\\b\x81\x5C", "x"));
    EXPECT_TRUE(h.platform.registry.contains(HeadlessPlatform::registryPath(RegistryRoot::localMachine, "Software\\A", "b\x81\x5C")));
    EXPECT_TRUE(RegistryValueExists(4, "Software\\A\\b\x81\x5C"));
    // Without a backslash the whole path is the value name, below the root itself.
    EXPECT_TRUE(WriteRegistryValue(3, "alone", "x"));
    EXPECT_TRUE(h.platform.registry.contains(HeadlessPlatform::registryPath(RegistryRoot::currentUser, "", "alone")));
}

TEST(RegistryServices, shouldWriteByTypeUnderTheRootTheNumberNames)
{
    ProgramHarness h;
    h.start();
    EXPECT_TRUE(WriteRegistryValue(9, "K\\n", int32_t{-2}));
    EXPECT_EQ(h.platform.registry[HeadlessPlatform::registryPath(RegistryRoot::currentUser, "K", "n")].data,
              std::string("\xFE\xFF\xFF\xFF", 4));
    EXPECT_TRUE(WriteRegistryValue(1, "K\\b", ByteSet{std::string_view("a\0b", 3)}));
    const RegistryValue b = h.platform.registry[HeadlessPlatform::registryPath(RegistryRoot::classesRoot, "K", "b")];
    EXPECT_EQ(b.type, RegistryValue::Type::binary);
    EXPECT_EQ(b.data, std::string("a\0b", 3));
    // A string ends at its first zero byte and is stored with one.
    EXPECT_TRUE(WriteRegistryValue(5, "K\\s", Text("ab\0cd", 5)));
    EXPECT_EQ(h.platform.registry[HeadlessPlatform::registryPath(RegistryRoot::users, "K", "s")].data, std::string("ab\0", 3));
    EXPECT_FALSE(WriteRegistryValue(2, "K\\t", true));
    EXPECT_FALSE(h.platform.registry.contains(HeadlessPlatform::registryPath(RegistryRoot::currentConfig, "K", "t")));
}

TEST(RegistryServices, shouldDeleteTheKeyTheWholePathNamesWhenNoSuchValueIsThere)
{
    ProgramHarness h;
    h.start();
    h.platform.registry[HeadlessPlatform::registryPath(RegistryRoot::currentUser, "A\\B", "v")] = {};
    EXPECT_TRUE(DeleteRegistryValue(3, "A\\B"));
    EXPECT_TRUE(h.platform.registry.empty());
    EXPECT_FALSE(DeleteRegistryValue(3, "A\\B"));
}

struct AboutDisplays : ::testing::Test {
    ProgramHarness h;
    void SetUp() override { h.start(); }
    bool pictureShown() { return GetUnitProperty(mainWindow, "图片框1", Prop::visible).boolean(); }
};

TEST_F(AboutDisplays, shouldShowTheSameUsesMessageFromBothPurposeLinks)
{
    h.platform.press(mainWindow, "标签4", 3, 3);
    h.platform.selectPage(mainWindow, "选择夹1", 4);
    h.platform.press(mainWindow, "标签6", 3, 3);
    ASSERT_EQ(h.platform.messageBoxes.size(), 2u);
    for (const MessageBoxRequest& m : h.platform.messageBoxes) {
        EXPECT_EQ(m.message,
                  "此程序可以倒计时、建议一些用途如下：\r\n 1.吃泡面、建议5分钟\r\n 2.倒计时娱乐时间、避免浪费时间\r\n"
                  " 3.出门约定、见面、或约会\r\n 4.睡午觉时间倒计时\r\n 5.某些计划的需要、紧急倒计时");
        EXPECT_EQ(m.style, uint32_t(MB_TASKMODAL));  // style 0, task-modal as every box
        EXPECT_EQ(m.title, "程序用途");
    }
}

TEST_F(AboutDisplays, shouldBringTheLastPageToTheFrontFromTheAboutLink)
{
    h.platform.press(mainWindow, "标签5", 3, 3);
    EXPECT_EQ(GetNumber(mainWindow, "选择夹1", Prop::currentPage), 4);
    EXPECT_TRUE(h.platform.shown(mainWindow, "标签7"));
    EXPECT_TRUE(h.platform.selectPage(mainWindow, "选择夹1", 0));
    EXPECT_EQ(GetNumber(mainWindow, "选择夹1", Prop::currentPage), 0);
}

TEST_F(AboutDisplays, shouldShowThePictureFromBoardOrLabelAndHideItWhereItCoversTheLabel)
{
    h.platform.selectPage(mainWindow, "选择夹1", 4);
    h.platform.press(mainWindow, "画板1", 2, 2);
    EXPECT_TRUE(pictureShown());
    h.platform.press(mainWindow, "画板1", 2, 2);
    EXPECT_TRUE(pictureShown());
    // The label's left end lies outside the picture (label x 0..32 is board x 5..37).
    h.platform.press(mainWindow, "标签7", 10, 10);
    EXPECT_TRUE(pictureShown());
    // Its middle lies under the picture, which takes the press.
    h.platform.press(mainWindow, "标签7", 100, 10);
    EXPECT_FALSE(pictureShown());
    h.platform.press(mainWindow, "标签7", 100, 10);
    EXPECT_TRUE(pictureShown());
}

} // namespace
