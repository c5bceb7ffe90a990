// The playback service against the recording sink: the passes over a list,
// pause and resume, the end of a list at a file that cannot start, and the
// removal of the current player.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string_view>
#include <thread>

#include "audio_sink.h"
#include "playback.h"
#include "player.h"
#include "recording_sink.h"
#include "test_env.h"

namespace {

using namespace std::chrono_literals;
using Sink = SinkRecorder::Sink;
using Sinks = std::vector<Sink>;

// Frames of the test files as libmpg123 decodes them (gapless): "a" is
// 0.4 s of 48 kHz stereo, "b" 0.3 s of 44.1 kHz mono, "long" 3 s of 48 kHz stereo.
constexpr int64_t kFramesA = 19200;
constexpr int64_t kFramesB = 13230;
constexpr int64_t kFramesLong = 144000;
// The sink takes the samples this many times faster than they would sound.
constexpr double kSpeed = 8.0;

Text dataFile(const char* name) { return fromUtf8(std::string(RUVO_TEST_DATA_DIR "/") + name); }

bool isA(const Sink& s) { return s.rate == 48000 && s.channels == 2 && s.frames == kFramesA; }
bool isB(const Sink& s) { return s.rate == 44100 && s.channels == 1 && s.frames == kFramesB; }

// Polls a condition that only the player's threads can make true.
bool eventually(const std::function<bool()>& done, std::chrono::milliseconds timeout = 20s)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

bool statusBecomes(PlaybackStatus status)
{
    return eventually([&] { return CurrentPlaybackStatus() == status; });
}

// A 16-bit PCM WAV file of a tone: sound, but not MP3.
std::string pcmWav()
{
    auto le = [](uint32_t v, int bytes) {
        std::string s;
        for (int i = 0; i < bytes; ++i)
            s.push_back(static_cast<char>(v >> (8 * i)));
        return s;
    };
    std::string data;
    for (int i = 0; i < 24000; ++i)
        data += le(static_cast<uint16_t>(8000 * std::sin(i * 0.0576)), 2);
    const auto size = static_cast<uint32_t>(data.size());
    return "RIFF" + le(36 + size, 4) + "WAVEfmt " + le(16, 4) + le(1, 2) + le(1, 2) + le(48000, 4)
        + le(96000, 4) + le(2, 2) + le(16, 2) + "data" + le(size, 4) + data;
}

// Reads of music files that stall after the first bytes until released, as
// on a hung network share. Never destroyed: a stuck reader may outlive a test.
struct StallingReads {
    std::mutex mutex;
    std::condition_variable changed;
    size_t budget = 0;
    bool stalled = false;
    bool released = false;

    static StallingReads& get()
    {
        static StallingReads* reads = new StallingReads;
        return *reads;
    }
    static ssize_t read(int fd, void* buffer, size_t size)
    {
        StallingReads& r = get();
        std::unique_lock lock(r.mutex);
        if (r.budget == 0) {
            r.stalled = true;
            r.changed.notify_all();
            r.changed.wait(lock, [&] { return r.released; });
            return ::read(fd, buffer, size);
        }
        const ssize_t n = ::read(fd, buffer, std::min(size, r.budget));
        if (n > 0)
            r.budget -= size_t(n);
        return n;
    }
    void arm(size_t bytes)
    {
        std::lock_guard lock(mutex);
        budget = bytes;
        stalled = released = false;
        SetMusicFileRead(&StallingReads::read);
    }
    bool waitStalled()
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 20s, [&] { return stalled; });
    }
    void release()
    {
        std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    }
    bool isReleased()
    {
        std::lock_guard lock(mutex);
        return released;
    }
};

// A dead share: reads of files named "stuck-…" never return until released;
// other files read as usual. Never destroyed, as StallingReads.
struct DeadShare {
    std::mutex mutex;
    std::condition_variable changed;
    int waiting = 0;
    bool released = false;

