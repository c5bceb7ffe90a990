// The default sound file, the alarm at the end of the countdown, and the
// music buttons, with the playback service's calls recorded.
#include <gtest/gtest.h>
#include <unistd.h>

#include "assets.h"
#include "countdown.h"
#include "default_sound.h"
#include "harness.h"
#include "playback.h"
#include "recording_sink.h"
#include "settings_store.h"

namespace {

std::string soundFile() { return std::string(getenv("XDG_RUNTIME_DIR")) + "/mryy.ruvo"; }

class AlarmTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        recorder = SinkRecorder::create(50.0);
        SetAudioSinkFactory(recorder->factory());
        SetPlaybackObserver([this](const PlaybackCall& c) { calls.push_back(c); });
        unlink(soundFile().c_str());
    }
    void TearDown() override
    {
        StopPlayback();
        SetPlaybackObserver(nullptr);
        SetAudioSinkFactory(nullptr);
    }
    void startWithAlarm(const char* seconds)
    {
        h.start();
        h.platform.type(mainWindow, "编辑框1", seconds);
        h.platform.click(mainWindow, "按钮1");
        calls.clear();
    }
    static PlaybackCall play(std::optional<int32_t> count, Text name) { return {"PlayMp3", count, {std::move(name)}}; }

    std::shared_ptr<SinkRecorder> recorder;
    std::vector<PlaybackCall> calls;
    ProgramHarness h;
};

TEST_F(AlarmTest, shouldWriteTheDefaultSoundAtStartAndRemoveItWhenTheWindowCloses)
{
    testenv::writeFile(soundFile(), "an older, longer file left behind by another program");
    h.start();
    EXPECT_EQ(testenv::readFile(soundFile()), std::string(findEmbedded(assetFiles(), "defaultMusic")));
    EXPECT_GT(defaultMusic().bytes.size(), 100000u);
    EXPECT_EQ(defaultMusicPath, fromUtf8(soundFile()));
    h.platform.close(mainWindow);
    EXPECT_FALSE(testenv::exists(soundFile()));
    EXPECT_TRUE(calls.empty());  // closing leaves the player alone
}

TEST_F(AlarmTest, shouldLeaveTheDefaultSoundOnDiskAfterForceClose)
{
    h.platform.loopScript.push_back([&] {
        h.platform.selectPage(mainWindow, "选择夹1", 2);
        h.platform.click(mainWindow, "按钮16");
    });
    EXPECT_EQ(h.run(), 0);
    EXPECT_TRUE(testenv::exists(soundFile()));
}

TEST_F(AlarmTest, shouldNeverWriteTheDefaultSoundThroughALink)
{
    std::string target = testenv::freshDir("victim") + "/keep";
    testenv::writeFile(target, "keep");
    ASSERT_EQ(symlink(target.c_str(), soundFile().c_str()), 0);
    h.start();
    EXPECT_EQ(testenv::readFile(target), "keep");
    EXPECT_EQ(defaultMusicPath, fromUtf8(soundFile()));  // set all the same
    unlink(soundFile().c_str());
}

TEST_F(AlarmTest, shouldRingOnceWithTheDefaultSoundAndStop)
{
    startWithAlarm("2");
    h.platform.advance(1999);
    EXPECT_TRUE(calls.empty());
    h.platform.advance(1);
    EXPECT_EQ(calls, std::vector<PlaybackCall>{play(1, defaultMusicPath)});
    EXPECT_EQ(GetNumber(mainWindow, "时钟1", Prop::interval), 0);
    h.platform.advance(10000);
    EXPECT_EQ(calls.size(), 1u);
}

TEST_F(AlarmTest, shouldRingTheChosenFileOnceWithTheCountOmitted)
{
    h.start();
    SetUnitProperty(mainWindow, "编辑框2", Prop::content, "   ");  // blanks are not empty
    h.platform.type(mainWindow, "编辑框1", "1");
    h.platform.click(mainWindow, "按钮1");
    calls.clear();
    h.platform.advance(1000);
    EXPECT_EQ(calls, std::vector<PlaybackCall>{play(std::nullopt, "   ")});
}

