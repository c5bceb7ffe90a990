#include "player.h"

#include <fcntl.h>
#include <mpg123.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <semaphore>
#include <span>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "audio_sink.h"

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<MusicFileRead> g_read{nullptr};
std::atomic<StreamThreadStart> g_threadStart{nullptr};

// When the stream thread's call into the file system began; zero outside
// one. A call that has lasted long marks a stream stuck on a dead mount.
thread_local std::atomic<Clock::rep>* t_inFileSystemSince = nullptr;

Clock::rep nowMark() { return std::max<Clock::rep>(Clock::now().time_since_epoch().count(), 1); }

class FileSystemCall {
public:
    FileSystemCall()
    {
        if (t_inFileSystemSince && t_inFileSystemSince->load() == 0) {
            t_inFileSystemSince->store(nowMark());
            outermost_ = true;
        }
    }
    ~FileSystemCall()
    {
        if (outermost_)
            t_inFileSystemSince->store(0);
    }
    FileSystemCall(const FileSystemCall&) = delete;
    FileSystemCall& operator=(const FileSystemCall&) = delete;

private:
    bool outermost_ = false;
};

ssize_t readMusic(int fd, void* buffer, size_t size)
{
    FileSystemCall call;
    const MusicFileRead read = g_read.load();
    return read ? read(fd, buffer, size) : ::read(fd, buffer, size);
}

enum class EventKind { FileEnded, StartFailed };

struct Event {
    EventKind kind;
    uint64_t stream;  // which stream sent it; events of a replaced stream are stale
};

// Owns an mpg123 handle for one file.
class Decoder {
public:
    ~Decoder()
    {
        if (handle_) {
            mpg123_close(handle_);
            mpg123_delete(handle_);
        }
        if (fd_ >= 0)
            ::close(fd_);  // mpg123 leaves a file descriptor it was given open
    }

    // Opens the file, reads its format and decodes its first frames. The
    // output is fixed to signed 16-bit at the first frame's rate and channel
    // count; later frames of another format end the stream. False when the
    // file is no MP3 or holds no sound.
    bool open(const std::string& path, long& rate, int& channels)
    {
        static std::once_flag once;
        std::call_once(once, [] { (void)mpg123_init(); });  // a no-op on current versions
        int err = MPG123_OK;
        handle_ = mpg123_new(nullptr, &err);
        if (!handle_)
            return false;
        // A bad file must stay silent, also on stderr.
        mpg123_param(handle_, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
        mpg123_format_none(handle_);
        const long* rates = nullptr;
        size_t count = 0;
        mpg123_rates(&rates, &count);
        for (size_t i = 0; i < count; ++i)
            mpg123_format(handle_, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
        // Only a regular file is played: opening a FIFO or a device could block
        // this thread for good.
        fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        struct stat st;
        if (fd_ < 0 || ::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode))
            return false;
        (void)::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
        int encoding = 0;
        if (mpg123_replace_reader(handle_, readMusic, ::lseek) != MPG123_OK
            || mpg123_open_fd(handle_, fd_) != MPG123_OK
            || mpg123_getformat(handle_, &rate, &channels, &encoding) != MPG123_OK)
            return false;
        rate_ = rate;
        channels_ = channels;
        mpg123_format_none(handle_);
        if (mpg123_format(handle_, rate, channels, MPG123_ENC_SIGNED_16) != MPG123_OK)
            return false;

        // libmpg123 finds frame headers in any data (PCM sound does it
        // easily), so a file counts as MP3 only when its first frames follow
        // one another as they do in a real one.
        for (int i = 0; i < kProbeFrames && !ended_; ++i) {
            std::span<const int16_t> samples;
            const Result r = decode(samples);
            if (r == Result::Broken)
                return false;
            ended_ = r == Result::Ended;
            pending_.insert(pending_.end(), samples.begin(), samples.end());
        }
        return !pending_.empty();
    }

    // The next decoded samples; empty at the end of the data or where the
    // stream cannot be decoded further (both end the file).
    std::span<const int16_t> next()
    {
        if (!pendingTaken_) {
            pendingTaken_ = true;
            return pending_;
        }
        std::span<const int16_t> samples;
        while (!ended_ && samples.empty())
            ended_ = decode(samples) != Result::Audio;
        return samples;
    }

private:
    static constexpr int kProbeFrames = 4;
    enum class Result { Audio, Ended, Broken };

    // One frame; its samples stay valid until the next call.
    Result decode(std::span<const int16_t>& samples)
    {
        off_t frame = 0;
        unsigned char* audio = nullptr;
        size_t bytes = 0;
        const int r = mpg123_decode_frame(handle_, &frame, &audio, &bytes);
        if (r == MPG123_DONE)
            return Result::Ended;
        if (r == MPG123_NEW_FORMAT) {
            long rate = 0;
            int channels = 0, encoding = 0;
            mpg123_getformat(handle_, &rate, &channels, &encoding);
            const bool same = rate == rate_ && channels == channels_ && encoding == MPG123_ENC_SIGNED_16;
            return same ? Result::Audio : Result::Broken;
        }
        if (r != MPG123_OK)
            return Result::Broken;
        samples = {reinterpret_cast<const int16_t*>(audio), bytes / sizeof(int16_t)};
        return Result::Audio;
    }

    mpg123_handle* handle_ = nullptr;
    int fd_ = -1;
    long rate_ = 0;
    int channels_ = 0;
    std::vector<int16_t> pending_;  // the probed frames, played first
    bool pendingTaken_ = false;
    bool ended_ = false;
};

// Where a stream reports to its player's worker. A stream may outlive its
// player (see Stream), so the two share this, and a closed mailbox takes
// nothing more.
struct Mailbox {
    std::mutex mutex;
    std::deque<Event> queue;
    bool closed = false;
    std::counting_semaphore<> wake{0};

