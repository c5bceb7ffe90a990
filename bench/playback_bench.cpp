// Figures of the playback service with the real PulseAudio sink (or, without
// a server, the recording sink at the real pace):
//   - how long PlayMp3 takes to return when it replaces a playing sound;
//   - how long from the PlayMp3 call to the first samples handed to the output,
//     also for the first play of the process, which loads the player library;
//   - CPU time of the whole process per second of playing (getrusage), its
//     wake-ups (voluntary context switches of all its threads) and the CPU of the
//     PulseAudio server meanwhile;
//   - how long StopPlayback takes while the decoder's read stalls for 5 s;
//   - threads and descriptors of the process after 100 plays of a file whose
//     reads never return, and the longest of those PlayMp3 calls.
// Usage: playback_bench [file.mp3]
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <mutex>
#include <thread>
#include <vector>

#include "audio_sink.h"
#include "playback.h"
#include "player.h"
#include "proc_figures.h"
#include "recording_sink.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Notes the moment the first samples of each sink reach the output it wraps.
struct FirstWrite {
    std::mutex mutex;
    std::condition_variable changed;
    std::optional<Clock::time_point> when;
    int opens = 0;
    int failedOpens = 0;

    void reset()
    {
        std::lock_guard lock(mutex);
        when.reset();
    }
    std::optional<Clock::time_point> wait(std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, timeout, [&] { return when.has_value(); });
        return when;
    }
};

class TimingSink final : public AudioSink {
public:
    TimingSink(std::unique_ptr<AudioSink> inner, FirstWrite& note) : inner_(std::move(inner)), note_(note) {}
    bool open(long rate, int channels) override
    {
        const bool ok = inner_->open(rate, channels);
        std::lock_guard lock(note_.mutex);
        ++(ok ? note_.opens : note_.failedOpens);
        return ok;
    }
    bool write(std::span<const int16_t> samples) override
    {
        if (!wrote_) {
            wrote_ = true;
            std::lock_guard lock(note_.mutex);
            if (!note_.when)
                note_.when = Clock::now();
            note_.changed.notify_all();
        }
        return inner_->write(samples);
    }
    bool drain() override { return inner_->drain(); }
    void close() override { inner_->close(); }
    void pause() override { inner_->pause(); }
    void resume() override { inner_->resume(); }
    void stop() override { inner_->stop(); }

private:
    std::unique_ptr<AudioSink> inner_;
    FirstWrite& note_;
    bool wrote_ = false;
};

// Reads that stall for 5 s each once stalling is on, as on a hung network
// share; for ever (the life of the process) once the share is dead.
std::atomic<bool> g_stall{false};
std::atomic<bool> g_dead{false};
std::atomic<int> g_stalledReads{0}, g_deadReads{0};
ssize_t stallingRead(int fd, void* buffer, size_t size)
{
    if (g_dead) {
        ++g_deadReads;
        for (;;)
            pause();
    }
    if (g_stall) {
        ++g_stalledReads;
        std::this_thread::sleep_for(5s);
    }
    return ::read(fd, buffer, size);
}

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Voluntary context switches of the whole process, ended threads included:
// each is a thread going to sleep, so one wake-up. Preemptions, which a busy
// machine adds, do not count.
long contextSwitches()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_nvcsw;
}

// The PulseAudio server of the session, from the pid file it keeps; empty
// when there is none.
std::string serverPid()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::ifstream in(std::string(runtime ? runtime : "") + "/pulse/pid");
    std::string pid;
    std::getline(in, pid);
    return pid;
}

double processCpuSeconds(const std::string& pid)
{
    std::ifstream in("/proc/" + pid + "/stat");
    std::string all((std::istreambuf_iterator<char>(in)), {});
    size_t at = all.rfind(')');
    if (at == std::string::npos)
        return 0;
    long long utime = 0, stime = 0;
    // Fields after the name: state is the 3rd, utime the 14th, stime the 15th.
    std::sscanf(all.c_str() + at + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lld %lld", &utime, &stime);
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

struct Stats {
    double median, max;
};
Stats stats(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v.back()};
}

} // namespace