    static DeadShare& get()
    {
        static DeadShare* share = new DeadShare;
        return *share;
    }
    static ssize_t read(int fd, void* buffer, size_t size)
    {
        char target[4096] = {};
        (void)readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target - 1);
        if (std::string_view(target).find("/stuck-") != std::string_view::npos) {
            DeadShare& d = get();
            std::unique_lock lock(d.mutex);
            ++d.waiting;
            d.changed.notify_all();
            d.changed.wait(lock, [&] { return d.released; });
            --d.waiting;
            d.changed.notify_all();
        }
        return ::read(fd, buffer, size);
    }
    int readsWaiting()
    {
        std::lock_guard lock(mutex);
        return waiting;
    }
    void release(bool released_)
    {
        std::lock_guard lock(mutex);
        released = released_;
        changed.notify_all();
    }
};

size_t entriesOf(const char* dir)
{
    size_t n = 0;
    if (DIR* d = opendir(dir)) {
        while (const dirent* e = readdir(d))
            n += e->d_name[0] != '.';
        closedir(d);
    }
    return n - (std::string_view(dir) == "/proc/self/fd");  // opendir's own
}

class PlaybackTest : public ::testing::Test {
protected:
    void SetUp() override { SetAudioSinkFactory(rec->factory()); }
    void TearDown() override
    {
        StopPlayback();
        SetAudioSinkFactory({});
    }

    void useNewRecorder(double speed = kSpeed)
    {
        rec = SinkRecorder::create(speed);
        SetAudioSinkFactory(rec->factory());
    }
    int64_t framesOfFirst() const
    {
        const Sinks s = rec->plays();
        return s.empty() ? 0 : s.front().frames;
    }
    bool firstHasSound() const
    {
        return rec->waitFor([](const Sinks& s) { return !s.empty() && s.front().frames > 0; });
    }

    std::shared_ptr<SinkRecorder> rec = SinkRecorder::create(kSpeed);
    const Text a = dataFile("playback-a.mp3");
    const Text b = dataFile("playback-b.mp3");
    const Text longTone = dataFile("playback-long.mp3");
    const Text missing = dataFile("no-such-file.mp3");
};

TEST_F(PlaybackTest, shouldPlayListForCountedPassesThenFallSilent)
{
    PlayMp3(2, {a, b});
    ASSERT_TRUE(statusBecomes(PlaybackStatus::Finished));

    const Sinks sinks = rec->sinks();
    ASSERT_EQ(sinks.size(), 4u) << "no file is started after the last pass";
    EXPECT_TRUE(isA(sinks[0]));
    EXPECT_TRUE(isB(sinks[1]));
    EXPECT_TRUE(isA(sinks[2]));
    EXPECT_TRUE(isB(sinks[3]));
    for (const Sink& s : sinks) {
        EXPECT_TRUE(s.drained) << "each file is heard to its end before the next one";
        EXPECT_TRUE(s.closed);
    }
}

TEST_F(PlaybackTest, shouldPlayOnceWithCountOmittedTakingNonEmptyNamesOfTextsAndArrays)
{
    PlayMp3(std::nullopt, {std::vector<Text>{"", a}, Text(""), b, std::vector<Text>{}});
    ASSERT_TRUE(statusBecomes(PlaybackStatus::Finished));
    const Sinks sinks = rec->sinks();
    ASSERT_EQ(sinks.size(), 2u);
    EXPECT_TRUE(isA(sinks[0]));
    EXPECT_TRUE(isB(sinks[1]));
}

TEST_F(PlaybackTest, shouldOpenGb18030NamesAsUtf8Paths)
{
    const std::string utf8Path = testenv::freshDir("names") + "/\xe9\x93\x83\xe5\xa3\xb0 a.mp3";  // "铃声 a.mp3"
    testenv::writeFile(utf8Path, testenv::readFile(RUVO_TEST_DATA_DIR "/playback-a.mp3"));

    PlayMp3(std::nullopt, {fromUtf8(utf8Path)});
    ASSERT_TRUE(statusBecomes(PlaybackStatus::Finished));
    const Sinks played = rec->plays();
    ASSERT_EQ(played.size(), 1u);
    EXPECT_TRUE(isA(played[0]));
}