    void post(Event event)
    {
        {
            std::lock_guard lock(mutex);
            if (closed)
                return;
            queue.push_back(event);
        }
        wake.release();
    }
};

class Stream;

// How long a removal waits for a stopped stream's thread: a healthy one ends
// in well under this, and is then joined, so its sink is closed on return.
constexpr std::chrono::milliseconds kStreamEndWait{50};
// Streams whose threads did not end in that time, stuck in a read or a name
// lookup on a dead mount, are left to end alone; each holds a thread and its
// file. Only this many may exist: past them a play stays silent.
constexpr size_t kMaxAbandonedStreams = 2;

// The abandoned streams of the process, whatever player they served. Never
// destroyed: a stuck thread may end after the program's static destructors.
struct Abandoned {
    std::mutex mutex;
    std::vector<std::shared_ptr<Stream>> streams;

    static Abandoned& get()
    {
        static Abandoned* abandoned = new Abandoned;
        return *abandoned;
    }
};

// One file of a player: decoding and output on a thread of its own, which
// holds what it uses. A read can stall for minutes (a hung network share, a
// FUSE mount), so the player never waits long for this thread: once stopped,
// the sink stays silent, and the thread may end whenever its read returns.
class Stream {
public:
    Stream(std::shared_ptr<Mailbox> mailbox, uint64_t id, Text name, std::unique_ptr<AudioSink> sink)
        : mailbox_(std::move(mailbox)), id_(id), name_(std::move(name)), sink_(std::move(sink)) {}

    uint64_t id() const { return id_; }
    const Text& name() const { return name_; }
    AudioSink& sink() { return *sink_; }

    static std::thread start(const std::shared_ptr<Stream>& stream)
    {
        return std::thread([stream] {
            if (const StreamThreadStart threadStart = g_threadStart.load())
                threadStart();
            t_inFileSystemSince = &stream->inFileSystemSince_;
            stream->run();
            {
                std::lock_guard lock(stream->doneMutex_);
                stream->done_ = true;
                stream->doneChanged_.notify_all();
            }
            Abandoned& abandoned = Abandoned::get();
            std::lock_guard lock(abandoned.mutex);
            std::erase(abandoned.streams, stream);
        });
    }

    // Stuck in one call into the file system since before it was stopped.
    bool stuck(Clock::time_point now) const
    {
        const Clock::rep since = inFileSystemSince_.load();
        return since != 0 && now - Clock::time_point(Clock::duration(since)) >= kStreamEndWait;
    }

    // Safe from any thread: the sound stops now and the thread stops soon.
    void abort()
    {
        aborted_ = true;
        sink_->stop();
    }

