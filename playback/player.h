#pragma once
// The MP3 player behind the playback service: a list of files, the passes
// left over it, a cursor and a state, with a worker thread that moves through
// the list as files end. Each file is decoded and written to its own audio
// sink on a stream thread of its own; the stream reports the end of its file
// (or a failed start) to the worker through a locked queue and a semaphore.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "playback.h"
#include "text.h"

class Player;
// Deleting a player is removing it (see RemovePlayer).
struct PlayerDeleter {
    void operator()(Player* player) const;
};
using PlayerPtr = std::unique_ptr<Player, PlayerDeleter>;

// A player for a non-empty list of non-empty names; passes left = count
// (negative counts as 0, which means without end); cursor on the first name,
// stopped, worker running. Null when the worker cannot be started.
PlayerPtr CreatePlayer(std::vector<Text> files, int32_t count);
// Starts the file under the cursor, first stopping what the player plays.
void NewPlay(Player& player);
// 1 pauses a playing player, 0 resumes a paused one; otherwise nothing.
void SetPauseState(Player& player, int flag);
// Stops the sound at once, ends the player's worker and frees the player.
// A decoder stuck in a read is not waited for: its thread ends on its own,
// without a sound. Does nothing to a null player.
void RemovePlayer(PlayerPtr& player);

PlaybackStatus PlayerStatus(Player& player);

// Reads music files in place of read(2); null restores it. For tests and
// benchmarks, which make reads stall as on a hung network share.
using MusicFileRead = ssize_t (*)(int fd, void* buffer, size_t size);
void SetMusicFileRead(MusicFileRead read);
// Called first on each stream thread; null for none. For tests, which hold a
// thread back as a busy machine does.
using StreamThreadStart = void (*)();
void SetStreamThreadStart(StreamThreadStart start);
