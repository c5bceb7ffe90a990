// The library side of the player loaded at the first play.
#include "player_module.h"

#include "player.h"

namespace {

AudioSinkFactory (*programSinkFactory)() = nullptr;

const PlayerModule kModule = {
    [](std::vector<Text>& files, int32_t count) { return CreatePlayer(std::move(files), count).release(); },
    [](Player& player) { NewPlay(player); },
    [](Player& player, int flag) { SetPauseState(player, flag); },
    [](Player* player) {
        PlayerPtr owned(player);
        RemovePlayer(owned);
    },
    [](Player& player) { return PlayerStatus(player); },
    [] { return MakePulseAudioSink(); },
    [](MusicFileRead read) { SetMusicFileRead(read); },
};

} // namespace

// The program's factory, which tests and benchmarks may have replaced.
AudioSinkFactory CurrentAudioSinkFactory() { return programSinkFactory(); }

extern "C" __attribute__((visibility("default"))) const PlayerModule* ruvoPlayerModule(
    AudioSinkFactory (*currentSinkFactory)())
{
    programSinkFactory = currentSinkFactory;
    return &kModule;
}
