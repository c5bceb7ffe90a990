// The kitchen timer on the headless platform: its start, the countdown and its
// status line, the music buttons, the purpose message and the modal About window.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include "assets.h"
#include "harness.h"
#include "kitchentimer.h"
#include "playback.h"
#include "recording_sink.h"
#include "settings_store.h"

namespace {

constexpr WindowId kMain = kitchenMainWindow;

std::string soundFile() { return std::string(getenv("XDG_RUNTIME_DIR")) + "/mryy.ruvo"; }
Text status() { return GetText(kMain, "状态标签", Prop::caption); }
int64_t interval() { return GetNumber(kMain, "时钟1", Prop::interval); }
PlaybackCall play(Text name) { return {"PlayMp3", 1, {std::move(name)}}; }
const PlaybackCall kStop{"StopPlayback", std::nullopt, {}};

class KitchenTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        recorder = SinkRecorder::create(50.0);
        SetAudioSinkFactory(recorder->factory());
        SetPlaybackObserver([this](const PlaybackCall& c) { calls.push_back(c); });
    }
    void TearDown() override
    {
        StopPlayback();
        SetPlaybackObserver(nullptr);
        SetAudioSinkFactory(nullptr);
    }
    void start() { h.start(); }
    // The time box as the handler finds it after the box lost the focus.
    void startWith(const char* time)
    {
        SetUnitProperty(kMain, "编辑框1", Prop::content, time);
        h.platform.click(kMain, "按钮1");
    }
    // Answers the next message box after noting the status line it was shown over.
    void noteStatusUnderNextBox(Text& seen)
    {
        h.platform.messageBoxScript.push_back([&seen](const MessageBoxRequest&) {
            seen = status();
            return MessageButton::ok;
        });
    }
    int count(const std::string& call) { return int(std::count(h.platform.calls.begin(), h.platform.calls.end(), call)); }

    std::shared_ptr<SinkRecorder> recorder;
    std::vector<PlaybackCall> calls;
    ProgramHarness h;
};

TEST_F(KitchenTest, shouldComeUpCentredWithItsStartValuesAndAFreshDefaultSound)
{
    testenv::writeFile(soundFile(), "left by another program");
    testenv::writeFile(h.path("pz.ini"), "[yy]\r\n音乐 = /音乐/面.mp3\r\n");
    start();
    WindowInstance* w = h.platform.window(kMain);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->units[0].text, "倒计时提示(Velmora)");
    EXPECT_EQ(w->units.size(), 25u);
    EXPECT_EQ(w->clientWidth, 265);
    EXPECT_EQ(w->clientHeight, 213);
    EXPECT_EQ(w->x, (1024 - 271) / 2);
    EXPECT_EQ(w->y, (768 - 238) / 2);
    EXPECT_EQ(GetText(kMain, "编辑框1", Prop::content), "5");
    EXPECT_EQ(GetText(kMain, "标签2", Prop::caption), "分钟");
    EXPECT_EQ(status(), "空闲");
    EXPECT_EQ(GetText(kMain, "编辑框2", Prop::content), "/音乐/面.mp3");
    EXPECT_EQ(w->focus, w->find("编辑框1"));
    EXPECT_TRUE(GetUnitProperty(kMain, "选择框3", Prop::checked).boolean());
    EXPECT_TRUE(GetUnitProperty(kMain, "选择框5", Prop::checked).boolean());
    EXPECT_EQ(interval(), 0);
    EXPECT_EQ(testenv::readFile(soundFile()), std::string(findEmbedded(assetFiles(), "defaultMusic")));
    EXPECT_EQ(defaultMusicPath, fromUtf8(soundFile()));
    EXPECT_TRUE(h.platform.messageBoxes.empty());
}

TEST_F(KitchenTest, shouldCountFiveMinutesWithOneClickAndSayItAfterTheConfirmation)
{
    start();
    Text underBox;
    noteStatusUnderNextBox(underBox);
    h.platform.click(kMain, "按钮1");
    EXPECT_EQ(interval(), 300000);
    ASSERT_EQ(h.platform.messageBoxes.size(), 1u);
    EXPECT_EQ(h.platform.messageBoxes[0].message, "你设置了5分钟后鸣叫！");
    EXPECT_EQ(h.platform.messageBoxes[0].style & 0xFFF, 0u);
    EXPECT_EQ(h.platform.messageBoxes[0].title, "信息：");
    EXPECT_EQ(underBox, "空闲");
    EXPECT_EQ(status(), "正在倒计时 ");
}

