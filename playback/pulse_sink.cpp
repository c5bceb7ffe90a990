// The PulseAudio sink: libpulse's asynchronous API on a threaded main loop of
// its own, one context and one playback stream per file. Pause is a cork,
// which takes the stream's sound off the server's sink at once (the server
// rewinds what it had mixed ahead) and keeps the unplayed samples for resume.
#include <pulse/pulseaudio.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>

#include "audio_sink.h"

namespace {

using namespace std::chrono_literals;

// How long a server may take to accept the connection and the stream; past
// it the output counts as missing.
constexpr auto kConnectTimeout = 3s;
// Buffer ahead of the sound: 200 ms, so that the server asks for more a few
// times a second rather than twenty (a cork still silences at once: the
// server takes back what it had mixed ahead). Playback starts once the first
// 20 ms are there, not the whole buffer.
constexpr pa_usec_t kTargetLatency = 200 * PA_USEC_PER_MSEC;
constexpr pa_usec_t kStartLatency = 20 * PA_USEC_PER_MSEC;

class MainloopLock {
public:
    explicit MainloopLock(pa_threaded_mainloop* loop) : loop_(loop) { pa_threaded_mainloop_lock(loop_); }
    ~MainloopLock() { pa_threaded_mainloop_unlock(loop_); }
    MainloopLock(const MainloopLock&) = delete;
    MainloopLock& operator=(const MainloopLock&) = delete;

private:
    pa_threaded_mainloop* loop_;
};

class PulseSink final : public AudioSink {
public:
    ~PulseSink() override { close(); }

    bool open(long rate, int channels) override
    {
        {
            std::lock_guard guard(guard_);
            if (stopped_ || loop_)
                return false;
            loop_ = pa_threaded_mainloop_new();
            if (!loop_)
                return false;
            if (pa_threaded_mainloop_start(loop_) < 0) {
                pa_threaded_mainloop_free(loop_);
                loop_ = nullptr;
                return false;
            }
        }
        MainloopLock lock(loop_);
        const auto deadline = std::chrono::steady_clock::now() + kConnectTimeout;

        context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), program_invocation_short_name);
        if (!context_)
            return false;
        pa_context_set_state_callback(context_, &PulseSink::onContextState, this);
        // Never start a server of our own: no server means no sound.
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            return false;
        if (!waitUntil(deadline, [this] {
                const pa_context_state_t s = pa_context_get_state(context_);
                return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
            })
            || pa_context_get_state(context_) != PA_CONTEXT_READY)
            return false;

        pa_sample_spec format{};
        format.format = PA_SAMPLE_S16NE;
        format.rate = static_cast<uint32_t>(rate);
        format.channels = static_cast<uint8_t>(channels);
        if (!pa_sample_spec_valid(&format))
            return false;
        frameBytes_ = pa_frame_size(&format);
        stream_ = pa_stream_new(context_, "alarm", &format, nullptr);
        if (!stream_)
            return false;
        pa_stream_set_state_callback(stream_, &PulseSink::onStreamChange, this);
        pa_stream_set_write_callback(stream_, &PulseSink::onStreamWritable, this);

        pa_buffer_attr attr{};
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.tlength = static_cast<uint32_t>(pa_usec_to_bytes(kTargetLatency, &format));
        attr.prebuf = static_cast<uint32_t>(pa_usec_to_bytes(kStartLatency, &format));
        attr.minreq = static_cast<uint32_t>(-1);
        attr.fragsize = static_cast<uint32_t>(-1);
        // A pause that came before the stream existed is honoured from the start.
        corked_ = paused_.load();
        const auto flags = static_cast<pa_stream_flags_t>(
            PA_STREAM_ADJUST_LATENCY | (corked_ ? PA_STREAM_START_CORKED : 0));
        if (pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr) < 0)
            return false;
        if (!waitUntil(deadline, [this] {
                const pa_stream_state_t s = pa_stream_get_state(stream_);
                return s == PA_STREAM_READY || !PA_STREAM_IS_GOOD(s);
            })
            || pa_stream_get_state(stream_) != PA_STREAM_READY)
            return false;
        ready_ = true;
        // A pause or resume during the connection comes into force now.
        if (paused_ != corked_)
            corkLocked(paused_);
        return true;
    }

    bool write(std::span<const int16_t> samples) override
    {
        if (!ready_)
            return false;
        MainloopLock lock(loop_);
        auto bytes = reinterpret_cast<const uint8_t*>(samples.data());
        size_t left = samples.size_bytes();
        while (left > 0) {
            if (stopped_ || pa_stream_get_state(stream_) != PA_STREAM_READY)
                return false;
            size_t room = pa_stream_writable_size(stream_);
            if (room == static_cast<size_t>(-1))
                return false;
            room -= room % frameBytes_;
            if (room == 0) {
                // Woken by the server's request for more, by a pause or resume, or by stop().
                pa_threaded_mainloop_wait(loop_);
                continue;
            }
            const size_t n = room < left ? room : left;
            if (pa_stream_write(stream_, bytes, n, nullptr, 0, PA_SEEK_RELATIVE) < 0)
                return false;
            bytes += n;
            left -= n;
        }
        return true;
    }

    bool drain() override
    {
        if (!ready_)
            return false;
        MainloopLock lock(loop_);
        if (stopped_)
            return false;
        pa_operation* op = pa_stream_drain(stream_, &PulseSink::onStreamSuccess, this);
        if (!op)
            return false;
        bool done = true;
        while (pa_operation_get_state(op) == PA_OPERATION_RUNNING) {
            if (stopped_ || pa_stream_get_state(stream_) != PA_STREAM_READY) {
                pa_operation_cancel(op);
                done = false;
                break;
            }
            pa_threaded_mainloop_wait(loop_);
        }
        pa_operation_unref(op);
        return done;
    }

    void close() override
    {
        // guard_ keeps pause(), resume() and stop() away from a main loop
        // that is going.
        std::lock_guard guard(guard_);
        if (!loop_)
            return;
        {
            MainloopLock lock(loop_);
            ready_ = false;
            if (stream_) {
                pa_stream_set_state_callback(stream_, nullptr, nullptr);
                pa_stream_set_write_callback(stream_, nullptr, nullptr);
                pa_stream_disconnect(stream_);
                pa_stream_unref(stream_);
                stream_ = nullptr;
            }
            if (context_) {
                pa_context_set_state_callback(context_, nullptr, nullptr);
                pa_context_disconnect(context_);
                pa_context_unref(context_);
                context_ = nullptr;
            }
        }
        pa_threaded_mainloop_stop(loop_);
        pa_threaded_mainloop_free(loop_);
        loop_ = nullptr;
    }

    void pause() override { setPaused(true); }
    void resume() override { setPaused(false); }

    void stop() override
    {
        std::lock_guard guard(guard_);
        stopped_ = true;
        if (!loop_)
            return;
        MainloopLock lock(loop_);
        if (ready_)
            corkLocked(true);
        pa_threaded_mainloop_signal(loop_, 0);
    }