TEST_F(PlaybackTest, shouldRepeatWithoutEndForNegativeCountUntilRemoved)
{
    for (int32_t count : {-1, -7}) {
        useNewRecorder();
        PlayMp3(count, {b});
        ASSERT_TRUE(rec->waitFor([](const Sinks& s) { return SinkRecorder::opened(s).size() >= 3; }));
        EXPECT_EQ(CurrentPlaybackStatus(), PlaybackStatus::Playing);

        StopPlayback();
        EXPECT_EQ(CurrentPlaybackStatus(), PlaybackStatus::NoPlayer);
        // The player's threads have ended by now, so nothing can start later.
        const Sinks sinks = rec->sinks();
        for (const Sink& s : sinks)
            EXPECT_TRUE(s.closed);
        for (size_t i = 0; i + 1 < sinks.size(); ++i)
            EXPECT_TRUE(isB(sinks[i]));
    }
}

TEST_F(PlaybackTest, shouldContinueWhereItStoodAfterTwoPausesAndOneResume)
{
    // A pause straight after the call may come before the output is open.
    for (bool inMidFile : {false, true}) {
        SCOPED_TRACE(inMidFile ? "paused in mid-file" : "paused at once");
        useNewRecorder();
        PlayMp3(1, {longTone});
        if (inMidFile) {
            ASSERT_TRUE(firstHasSound());
        }
        PauseMp3();
        PauseMp3();
        EXPECT_EQ(CurrentPlaybackStatus(), PlaybackStatus::Paused);
        const int64_t frames = framesOfFirst();
        std::this_thread::sleep_for(100ms);  // a fair chance for a pause that does not hold
        EXPECT_EQ(framesOfFirst(), frames);

        ResumeMp3();
        EXPECT_EQ(CurrentPlaybackStatus(), PlaybackStatus::Playing);
        ASSERT_TRUE(statusBecomes(PlaybackStatus::Finished));
        const Sinks sinks = rec->sinks();
        ASSERT_EQ(sinks.size(), 1u);
        EXPECT_EQ(sinks[0].pauses, 1) << "a second pause changes nothing";
        EXPECT_EQ(sinks[0].resumes, 1);
        EXPECT_EQ(sinks[0].frames, kFramesLong) << "nothing lost or repeated across the pause";
    }
}

TEST_F(PlaybackTest, shouldIgnoreResumeWithoutPauseAndPauseAfterTheEnd)
{
    PlayMp3(std::nullopt, {a});
    ResumeMp3();
    EXPECT_EQ(CurrentPlaybackStatus(), PlaybackStatus::Playing);
    ASSERT_TRUE(statusBecomes(PlaybackStatus::Finished));

    PauseMp3();
    EXPECT_EQ(CurrentPlaybackStatus(), PlaybackStatus::Finished);
    ResumeMp3();
    EXPECT_EQ(CurrentPlaybackStatus(), PlaybackStatus::Finished);

    const Sinks sinks = rec->sinks();
    ASSERT_EQ(sinks.size(), 1u);
    EXPECT_TRUE(isA(sinks[0]));
    EXPECT_EQ(sinks[0].pauses, 0);
    EXPECT_EQ(sinks[0].resumes, 0);
}

TEST_F(PlaybackTest, shouldEndListAtFileThatCannotBeOpened)
{
    PlayMp3(3, {a, missing, b});
    ASSERT_TRUE(rec->waitFor([](const Sinks& s) { return !s.empty() && s[0].closed; }));
    ASSERT_TRUE(statusBecomes(PlaybackStatus::Stopped));
    // The worker has handled the failure; the list does not go on to "b".
    const Sinks played = rec->plays();
    ASSERT_EQ(played.size(), 1u);
    EXPECT_TRUE(isA(played[0]));

    PauseMp3();
    EXPECT_EQ(CurrentPlaybackStatus(), PlaybackStatus::Stopped) << "nothing to pause";
}