TEST_F(KitchenTest, shouldRefuseEmptyAndZeroWhileARunningCountdownGoesOn)
{
    start();
    h.platform.click(kMain, "选择框2");
    startWith("3");
    h.platform.advance(1000);
    for (const char* refused : {"", "0"}) {
        Text before = status(), underBox;
        noteStatusUnderNextBox(underBox);
        startWith(refused);
        EXPECT_EQ(h.platform.messageBoxes.back().message, "请输入时间！") << refused;
        EXPECT_EQ(underBox, before) << refused;
        EXPECT_EQ(status(), "未输入时间") << refused;
        EXPECT_EQ(interval(), 3000) << refused;
    }
    h.platform.advance(1999);
    EXPECT_TRUE(calls.empty());
    h.platform.advance(1);
    EXPECT_EQ(calls, std::vector<PlaybackCall>{play(defaultMusicPath)});
}

TEST_F(KitchenTest, shouldEmptyATypedZeroWhenTheBoxLosesTheFocus)
{
    start();
    h.platform.focus(kMain, "编辑框1");
    SetUnitProperty(kMain, "编辑框1", Prop::content, "");
    h.platform.type(kMain, "编辑框1", "0");
    h.platform.click(kMain, "按钮1");
    EXPECT_EQ(GetText(kMain, "编辑框1", Prop::content), "");
    EXPECT_EQ(status(), "未输入时间");
    EXPECT_EQ(interval(), 0);
}

TEST_F(KitchenTest, shouldNotRestartTheSameCountdown)
{
    start();
    h.platform.click(kMain, "按钮1");
    h.platform.advance(100000);
    h.platform.click(kMain, "按钮1");
    EXPECT_EQ(h.platform.messageBoxes.size(), 2u);
    EXPECT_EQ(status(), "正在倒计时 ");
    h.platform.advance(199999);
    EXPECT_TRUE(calls.empty());
    h.platform.advance(1);
    EXPECT_EQ(calls.size(), 1u);
}

TEST_F(KitchenTest, shouldConvertEachUnitAndKeepTheLastUnitWithNoBoxChecked)
{
    start();
    h.platform.click(kMain, "选择框2");
    EXPECT_EQ(GetText(kMain, "标签1", Prop::caption), "设置几秒后鸣叫：");
    startWith("90");
    EXPECT_EQ(interval(), 90000);
    h.platform.click(kMain, "选择框4");
    h.platform.click(kMain, "选择框4");  // unchecked again: no box checked
    for (const char* box : {"选择框2", "选择框3", "选择框4"})
        EXPECT_FALSE(GetUnitProperty(kMain, box, Prop::checked).boolean()) << box;
    EXPECT_EQ(GetText(kMain, "标签2", Prop::caption), "小时");
    EXPECT_EQ(GetText(kMain, "标签1", Prop::caption), "设置几小时后鸣叫：");
    startWith("2");
    EXPECT_EQ(interval(), 7200000);
    EXPECT_EQ(h.platform.messageBoxes.back().message, "你设置了2小时后鸣叫！");
    h.platform.click(kMain, "按钮4");
    startWith("-5");  // accepted, but stops the countdown: the status line keeps its text
    EXPECT_EQ(h.platform.messageBoxes.back().message, "你设置了-5小时后鸣叫！");
    EXPECT_EQ(interval(), 0);
    EXPECT_EQ(status(), "停止播放");
}

TEST_F(KitchenTest, shouldStopTheCountdownAndTheSoundEvenWithNothingRunning)
{
    start();
    Text underBox;
    noteStatusUnderNextBox(underBox);
    h.platform.click(kMain, "按钮5");
    EXPECT_EQ(underBox, "倒计时已停止");
    EXPECT_EQ(h.platform.messageBoxes.back().message, "倒计时停止成功！");
    EXPECT_EQ(calls, std::vector<PlaybackCall>{kStop});

    h.platform.click(kMain, "按钮1");
    h.platform.click(kMain, "按钮5");
    EXPECT_EQ(interval(), 0);
    h.platform.advance(600000);
    EXPECT_EQ(calls.size(), 2u);  // the two stops, no ring
}

