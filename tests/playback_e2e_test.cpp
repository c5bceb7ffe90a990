// The player through the real PulseAudio sink, heard on the monitor of a null
// sink: the sound arrives, a pause silences it promptly, resume brings it
// back, and removal silences it for good. Uses a reachable server that has a
// sink named "null", or else starts a private one.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "audio_sink.h"
#include "playback.h"
#include "test_env.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A loud block: the test tone is a sine at -3 dB, RMS about 16000.
constexpr double kLoudRms = 3000;
// How soon after PauseMp3 or StopPlayback the monitor must fall silent; it
// also covers the recorder's own buffering.
constexpr auto kPromptly = 300ms;

pid_t spawn(const std::vector<std::string>& args, int stdoutFd = -1)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdoutFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

void endProcess(pid_t& pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    pid = -1;
}

bool commandSucceeds(const std::string& command, std::string* output = nullptr)
{
    FILE* p = popen((command + " 2>/dev/null").c_str(), "r");
    if (!p)
        return false;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        if (output)
            output->append(buf, n);
    return pclose(p) == 0;
}

bool hasNullSink()
{
    std::string sinks;
    return commandSucceeds("pactl list short sinks", &sinks) && sinks.find("\tnull\t") != std::string::npos;
}

// A server for this test: the reachable one, or one of our own in a private
// runtime directory (as in the test environment's recipe).
class PulseServer {
public:
    ~PulseServer() { endProcess(pid_); }

    bool ensure()
    {
        if (hasNullSink())
            return true;
        const std::string runtime = testenv::freshDir("pulse");
        const std::string socket = runtime + "/pulse/native";
        setenv("PULSE_SERVER", ("unix:" + socket).c_str(), 1);
        const std::string oldRuntime = getenv("XDG_RUNTIME_DIR") ? getenv("XDG_RUNTIME_DIR") : "";
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        pid_ = spawn({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
                      "--log-target=file:" + runtime + "/pulse.log", "-L",
                      "module-native-protocol-unix auth-anonymous=1", "-L",
                      "module-null-sink sink_name=null rate=48000", "-L", "module-always-sink"});
        setenv("XDG_RUNTIME_DIR", oldRuntime.c_str(), 1);
        if (pid_ <= 0)
            return false;
        const auto deadline = Clock::now() + 15s;
        while (Clock::now() < deadline) {
            if (hasNullSink())
                return true;
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                return false;
            }
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }

private:
    pid_t pid_ = -1;
};

// Records the null sink's monitor and notes when each loud or quiet block of
// 10 ms arrived.
class MonitorRecorder {
public:
    ~MonitorRecorder() { stop(); }

    bool start()
    {
        int fds[2];
        if (pipe(fds) != 0)
            return false;
        pid_ = spawn({"parec", "-d", "null.monitor", "--rate=48000", "--channels=2", "--format=s16le", "--raw",
                      "--latency-msec=10"},
                     fds[1]);
        close(fds[1]);
        if (pid_ <= 0) {
            close(fds[0]);
            return false;
        }
        fd_ = fds[0];
        reader_ = std::thread([this] { read(); });
        return true;
    }

    void stop()
    {
        endProcess(pid_);
        if (reader_.joinable())
            reader_.join();
        if (fd_ >= 0)
            close(fd_);
        fd_ = -1;
    }