private:
    void setPaused(bool paused)
    {
        std::lock_guard guard(guard_);
        paused_ = paused;
        if (!loop_)
            return;
        MainloopLock lock(loop_);
        // While the stream connects, open() applies paused_ once it is ready.
        if (ready_ && !stopped_)
            corkLocked(paused);
        pa_threaded_mainloop_signal(loop_, 0);
    }

    void corkLocked(bool cork)
    {
        corked_ = cork;
        // Not waited for: the server carries the cork out in order with the
        // samples, and the caller must not wait on the audio.
        if (pa_operation* op = pa_stream_cork(stream_, cork ? 1 : 0, nullptr, nullptr))
            pa_operation_unref(op);
    }

    // Waits on the main loop (its lock held) until done() or stop() or the
    // deadline; a timer on the loop wakes the wait at the deadline.
    template <typename Done>
    bool waitUntil(std::chrono::steady_clock::time_point deadline, Done done)
    {
        const auto left = deadline - std::chrono::steady_clock::now();
        timedOut_ = left <= decltype(left)::zero();
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
        timeval when{};
        pa_gettimeofday(&when);
        pa_timeval_add(&when, static_cast<pa_usec_t>(
                                  std::chrono::duration_cast<std::chrono::microseconds>(left).count()));
        pa_time_event* timer = timedOut_ ? nullptr : api->time_new(api, &when, &PulseSink::onTimer, this);
        bool ok = true;
        while (!done()) {
            if (stopped_ || timedOut_) {
                ok = false;
                break;
            }
            pa_threaded_mainloop_wait(loop_);
        }
        if (timer)
            api->time_free(timer);
        return ok;
    }

    static void onContextState(pa_context*, void* self) { static_cast<PulseSink*>(self)->signal(); }
    static void onStreamChange(pa_stream*, void* self) { static_cast<PulseSink*>(self)->signal(); }
    static void onStreamWritable(pa_stream*, size_t, void* self) { static_cast<PulseSink*>(self)->signal(); }
    static void onStreamSuccess(pa_stream*, int, void* self) { static_cast<PulseSink*>(self)->signal(); }
    static void onTimer(pa_mainloop_api*, pa_time_event*, const timeval*, void* self)
    {
        auto* sink = static_cast<PulseSink*>(self);
        sink->timedOut_ = true;
        sink->signal();
    }
    void signal() { pa_threaded_mainloop_signal(loop_, 0); }

    std::mutex guard_;                     // loop_ coming and going; stopped_, paused_ before the loop
    pa_threaded_mainloop* loop_ = nullptr;
    // The rest is touched under the main loop's lock once the loop exists.
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    size_t frameBytes_ = 4;
    // The flags are locked as said above, and atomic too, because thread
    // checkers cannot follow the main loop's lock through libpulse's own
    // waits and would report every read.
    std::atomic<bool> paused_{false};
    std::atomic<bool> corked_{false};
    std::atomic<bool> ready_{false};
    std::atomic<bool> stopped_{false};
    std::atomic<bool> timedOut_{false};
};

} // namespace

std::unique_ptr<AudioSink> MakePulseAudioSink() { return std::make_unique<PulseSink>(); }