TEST_F(PlaybackTest, shouldStaySilentForMissingAndNonMp3Files)
{
    const std::string dir = testenv::freshDir("bad");
    testenv::writeFile(dir + "/text.mp3", "not a sound, just some words\n");
    testenv::writeFile(dir + "/empty.mp3", "");
    testenv::writeFile(dir + "/pcm.wav", pcmWav());
    // A FIFO without a writer would block whoever opens it: the next removal must not hang.
    ASSERT_EQ(mkfifo((dir + "/fifo.mp3").c_str(), 0600), 0);
    for (const Text& name : {fromUtf8(dir + "/text.mp3"), fromUtf8(dir + "/empty.mp3"), fromUtf8(dir + "/pcm.wav"),
                             fromUtf8(dir + "/fifo.mp3"), fromUtf8(dir), missing}) {
        SCOPED_TRACE(name);
        PlayMp3(-1, {name, a});
        ASSERT_TRUE(statusBecomes(PlaybackStatus::Stopped));
        EXPECT_TRUE(rec->plays().empty());
    }
    StopPlayback();
}

TEST_F(PlaybackTest, shouldStaySilentWithoutAudioOutput)
{
    rec->setOpenFails(true);
    PlayMp3(2, {a, b});
    ASSERT_TRUE(statusBecomes(PlaybackStatus::Stopped));
    EXPECT_EQ(rec->sinks().size(), 1u) << "the list stops at the first file";
    EXPECT_TRUE(rec->plays().empty());
}

TEST_F(PlaybackTest, shouldStaySilentAndQuietWithoutPulseAudioServer)
{
    const std::string dir = testenv::freshDir("nopulse");
    setenv("PULSE_SERVER", ("unix:" + dir + "/native").c_str(), 1);
    SetAudioSinkFactory({});
    testing::internal::CaptureStderr();
    PlayMp3(2, {a, b});
    const bool stopped = statusBecomes(PlaybackStatus::Stopped);
    const std::string messages = testing::internal::GetCapturedStderr();
    unsetenv("PULSE_SERVER");
    EXPECT_TRUE(stopped);
    EXPECT_EQ(messages, "");
    EXPECT_FALSE(testenv::exists(dir + "/native")) << "no server of our own was started";
}

TEST_F(PlaybackTest, shouldStopSoundAtOnceWhenRemovedPlayingOrPaused)
{
    const std::vector<std::function<void()>> removals = {
        [] { StopPlayback(); },
        [] { PlayMp3(std::nullopt, {Text("")}); },
        [&] { PlayMp3(0, {a}); },
        [] { PlayMp3(1, {std::vector<Text>{"", ""}}); },
        [] { PlayMp3(1, {}); },
    };
    for (bool paused : {false, true}) {
        for (size_t i = 0; i < removals.size(); ++i) {
            SCOPED_TRACE(testing::Message() << "removal " << i << (paused ? " while paused" : ""));
            useNewRecorder();
            PlayMp3(-1, {longTone});
            ASSERT_TRUE(firstHasSound());
            if (paused)
                PauseMp3();

            removals[i]();
            EXPECT_EQ(CurrentPlaybackStatus(), PlaybackStatus::NoPlayer);
            const Sinks sinks = rec->sinks();
            ASSERT_EQ(sinks.size(), 1u) << "nothing new plays";
            EXPECT_TRUE(sinks[0].stopped);
            EXPECT_TRUE(sinks[0].closed);
        }
    }
}

TEST_F(PlaybackTest, shouldStartNewPlayFromItsBeginningWhilePaused)
{
    PlayMp3(1, {longTone});
    ASSERT_TRUE(firstHasSound());
    PauseMp3();

    PlayMp3(1, {longTone});
    EXPECT_EQ(CurrentPlaybackStatus(), PlaybackStatus::Playing);
    ASSERT_TRUE(statusBecomes(PlaybackStatus::Finished));
    const Sinks sinks = rec->sinks();
    ASSERT_EQ(sinks.size(), 2u);
    EXPECT_LT(sinks[0].frames, kFramesLong);
    EXPECT_EQ(sinks[1].frames, kFramesLong);
    EXPECT_EQ(sinks[1].pauses, 0);
}