TEST_F(KitchenTest, shouldLeaveTheStatusLineToTheHandlersAlone)
{
    start();
    h.platform.click(kMain, "选择框2");
    startWith("1");
    h.platform.advance(1000);
    EXPECT_EQ(calls, std::vector<PlaybackCall>{play(defaultMusicPath)});
    EXPECT_EQ(interval(), 0);
    EXPECT_EQ(status(), "正在倒计时 ");

    // The one-time alarm rings while the confirmation is open: the timer has
    // stopped when it closes, so the status line keeps its text.
    h.platform.click(kMain, "按钮4");
    h.platform.messageBoxScript.push_back([&](const MessageBoxRequest&) {
        h.platform.advance(1000);
        return MessageButton::ok;
    });
    startWith("1");
    EXPECT_EQ(interval(), 0);
    EXPECT_EQ(status(), "停止播放");
    for (const char* u : {"选择框3", "选择框1", "选择框5"})
        h.platform.click(kMain, u);
    EXPECT_EQ(status(), "停止播放");
}

TEST_F(KitchenTest, shouldPlayTheDefaultMusicForAnEmptyBoxOnlyAndTheBoxOtherwise)
{
    start();
    h.platform.click(kMain, "按钮3");
    EXPECT_EQ(status(), "默认音乐");
    h.platform.fileDialogScript.push_back([](const FileDialogRequest&) { return Text("/音乐/面.mp3"); });
    h.platform.click(kMain, "按钮2");
    EXPECT_EQ(status(), "默认音乐");  // choosing does not write it
    h.platform.click(kMain, "按钮3");
    EXPECT_EQ(status(), "播放音乐");
    SetUnitProperty(kMain, "编辑框2", Prop::content, "   ");
    h.platform.click(kMain, "按钮3");
    EXPECT_EQ(status(), "播放音乐");
    EXPECT_EQ(calls, (std::vector<PlaybackCall>{play(defaultMusicPath), play("/音乐/面.mp3"), play("   ")}));
    EXPECT_EQ(ReadIniValue(iniFilePath, "yy", "音乐"), "/音乐/面.mp3");
}

TEST_F(KitchenTest, shouldSilenceARepeatingAlarmUntilItsNextTick)
{
    start();
    h.platform.click(kMain, "选择框1");
    h.platform.click(kMain, "选择框2");
    startWith("2");
    h.platform.advance(2000);
    h.platform.click(kMain, "按钮4");
    EXPECT_EQ(status(), "停止播放");
    EXPECT_EQ(interval(), 2000);
    h.platform.advance(2000);
    EXPECT_EQ(calls, (std::vector<PlaybackCall>{play(defaultMusicPath), kStop, play(defaultMusicPath)}));
}

TEST_F(KitchenTest, shouldCentreBothWindowsOnAPrimaryScreenRightOfAndBelowAnother)
{
    h.platform.screen = {1920, 360, 1280, 1024};
    start();
    EXPECT_EQ(h.platform.window(kMain)->x, 1920 + (1280 - 271) / 2);
    EXPECT_EQ(h.platform.window(kMain)->y, 360 + (1024 - 238) / 2);
    int aboutX = 0, aboutY = 0;
    h.platform.modalScript.push_back([&] {
        aboutX = h.platform.window(aboutWindow)->x;
        aboutY = h.platform.window(aboutWindow)->y;
        h.platform.escape(aboutWindow);
    });
    EXPECT_TRUE(h.platform.press(kMain, "标签5", 3, 3));
    EXPECT_EQ(aboutX, 1920 + (1280 - 284) / 2);
    EXPECT_EQ(aboutY, 360 + (1024 - 140) / 2);
}

TEST_F(KitchenTest, shouldShowThePurposeMessageOnPress)
{
    start();
    EXPECT_TRUE(h.platform.press(kMain, "标签4", 3, 3));
    ASSERT_EQ(h.platform.messageBoxes.size(), 1u);
    EXPECT_EQ(h.platform.messageBoxes[0].message,
              "程序用途：\r\n  欢迎使用！程序为Velmora\r\n  建议：计时时间为 5 分钟！\r\n  如果泡面赠送香肠或酸菜\r\n"
              "  建议：等面熟了再放、味道更佳！");
    EXPECT_EQ(h.platform.messageBoxes[0].style & 0xFFF, 0x40u);
    EXPECT_EQ(h.platform.messageBoxes[0].title, "zuv-程序用途");
    EXPECT_EQ(status(), "空闲");
}

