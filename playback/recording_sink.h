#pragma once
// An audio sink for tests: it plays nothing, takes samples at the pace of the
// sound (optionally sped up) and records what each sink was asked to do.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "audio_sink.h"

class SinkRecorder : public std::enable_shared_from_this<SinkRecorder> {
public:
    // What happened to one sink, in the order the player created them.
    struct Sink {
        bool opened = false;
        long rate = 0;
        int channels = 0;
        int64_t frames = 0;  // frames taken by write()
        int writes = 0;
        int pauses = 0;      // calls of pause()
        int resumes = 0;     // calls of resume()
        bool paused = false;
        bool drained = false;
        bool stopped = false;
        bool closed = false;
    };

    // speed: how many times faster than the sound the samples are taken.
    static std::shared_ptr<SinkRecorder> create(double speed = 1.0);

    // A factory of sinks that report here.
    AudioSinkFactory factory();
    // Makes later open() calls fail, as without an audio server.
    void setOpenFails(bool fails);

    std::vector<Sink> sinks() const;
    // The sinks that were opened, in order: one per file that began to play.
    std::vector<Sink> plays() const;

    static std::vector<Sink> opened(const std::vector<Sink>& sinks);

    // Waits until the predicate on all sinks, checked at every change, holds;
    // false after the timeout.
    bool waitFor(const std::function<bool(const std::vector<Sink>& sinks)>& done,
                 std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;

private:
    friend class RecordingSink;
    explicit SinkRecorder(double speed) : speed_(speed) {}

    const double speed_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Sink> sinks_;
    bool openFails_ = false;
};