TEST_F(PlaybackTest, shouldReturnAtOnceAndHaveStoppedOldSoundOnReturn)
{
    // At the real pace, a player that waited for the sound would hold the caller for seconds.
    useNewRecorder(1.0);
    const auto start = std::chrono::steady_clock::now();
    PlayMp3(1, {longTone});
    PauseMp3();
    ResumeMp3();
    ASSERT_TRUE(firstHasSound());
    PlayMp3(1, {longTone});
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
    const Sinks sinks = rec->sinks();
    ASSERT_GE(sinks.size(), 2u);
    EXPECT_TRUE(sinks[0].closed) << "the old player is gone when PlayMp3 returns";
    EXPECT_LT(sinks[0].frames, kFramesLong);
}

TEST_F(PlaybackTest, shouldDoNothingWithoutPlayer)
{
    StopPlayback();
    PauseMp3();
    ResumeMp3();
    EXPECT_EQ(CurrentPlaybackStatus(), PlaybackStatus::NoPlayer);
    EXPECT_TRUE(rec->sinks().empty());
}

TEST_F(PlaybackTest, shouldRemoveAPlayerAtOnceAndSilentlyWhileItsReadStalls)
{
    StallingReads& reads = StallingReads::get();
    reads.arm(24000);  // half of the long tone
    PlayMp3(-1, {longTone});
    ASSERT_TRUE(reads.waitStalled());
    ASSERT_TRUE(firstHasSound());

    // The read is released long after a removal that does not wait for it.
    std::thread releaser([&] {
        std::this_thread::sleep_for(2s);
        reads.release();
    });
    StopPlayback();
    const bool waitedForTheRead = reads.isReleased();
    const int64_t framesAtRemoval = rec->sinks()[0].frames;
    releaser.join();
    SetMusicFileRead(nullptr);
    EXPECT_FALSE(waitedForTheRead);
    EXPECT_EQ(CurrentPlaybackStatus(), PlaybackStatus::NoPlayer);

    // Once its read returns, the old stream ends without another sample.
    ASSERT_TRUE(rec->waitFor([](const Sinks& s) { return s[0].closed; }));
    const Sinks sinks = rec->sinks();
    EXPECT_EQ(sinks.size(), 1u);
    EXPECT_TRUE(sinks[0].stopped);
    EXPECT_EQ(sinks[0].frames, framesAtRemoval);
}

TEST_F(PlaybackTest, shouldKeepAtMostTwoStuckStreamsHoweverOftenStuckFilesPlay)
{
    const std::string dir = testenv::freshDir("dead");
    const std::string mp3 = testenv::readFile(RUVO_TEST_DATA_DIR "/playback-a.mp3");
    for (const char* n : {"1", "2", "3"})
        testenv::writeFile(dir + "/stuck-" + n + ".mp3", mp3);
    auto stuck = [&](const char* n) { return fromUtf8(dir + "/stuck-" + n + ".mp3"); };
    DeadShare& share = DeadShare::get();
    share.release(false);
    SetMusicFileRead(&DeadShare::read);
    const size_t threads = entriesOf("/proc/self/task"), fds = entriesOf("/proc/self/fd");

    // A file stuck in a read, then rings of it and presses of play and stop; a
    // healthy file still plays meanwhile.
    PlayMp3(1, {stuck("1")});
    ASSERT_TRUE(eventually([&] { return share.readsWaiting() == 1; }));
    for (int i = 0; i < 100; ++i) {
        PlayMp3(1, {stuck("1")});
        if (i % 2)
            StopPlayback();
        if (i == 50) {
            PlayMp3(1, {a});
            ASSERT_TRUE(statusBecomes(PlaybackStatus::Finished));
        }
    }
    EXPECT_EQ(share.readsWaiting(), 1) << "a file stuck in a read is not opened again";
    ASSERT_EQ(rec->plays().size(), 1u);
    EXPECT_TRUE(isA(rec->plays()[0]));

    PlayMp3(1, {stuck("2")});
    EXPECT_TRUE(eventually([&] { return share.readsWaiting() == 2; }));
    // Two streams stuck: nothing more is opened, healthy or not, and nothing waits.
    PlayMp3(1, {stuck("3")});
    PlayMp3(1, {a});
    EXPECT_EQ(CurrentPlaybackStatus(), PlaybackStatus::Stopped);
    std::this_thread::sleep_for(100ms);  // a fair chance for a stream that should not have started
    EXPECT_EQ(share.readsWaiting(), 2);
    EXPECT_EQ(rec->plays().size(), 1u);
    const size_t threadsNow = entriesOf("/proc/self/task"), fdsNow = entriesOf("/proc/self/fd");
    std::printf("after 100 plays of a stuck file: threads %zu -> %zu, descriptors %zu -> %zu\n", threads,
                threadsNow, fds, fdsNow);
    EXPECT_LE(threadsNow, threads + 3) << "the two stuck streams and the current player's worker";
    EXPECT_LE(fdsNow, fds + 2) << "the two stuck files";

    // Once the share answers, the stuck streams end silently and files play again.
    share.release(true);
    StopPlayback();
    EXPECT_TRUE(eventually([&] { return share.readsWaiting() == 0 && entriesOf("/proc/self/task") <= threads; }));
    SetMusicFileRead(nullptr);
    PlayMp3(1, {a});
    ASSERT_TRUE(statusBecomes(PlaybackStatus::Finished));
    EXPECT_EQ(rec->plays().size(), 2u);
}