int main(int argc, char** argv)
{
    const Text file = fromUtf8(argc > 1 ? argv[1] : RUVO_DEFAULT_ALARM);
    FirstWrite note;

    // Is there a server? The first play through the plain PulseAudio sink
    // tells, and shows what loading the player costs the first sound.
    AudioSinkFactory inner = MakePulseAudioSink;
    const char* output = "PulseAudio";
    SetAudioSinkFactory([&] { return std::make_unique<TimingSink>(inner(), note); });
    const auto firstCall = Clock::now();
    PlayMp3(1, {file});
    const auto firstSound = note.wait(3s);
    StopPlayback();
    if (note.opens == 0) {
        auto recorder = SinkRecorder::create(1.0);
        inner = recorder->factory();
        output = "recording sink at the real pace (no PulseAudio server reachable)";
    }
    std::printf("output: %s\nfile: %s\n\n", output, toUtf8(file).c_str());
    if (firstSound)
        std::printf("first play of the process (loads the player library): first sample handed to the output after "
                    "%.2f ms (goal < 5 ms)\n",
                    ms(*firstSound - firstCall));

    constexpr int kRounds = 10;
    std::vector<double> firstSample, replace;
    PlayMp3(1, {file});
    std::this_thread::sleep_for(300ms);
    for (int i = 0; i < kRounds; ++i) {
        note.reset();
        const auto t0 = Clock::now();
        PlayMp3(1, {file});  // replaces the sound that is playing
        const auto t1 = Clock::now();
        const auto first = note.wait(5s);
        replace.push_back(ms(t1 - t0));
        if (first)
            firstSample.push_back(ms(*first - t0));
        std::this_thread::sleep_for(300ms);
    }
    const Stats r = stats(replace);
    std::printf("PlayMp3 return while replacing a playing sound: median %.2f ms, max %.2f ms (goal < 50 ms)\n",
                r.median, r.max);
    if (firstSample.empty()) {
        std::printf("first sample to the output: never\n");
    } else {
        const Stats f = stats(firstSample);
        std::printf("PlayMp3 call to first sample handed to the output: median %.2f ms, max %.2f ms (goal < 50 ms)\n",
                    f.median, f.max);
    }

    // Steady playing: the whole process, decoder and audio threads included.
    constexpr auto kSpan = 10s;
    PlayMp3(-1, {file});
    std::this_thread::sleep_for(500ms);
    const std::string server = serverPid();
    const double cpu0 = cpuSeconds();
    const double server0 = server.empty() ? 0 : processCpuSeconds(server);
    const long switches0 = contextSwitches();
    const auto w0 = Clock::now();
    std::this_thread::sleep_for(kSpan);
    const double cpu = cpuSeconds() - cpu0;
    const long switches = contextSwitches() - switches0;
    const double serverCpu = server.empty() ? 0 : processCpuSeconds(server) - server0;
    const double wall = std::chrono::duration<double>(Clock::now() - w0).count();
    const PlaybackStatus status = CurrentPlaybackStatus();
    StopPlayback();
    std::printf("CPU per second of playing: %.2f ms = %.2f %% of a core (goal < 1 %%)%s\n", 1000 * cpu / wall,
                100 * cpu / wall, status == PlaybackStatus::Playing ? "" : " [not playing!]");
    std::printf("wake-ups while playing: %.0f a second (goal < 100)\n", double(switches) / wall);
    if (!server.empty())
        std::printf("PulseAudio server (pid %s) meanwhile: %.2f %% of a core\n", server.c_str(), 100 * serverCpu / wall);

    SetMusicFileRead(stallingRead);
    PlayMp3(1, {file});
    std::this_thread::sleep_for(300ms);
    g_stall = true;
    const auto stallDeadline = Clock::now() + 3s;
    while (g_stalledReads == 0 && Clock::now() < stallDeadline)
        std::this_thread::sleep_for(1ms);
    const auto s0 = Clock::now();
    StopPlayback();
    const double removal = ms(Clock::now() - s0);
    std::printf("StopPlayback while the decoder's read stalls for 5 s: %.2f ms (goal < 100 ms)%s\n", removal,
                g_stalledReads == 0 ? " [no read stalled!]" : "");
    g_stall = false;

    // A dead share: every ring of its file leaves a stream stuck in a read,
    // of which the player keeps only a few.
    std::this_thread::sleep_for(5500ms);  // the stalled read above ends
    const size_t threads0 = entriesOf("/proc/self/task"), fds0 = entriesOf("/proc/self/fd");
    g_dead = true;
    double longest = 0;
    for (int i = 0; i < 100; ++i) {
        const int stuck = g_deadReads;
        const auto p0 = Clock::now();
        PlayMp3(1, {file});
        longest = std::max(longest, ms(Clock::now() - p0));
        // A stream replaced before its first read would never reach the share.
        const auto deadline = Clock::now() + 1s;
        while (CurrentPlaybackStatus() == PlaybackStatus::Playing && g_deadReads == stuck && Clock::now() < deadline)
            std::this_thread::sleep_for(1ms);
    }
    std::printf("100 plays of a file whose reads never return: threads %zu -> %zu, descriptors %zu -> %zu; "
                "longest PlayMp3 %.2f ms\n",
                threads0, entriesOf("/proc/self/task"), fds0, entriesOf("/proc/self/fd"), longest);
    return 0;
}