    bool waitDone(std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(doneMutex_);
        return doneChanged_.wait_for(lock, timeout, [this] { return done_; });
    }

private:
    bool openDecoder(Decoder& decoder, long& rate, int& channels)
    {
        // Resolving a name that is not ASCII looks files up: here, not on the
        // caller's (window) thread, since a dead mount can hang the lookup.
        // Marked before aborted_ is read: a removal either keeps the thread
        // from the file system or finds it there; a thread a busy machine has
        // not run yet is not stuck.
        inFileSystemSince_ = nowMark();
        const bool opened = !aborted_ && decoder.open(toFileName(name_), rate, channels);
        inFileSystemSince_ = 0;
        return opened;
    }

    void run()
    {
        Decoder decoder;
        long rate = 0;
        int channels = 0;
        // A file without sound cannot start: taken as a file that ended at
        // once, an endless list of such files would keep the worker spinning.
        if (!openDecoder(decoder, rate, channels) || aborted_ || !sink_->open(rate, channels)) {
            sink_->close();
            if (!aborted_)
                mailbox_->post({EventKind::StartFailed, id_});
            return;
        }
        // An output that fails in mid-file ends the file like its last frame.
        bool outputAlive = true;
        for (auto samples = decoder.next(); !samples.empty() && outputAlive && !aborted_; samples = decoder.next())
            outputAlive = sink_->write(samples);
        if (outputAlive && !aborted_)
            (void)sink_->drain();  // the end of the file is when its last sample was heard
        sink_->close();
        if (!aborted_)
            mailbox_->post({EventKind::FileEnded, id_});
    }

    const std::shared_ptr<Mailbox> mailbox_;
    const uint64_t id_;
    const Text name_;
    const std::unique_ptr<AudioSink> sink_;
    std::atomic<bool> aborted_{false};
    std::atomic<Clock::rep> inFileSystemSince_{0};
    std::mutex doneMutex_;
    std::condition_variable doneChanged_;
    bool done_ = false;
};

// Whether a new stream may open the file: not while the bound of abandoned
// streams is reached, nor while one of them is stuck on this very name (a
// second open would only stick beside it). Asks nothing of the file system.
bool mayStartStream(const Text& name)
{
    Abandoned& abandoned = Abandoned::get();
    std::lock_guard lock(abandoned.mutex);
    if (abandoned.streams.size() >= kMaxAbandonedStreams)
        return false;
    const Clock::time_point now = Clock::now();
    for (const std::shared_ptr<Stream>& stream : abandoned.streams)
        if (stream->name() == name && stream->stuck(now))
            return false;
    return true;
}

} // namespace

class Player {
public:
    enum class State { Stopped, Playing, Paused };

    Player(std::vector<Text> files, int32_t count)
        : files_(std::move(files)), passesLeft_(count < 0 ? 0 : count) {}
    ~Player();

    bool startWorker();
    void newPlay();
    void setPauseState(int flag);
    PlaybackStatus status();

private:
    void runWorker();
    void handle(const Event& event);
    void newPlayLocked();
    void releaseStreamLocked();

    const std::vector<Text> files_;

    std::mutex mutex_;  // everything below up to the mailbox
    int32_t passesLeft_;
    size_t cursor_ = 0;
    State state_ = State::Stopped;
    bool finished_ = false;
    std::shared_ptr<Stream> stream_;
    std::thread streamThread_;
    uint64_t lastStreamId_ = 0;

    const std::shared_ptr<Mailbox> mailbox_ = std::make_shared<Mailbox>();
    std::atomic<bool> stopFlag_{false};  // set under mutex_
    std::thread worker_;
};

Player::~Player()
{
    {
        std::lock_guard lock(mutex_);
        stopFlag_ = true;
        if (stream_)
            stream_->abort();
    }
    {
        std::lock_guard lock(mailbox_->mutex);
        mailbox_->closed = true;
    }
    mailbox_->wake.release();
    if (worker_.joinable())
        worker_.join();
    std::lock_guard lock(mutex_);
    releaseStreamLocked();
}