TEST_F(AlarmTest, shouldRingAtEveryIntervalInRepeatModeFromTheStart)
{
    h.start();
    h.platform.click(mainWindow, "选择框1");
    h.platform.type(mainWindow, "编辑框1", "3");
    h.platform.click(mainWindow, "按钮1");
    calls.clear();
    h.platform.advance(3000);
    h.platform.click(mainWindow, "按钮4");  // a pause does not hold the next ring
    h.platform.advance(6000);
    EXPECT_EQ(calls, (std::vector<PlaybackCall>{play(1, defaultMusicPath), {"PauseMp3", std::nullopt, {}},
                                                 play(1, defaultMusicPath), play(1, defaultMusicPath)}));
    EXPECT_EQ(GetNumber(mainWindow, "时钟1", Prop::interval), 3000);
}

TEST_F(AlarmTest, shouldTickSilentlyWithNeitherAlertMode)
{
    h.start();
    h.platform.click(mainWindow, "选择框5");  // unchecks "一次提示": no mode left
    h.platform.type(mainWindow, "编辑框1", "1");
    h.platform.click(mainWindow, "按钮1");
    h.platform.advance(5000);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(GetNumber(mainWindow, "时钟1", Prop::interval), 1000);
}

TEST_F(AlarmTest, shouldPlayPauseAndResumeWhatTheBoxNames)
{
    h.start();
    h.platform.click(mainWindow, "按钮3");  // an empty box only stops what plays
    SetUnitProperty(mainWindow, "编辑框2", Prop::content, "/music/a.mp3");
    h.platform.click(mainWindow, "按钮3");
    h.platform.click(mainWindow, "按钮4");
    h.platform.click(mainWindow, "按钮5");
    EXPECT_EQ(calls, (std::vector<PlaybackCall>{play(std::nullopt, ""), play(std::nullopt, "/music/a.mp3"),
                                                 {"PauseMp3", std::nullopt, {}}, {"ResumeMp3", std::nullopt, {}}}));
}

TEST_F(AlarmTest, shouldSaveAChosenFileAndChangeNothingOnCancel)
{
    h.start();
    h.platform.fileDialogScript.push_back([](const FileDialogRequest&) { return std::nullopt; });
    h.platform.click(mainWindow, "按钮2");
    ASSERT_EQ(h.platform.fileDialogs.size(), 1u);
    EXPECT_EQ(h.platform.fileDialogs[0].title, "音乐文件");
    EXPECT_EQ(h.platform.fileDialogs[0].filter, "音乐文件（*.mp3）|*.mp3||");
    EXPECT_EQ(h.platform.fileDialogs[0].proposedName, "");
    EXPECT_FALSE(testenv::exists(h.path("pz.ini")));
    EXPECT_EQ(GetText(mainWindow, "编辑框2", Prop::content), "");

    h.platform.fileDialogScript.push_back([](const FileDialogRequest&) { return Text("/音乐/歌.mp3"); });
    h.platform.click(mainWindow, "按钮2");
    EXPECT_EQ(GetText(mainWindow, "编辑框2", Prop::content), "/音乐/歌.mp3");
    EXPECT_EQ(ReadIniValue(iniFilePath, "yy", "音乐"), "/音乐/歌.mp3");

    // A later cancel keeps the choice; the dialog proposes it again.
    SetUnitProperty(mainWindow, "编辑框2", Prop::content, "typed by hand");
    h.platform.click(mainWindow, "按钮2");
    EXPECT_EQ(h.platform.fileDialogs.back().proposedName, "/音乐/歌.mp3");
    EXPECT_EQ(GetText(mainWindow, "编辑框2", Prop::content), "typed by hand");
    EXPECT_EQ(ReadIniValue(iniFilePath, "yy", "音乐"), "/音乐/歌.mp3");
}

TEST(AlarmRestart, shouldBringTheSavedPathBackAfterClearing)
{
    std::string dir;
    {
        ProgramHarness h;
        testenv::writeFile(h.path("pz.ini"), "[yy]\r\n音乐=/a.mp3\r\n");
        h.start();
        h.platform.click(mainWindow, "按钮7");
        EXPECT_EQ(GetText(mainWindow, "编辑框2", Prop::content), "");
        EXPECT_EQ(ReadIniValue(iniFilePath, "yy", "音乐"), "/a.mp3");
        h.platform.close(mainWindow);
        dir = h.runDir;
    }
    ProgramHarness again;
    SetRunDirectory(fromUtf8(dir));
    again.start();
    EXPECT_EQ(GetText(mainWindow, "编辑框2", Prop::content), "/a.mp3");
}

} // namespace
