#pragma once
// The player and the PulseAudio sink live in a library of their own, loaded at
// the first play: libmpg123, libpulse and the codec libraries they pull in
// cost start-up time and memory that a program which never rings should not
// pay. This is the table the library hands to the program.
#include <cstdint>
#include <memory>
#include <vector>

#include "audio_sink.h"
#include "playback.h"
#include "player.h"

class Player;

struct PlayerModule {
    Player* (*create)(std::vector<Text>& files, int32_t count);
    void (*newPlay)(Player& player);
    void (*setPauseState)(Player& player, int flag);
    void (*remove)(Player* player);
    PlaybackStatus (*status)(Player& player);
    std::unique_ptr<AudioSink> (*makePulseAudioSink)();
    void (*setMusicFileRead)(MusicFileRead read);
};

// The one symbol the library exports. The player reaches the program's sink
// factory through `currentSinkFactory`.
extern "C" const PlayerModule* ruvoPlayerModule(AudioSinkFactory (*currentSinkFactory)());