bool Player::startWorker()
{
    try {
        worker_ = std::thread([this] { runWorker(); });
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

void Player::runWorker()
{
    for (;;) {
        mailbox_->wake.acquire();
        if (stopFlag_)
            return;
        Event event;
        {
            std::lock_guard lock(mailbox_->mutex);
            if (mailbox_->queue.empty())
                continue;
            event = mailbox_->queue.front();
            mailbox_->queue.pop_front();
        }
        std::lock_guard lock(mutex_);
        if (stopFlag_)  // set under mutex_, so no new stream after removal began
            return;
        handle(event);
        if (finished_)
            return;
    }
}

void Player::handle(const Event& event)
{
    if (!stream_ || stream_->id() != event.stream)
        return;
    releaseStreamLocked();
    state_ = State::Stopped;
    // A file that cannot start ends the list where it stands.
    if (event.kind == EventKind::StartFailed)
        return;
    if (++cursor_ == files_.size()) {
        cursor_ = 0;
        if (passesLeft_ > 0 && --passesLeft_ == 0) {
            finished_ = true;
            return;
        }
    }
    newPlayLocked();
}

void Player::newPlay()
{
    std::lock_guard lock(mutex_);
    newPlayLocked();
}

void Player::newPlayLocked()
{
    if (stopFlag_)
        return;
    if (stream_) {
        releaseStreamLocked();
        state_ = State::Stopped;
    }
    // Silent, and stopped as after a failed start.
    if (!mayStartStream(files_[cursor_]))
        return;
    const AudioSinkFactory factory = CurrentAudioSinkFactory();
    std::unique_ptr<AudioSink> sink = factory ? factory() : nullptr;
    if (!sink)
        return;
    // The file is looked up and opened on the stream thread, so that neither
    // a slow disk nor a slow audio server holds up the caller; a failure there
    // comes back as StartFailed and leaves the player stopped.
    auto stream = std::make_shared<Stream>(mailbox_, ++lastStreamId_, files_[cursor_], std::move(sink));
    try {
        streamThread_ = Stream::start(stream);
    } catch (const std::system_error&) {
        return;
    }
    stream_ = std::move(stream);
    state_ = State::Playing;
}

void Player::releaseStreamLocked()
{
    if (!stream_)
        return;
    // The stream thread never takes mutex_, so waiting under it is safe.
    stream_->abort();
    bool done = stream_->waitDone(kStreamEndWait);
    if (!done) {
        // Under the lock its thread takes last, so it either has ended by now
        // or will find itself listed and take itself off.
        Abandoned& abandoned = Abandoned::get();
        std::lock_guard lock(abandoned.mutex);
        done = stream_->waitDone(std::chrono::milliseconds(0));
        if (!done)
            abandoned.streams.push_back(stream_);
    }
    if (done)
        streamThread_.join();
    else
        streamThread_.detach();  // stuck in a read: it ends on its own, silent
    stream_.reset();
}

void Player::setPauseState(int flag)
{
    std::lock_guard lock(mutex_);
    if (flag == 1 && state_ == State::Playing) {
        state_ = State::Paused;
        stream_->sink().pause();
    } else if (flag == 0 && state_ == State::Paused) {
        state_ = State::Playing;
        stream_->sink().resume();
    }
}

PlaybackStatus Player::status()
{
    std::lock_guard lock(mutex_);
    if (finished_)
        return PlaybackStatus::Finished;
    switch (state_) {
    case State::Playing: return PlaybackStatus::Playing;
    case State::Paused: return PlaybackStatus::Paused;
    case State::Stopped: break;
    }
    return PlaybackStatus::Stopped;
}

void PlayerDeleter::operator()(Player* player) const { delete player; }

PlayerPtr CreatePlayer(std::vector<Text> files, int32_t count)
{
    PlayerPtr player(new Player(std::move(files), count));
    if (!player->startWorker())
        return nullptr;
    return player;
}

void NewPlay(Player& player) { player.newPlay(); }

void SetPauseState(Player& player, int flag) { player.setPauseState(flag); }

void RemovePlayer(PlayerPtr& player) { player.reset(); }

PlaybackStatus PlayerStatus(Player& player) { return player.status(); }

void SetMusicFileRead(MusicFileRead read) { g_read = read; }

void SetStreamThreadStart(StreamThreadStart start) { g_threadStart = start; }
