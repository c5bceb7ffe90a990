#pragma once
// The playback service that the programs' handlers call. Every call returns at
// once; the sound plays on threads of the service. Only the removal of the
// current player waits, briefly, so that when PlayMp3 or StopPlayback returns
// the old sound has stopped; a decoder stuck in a read is left to end alone.
//
// Names are Texts (GB18030); they become UTF-8 paths only when a file is
// opened. Nothing here reports an error: a file that cannot be played or an
// audio output that cannot be opened gives silence.
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <optional>
#include <variant>
#include <vector>

#include "text.h"

using MusicName = std::variant<Text, std::vector<Text>>;

// Replaces the current player by one for the non-empty names, in order.
// count: omitted -> 1 pass, 0 -> nothing plays, negative -> without end.
void PlayMp3(std::optional<int32_t> count, std::initializer_list<MusicName> names);
void PauseMp3();
void ResumeMp3();
void StopPlayback();

// What the current player is doing; for tests and benchmarks.
enum class PlaybackStatus { NoPlayer, Stopped, Playing, Paused, Finished };
PlaybackStatus CurrentPlaybackStatus();

// Every call of the service as the handlers made it, for program tests.
struct PlaybackCall {
    std::string operation;
    std::optional<int32_t> count;
    std::vector<Text> names;  // texts and array elements, in order, empty ones included
    bool operator==(const PlaybackCall&) const = default;
};
void SetPlaybackObserver(std::function<void(const PlaybackCall&)> observer);
