#include "playback.h"

#include <mutex>

#include "audio_sink.h"
#include "player.h"

namespace {

struct Service {
    // The factory is declared first so that it outlives the player, whose
    // worker may still be creating a sink while the program exits.
    std::mutex factoryMutex;
    AudioSinkFactory factory;

    std::mutex mutex;
    PlayerPtr current;
    std::function<void(const PlaybackCall&)> observer;

    ~Service()
    {
        std::lock_guard lock(mutex);
        RemovePlayer(current);
    }
};

Service& service()
{
    static Service s;
    return s;
}

void observe(Service& s, const char* operation, std::optional<int32_t> count = std::nullopt,
             std::initializer_list<MusicName> names = {})
{
    if (!s.observer)
        return;
    PlaybackCall call{operation, count, {}};
    for (const MusicName& name : names) {
        if (const Text* text = std::get_if<Text>(&name))
            call.names.push_back(*text);
        else
            for (const Text& element : std::get<std::vector<Text>>(name))
                call.names.push_back(element);
    }
    s.observer(call);
}

} // namespace

void SetPlaybackObserver(std::function<void(const PlaybackCall&)> observer)
{
    Service& s = service();
    std::lock_guard lock(s.mutex);
    s.observer = std::move(observer);
}

void SetAudioSinkFactory(AudioSinkFactory factory)
{
    Service& s = service();
    std::lock_guard lock(s.factoryMutex);
    s.factory = std::move(factory);
}

AudioSinkFactory CurrentAudioSinkFactory()
{
    Service& s = service();
    std::lock_guard lock(s.factoryMutex);
    if (s.factory)
        return s.factory;
    return MakePulseAudioSink;
}

void PlayMp3(std::optional<int32_t> count, std::initializer_list<MusicName> names)
{
    Service& s = service();
    std::lock_guard lock(s.mutex);
    observe(s, "PlayMp3", count, names);
    // Every call stops the sound that was playing, whatever its arguments.
    RemovePlayer(s.current);

    int32_t passes = count.value_or(1);
    if (passes == 0)
        return;
    if (passes < 0)
        passes = 0;

    std::vector<Text> files;
    for (const MusicName& name : names) {
        if (const Text* text = std::get_if<Text>(&name)) {
            if (!text->empty())
                files.push_back(*text);
        } else {
            for (const Text& element : std::get<std::vector<Text>>(name))
                if (!element.empty())
                    files.push_back(element);
        }
    }
    if (files.empty())
        return;

    s.current = CreatePlayer(std::move(files), passes);
    if (s.current)
        NewPlay(*s.current);
}

void PauseMp3()
{
    Service& s = service();
    std::lock_guard lock(s.mutex);
    observe(s, "PauseMp3");
    if (s.current)
        SetPauseState(*s.current, 1);
}

void ResumeMp3()
{
    Service& s = service();
    std::lock_guard lock(s.mutex);
    observe(s, "ResumeMp3");
    if (s.current)
        SetPauseState(*s.current, 0);
}

void StopPlayback()
{
    Service& s = service();
    std::lock_guard lock(s.mutex);
    observe(s, "StopPlayback");
    RemovePlayer(s.current);
}

PlaybackStatus CurrentPlaybackStatus()
{
    Service& s = service();
    std::lock_guard lock(s.mutex);
    return s.current ? PlayerStatus(*s.current) : PlaybackStatus::NoPlayer;
}