    bool hasData()
    {
        std::lock_guard lock(mutex_);
        return !blocks_.empty();
    }
    // The arrival of the first loud block after `since`, if any.
    std::optional<Clock::time_point> firstLoudAfter(Clock::time_point since)
    {
        std::lock_guard lock(mutex_);
        for (const auto& [when, loud] : blocks_)
            if (loud && when > since)
                return when;
        return std::nullopt;
    }
    std::optional<Clock::time_point> lastLoud()
    {
        std::lock_guard lock(mutex_);
        for (auto it = blocks_.rbegin(); it != blocks_.rend(); ++it)
            if (it->second)
                return it->first;
        return std::nullopt;
    }

private:
    void read()
    {
        constexpr size_t kBlock = 480 * 4;  // 10 ms of 48 kHz stereo s16
        std::vector<char> pending;
        char buf[8192];
        for (;;) {
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n <= 0)
                return;
            const auto now = Clock::now();
            pending.insert(pending.end(), buf, buf + n);
            size_t used = 0;
            for (; pending.size() - used >= kBlock; used += kBlock) {
                double sum = 0;
                for (size_t i = 0; i < kBlock; i += 2) {
                    const auto v = static_cast<int16_t>(static_cast<uint8_t>(pending[used + i])
                                                        | (static_cast<uint8_t>(pending[used + i + 1]) << 8));
                    sum += double(v) * v;
                }
                const bool loud = std::sqrt(sum / (kBlock / 2)) > kLoudRms;
                std::lock_guard lock(mutex_);
                blocks_.emplace_back(now, loud);
            }
            pending.erase(pending.begin(), pending.begin() + static_cast<ptrdiff_t>(used));
        }
    }

    pid_t pid_ = -1;
    int fd_ = -1;
    std::thread reader_;
    std::mutex mutex_;
    std::vector<std::pair<Clock::time_point, bool>> blocks_;
};

template <typename Pred>
bool eventually(Pred done, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

TEST(PlaybackE2E, shouldBeHeardOnNullSinkAndFallSilentPromptlyOnPauseAndStop)
{
    PulseServer server;
    if (!server.ensure())
        GTEST_SKIP() << "no PulseAudio server with a null sink, and none could be started";
    // The stream goes to the null sink even when the server's default is another.
    setenv("PULSE_SINK", "null", 1);
    SetAudioSinkFactory({});

    MonitorRecorder monitor;
    ASSERT_TRUE(monitor.start());
    // An idle null sink renders in long blocks; until the first one has come
    // out of the monitor, new sound would arrive late for reasons of its own.
    ASSERT_TRUE(eventually([&] { return monitor.hasData(); }, 10s));
    const Text tone = fromUtf8(RUVO_TEST_DATA_DIR "/playback-long.mp3");

    const auto played = Clock::now();
    PlayMp3(1, {tone});
    ASSERT_TRUE(eventually([&] { return monitor.firstLoudAfter(played).has_value(); }, 10s))
        << "the sound reaches the null sink";
    std::printf("first sound on the monitor after %.1f ms\n", ms(*monitor.firstLoudAfter(played) - played));
    std::this_thread::sleep_for(400ms);  // let the sound settle into a steady stream

    const auto paused = Clock::now();
    PauseMp3();
    EXPECT_EQ(CurrentPlaybackStatus(), PlaybackStatus::Paused);
    std::this_thread::sleep_for(800ms);  // long enough to hear a pause that does not hold
    const auto lastBeforeResume = monitor.lastLoud();
    ASSERT_TRUE(lastBeforeResume.has_value());
    std::printf("last sound %.1f ms after PauseMp3\n", ms(*lastBeforeResume - paused));
    EXPECT_LT(*lastBeforeResume - paused, kPromptly) << "pause silences the sound at once";

    const auto resumed = Clock::now();
    ResumeMp3();
    ASSERT_TRUE(eventually([&] { return monitor.firstLoudAfter(resumed).has_value(); }, 5s))
        << "resume brings the sound back";
    std::printf("sound back %.1f ms after ResumeMp3\n", ms(*monitor.firstLoudAfter(resumed) - resumed));
    std::this_thread::sleep_for(300ms);

    const auto stopped = Clock::now();
    StopPlayback();
    std::printf("StopPlayback took %.1f ms\n", ms(Clock::now() - stopped));
    std::this_thread::sleep_for(800ms);
    const auto lastSound = monitor.lastLoud();
    ASSERT_TRUE(lastSound.has_value());
    std::printf("last sound %.1f ms after StopPlayback\n", ms(*lastSound - stopped));
    EXPECT_LT(*lastSound - stopped, kPromptly) << "removal silences the sound at once";
    monitor.stop();
}

} // namespace
