#include "recording_sink.h"

#include <algorithm>

namespace {
using Clock = std::chrono::steady_clock;
}

class RecordingSink final : public AudioSink {
public:
    RecordingSink(std::shared_ptr<SinkRecorder> recorder, size_t index)
        : rec_(std::move(recorder)), index_(index) {}

    bool open(long rate, int channels) override
    {
        std::lock_guard lock(rec_->mutex_);
        if (rec_->openFails_ || me().stopped || rate <= 0 || channels <= 0)
            return false;
        me().opened = true;
        me().rate = rate;
        me().channels = channels;
        changed();
        return true;
    }

    bool write(std::span<const int16_t> samples) override
    {
        std::unique_lock lock(rec_->mutex_);
        if (!me().opened || me().closed)
            return false;
        const int64_t frames = static_cast<int64_t>(samples.size()) / me().channels;
        const std::chrono::duration<double> length(static_cast<double>(frames) / (static_cast<double>(me().rate) * rec_->speed_));
        auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(length);
        for (;;) {
            if (me().stopped)
                return false;
            if (me().paused) {
                // Time spent paused does not count as playing.
                const auto since = Clock::now();
                rec_->changed_.wait(lock);
                deadline += Clock::now() - since;
                continue;
            }
            if (Clock::now() >= deadline)
                break;
            rec_->changed_.wait_until(lock, deadline);
        }
        me().frames += frames;
        ++me().writes;
        changed();
        return true;
    }

    bool drain() override
    {
        // Every write was already taken at the pace of the sound.
        std::lock_guard lock(rec_->mutex_);
        if (me().stopped)
            return false;
        me().drained = true;
        changed();
        return true;
    }

    void close() override
    {
        std::lock_guard lock(rec_->mutex_);
        if (me().closed)
            return;
        me().closed = true;
        changed();
    }

    void pause() override { setPaused(true); }
    void resume() override { setPaused(false); }

    void stop() override
    {
        std::lock_guard lock(rec_->mutex_);
        me().stopped = true;
        changed();
    }

    ~RecordingSink() override { close(); }

private:
    void setPaused(bool paused)
    {
        std::lock_guard lock(rec_->mutex_);
        ++(paused ? me().pauses : me().resumes);
        me().paused = paused;
        changed();
    }

    // By index: the recorder's list grows as sinks are made.
    SinkRecorder::Sink& me() { return rec_->sinks_[index_]; }
    void changed() { rec_->changed_.notify_all(); }

    std::shared_ptr<SinkRecorder> rec_;
    const size_t index_;
};

std::shared_ptr<SinkRecorder> SinkRecorder::create(double speed)
{
    return std::shared_ptr<SinkRecorder>(new SinkRecorder(speed));
}

AudioSinkFactory SinkRecorder::factory()
{
    std::shared_ptr<SinkRecorder> self = shared_from_this();
    return [self]() -> std::unique_ptr<AudioSink> {
        std::lock_guard lock(self->mutex_);
        self->sinks_.emplace_back();
        self->changed_.notify_all();
        return std::make_unique<RecordingSink>(self, self->sinks_.size() - 1);
    };
}

void SinkRecorder::setOpenFails(bool fails)
{
    std::lock_guard lock(mutex_);
    openFails_ = fails;
}

std::vector<SinkRecorder::Sink> SinkRecorder::sinks() const
{
    std::lock_guard lock(mutex_);
    return sinks_;
}

std::vector<SinkRecorder::Sink> SinkRecorder::opened(const std::vector<Sink>& sinks)
{
    std::vector<Sink> out;
    std::copy_if(sinks.begin(), sinks.end(), std::back_inserter(out), [](const Sink& s) { return s.opened; });
    return out;
}

std::vector<SinkRecorder::Sink> SinkRecorder::plays() const { return opened(sinks()); }

bool SinkRecorder::waitFor(const std::function<bool(const std::vector<Sink>&)>& done,
                           std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return done(sinks_); });
}