// Names whose look-up hangs, as on a dead mount, unless asked on the thread
// that set it up: that one must never ask.
struct HangingLookups {
    static inline std::thread::id caller;
    static inline std::atomic<int> onCaller{0}, elsewhere{0};
    static inline std::atomic<bool> released{false};

    static bool lookup(const std::string&)
    {
        if (std::this_thread::get_id() == caller) {
            ++onCaller;
            return false;
        }
        ++elsewhere;
        (void)eventually([] { return released.load(); });
        return false;
    }
};

TEST_F(PlaybackTest, shouldLookUpNonAsciiNamesOnTheStreamNotTheCaller)
{
    HangingLookups::caller = std::this_thread::get_id();
    SetFileNameLookup(&HangingLookups::lookup);
    PlayMp3(1, {fromUtf8(testenv::freshDir("mount") + "/\xe9\x93\x83\xe5\xa3\xb0.mp3")});  // "铃声.mp3"
    EXPECT_EQ(CurrentPlaybackStatus(), PlaybackStatus::Playing);
    EXPECT_TRUE(eventually([] { return HangingLookups::elsewhere > 0; }));
    StopPlayback();
    HangingLookups::released = true;
    EXPECT_EQ(HangingLookups::onCaller, 0);
    SetFileNameLookup(nullptr);
    EXPECT_TRUE(rec->plays().empty());
}

// The first stream thread to start waits until released, as on a machine too
// busy to run it; the others start as usual.
struct HeldThreadStart {
    static inline std::atomic<bool> holding{false}, released{false};

    static void start()
    {
        if (holding.exchange(false))
            (void)eventually([] { return released.load(); });
    }
};

TEST_F(PlaybackTest, shouldReplayAFileAtOnceWhenItsStoppedStreamHadNotStartedYet)
{
    HeldThreadStart::holding = true;
    SetStreamThreadStart(&HeldThreadStart::start);
    PlayMp3(1, {a});
    StopPlayback();  // its thread is held, so it is left behind
    PlayMp3(1, {a});
    const PlaybackStatus replay = CurrentPlaybackStatus();
    HeldThreadStart::released = true;
    SetStreamThreadStart(nullptr);
    ASSERT_EQ(replay, PlaybackStatus::Playing) << "a stream that never looked its file up is not stuck";
    ASSERT_TRUE(statusBecomes(PlaybackStatus::Finished));
    ASSERT_EQ(rec->plays().size(), 1u);
    EXPECT_TRUE(isA(rec->plays()[0]));
}

TEST(PlaybackExit, shouldEndTheProcessWhileAReadStalls)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            alarm(20);  // a process held by the stuck thread dies of SIGALRM instead
            SetAudioSinkFactory(SinkRecorder::create(kSpeed)->factory());
            StallingReads::get().arm(0);
            PlayMp3(1, {dataFile("playback-long.mp3")});
            if (StallingReads::get().waitStalled())
                std::exit(3);
        },
        testing::ExitedWithCode(3), "");
}

} // namespace