TEST_F(KitchenTest, shouldOpenTheAboutWindowModallyWithABeepWhileTicksGoOn)
{
    start();
    h.platform.click(kMain, "选择框2");
    startWith("1");
    h.platform.modalScript.push_back([&] {
        WindowInstance* about = h.platform.window(aboutWindow);
        ASSERT_NE(about, nullptr);
        EXPECT_EQ(about->units[0].text, "关于我们");
        EXPECT_EQ(about->x, (1024 - 284) / 2);
        EXPECT_EQ(about->y, (768 - 140) / 2);
        EXPECT_TRUE(about->alwaysOnTop);
        EXPECT_FALSE(h.platform.click(kMain, "按钮1"));  // the main window takes no input
        EXPECT_FALSE(h.platform.press(kMain, "标签5", 3, 3));
        h.platform.advance(1000);
        EXPECT_EQ(calls, std::vector<PlaybackCall>{play(defaultMusicPath)});
        h.platform.escape(aboutWindow);
    });
    EXPECT_TRUE(h.platform.press(kMain, "标签5", 3, 3));
    EXPECT_EQ(h.platform.window(aboutWindow), nullptr);
    EXPECT_EQ(count("beep"), 1);
    EXPECT_EQ(count("createWindow aboutWindow owner kitchenMainWindow"), 1);
    EXPECT_NE(h.platform.window(kMain), nullptr);  // Escape closed only the About window

    h.platform.modalScript.push_back([&] { h.platform.close(aboutWindow); });
    EXPECT_TRUE(h.platform.press(kMain, "标签5", 3, 3));
    EXPECT_EQ(count("beep"), 2);
    EXPECT_TRUE(h.platform.click(kMain, "按钮4"));
    EXPECT_EQ(status(), "停止播放");
}

TEST_F(KitchenTest, shouldEndWithCodeZeroOnEscapeAndRemoveTheDefaultSound)
{
    h.platform.loopScript.push_back([&] {
        EXPECT_TRUE(testenv::exists(soundFile()));
        h.platform.escape(kMain);
    });
    EXPECT_EQ(h.run(), 0);
    EXPECT_FALSE(testenv::exists(soundFile()));
    EXPECT_TRUE(defaultMusicPath.empty());
}

// The session ends the program (a termination signal) while a handler waits
// on a box: the box is dismissed, the handler finishes, then the main window
// closes as its close box would.
TEST_F(KitchenTest, shouldFinishTheHandlerUnderABoxThenCloseWhenTheSessionEnds)
{
    h.platform.loopScript.push_back([&] {
        h.platform.messageBoxScript.push_back([&](const MessageBoxRequest&) {
            h.runtime->requestEnd();
            EXPECT_NE(h.platform.window(kMain), nullptr);
            return MessageButton::ok;
        });
        startWith("");
        EXPECT_EQ(h.platform.window(kMain), nullptr);
    });
    EXPECT_EQ(h.run(), 0);
    EXPECT_EQ(count("dismissModal"), 1);
    EXPECT_EQ(h.platform.messageBoxes.size(), 1u);
    EXPECT_TRUE(h.platform.quitPosted);
    EXPECT_FALSE(testenv::exists(soundFile()));
}

TEST_F(KitchenTest, shouldCloseTheAboutWindowFirstWhenTheSessionEnds)
{
    h.platform.loopScript.push_back([&] {
        h.platform.modalScript.push_back([&] {
            h.runtime->requestEnd();
            EXPECT_EQ(h.platform.window(aboutWindow), nullptr);
            EXPECT_NE(h.platform.window(kMain), nullptr);  // its handler has not returned yet
        });
        h.platform.press(kMain, "标签5", 3, 3);
        EXPECT_EQ(h.platform.window(kMain), nullptr);
    });
    EXPECT_EQ(h.run(), 0);
    EXPECT_EQ(count("dismissModal"), 0);
    EXPECT_FALSE(testenv::exists(soundFile()));
}

} // namespace
