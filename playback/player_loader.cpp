// The program side of the player library: loads it at the first play and
// forwards the player's operations to it. Without the library there is no
// player, which the service takes as silence.
#include <dlfcn.h>
#include <unistd.h>

#include <mutex>
#include <string>

#include "player.h"
#include "player_module.h"

namespace {

// Beside the program once installed, else where the build put it. Both by
// path: a sanitizer's dlopen would not search the program's run path.
void* openLibrary()
{
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe);
    if (n > 0 && size_t(n) < sizeof exe) {
        std::string beside(exe, size_t(n));
        beside = beside.substr(0, beside.rfind('/') + 1) + RUVO_PLAYER_LIBRARY_NAME;
        if (void* library = dlopen(beside.c_str(), RTLD_LAZY | RTLD_LOCAL))
            return library;
    }
    return dlopen(RUVO_PLAYER_LIBRARY_PATH, RTLD_LAZY | RTLD_LOCAL);
}

const PlayerModule* module()
{
    static const PlayerModule* loaded = nullptr;
    static std::once_flag once;
    std::call_once(once, [] {
        // Kept for the life of the process.
        void* library = openLibrary();
        if (!library)
            return;
        auto entry = reinterpret_cast<decltype(&ruvoPlayerModule)>(dlsym(library, "ruvoPlayerModule"));
        if (entry)
            loaded = entry(CurrentAudioSinkFactory);
    });
    return loaded;
}

} // namespace

PlayerPtr CreatePlayer(std::vector<Text> files, int32_t count)
{
    const PlayerModule* m = module();
    return PlayerPtr(m ? m->create(files, count) : nullptr);
}

void NewPlay(Player& player) { module()->newPlay(player); }

void SetPauseState(Player& player, int flag) { module()->setPauseState(player, flag); }

void RemovePlayer(PlayerPtr& player) { player.reset(); }

PlaybackStatus PlayerStatus(Player& player) { return module()->status(player); }

// A player exists only once the library is loaded.
void PlayerDeleter::operator()(Player* player) const { module()->remove(player); }

void SetMusicFileRead(MusicFileRead read)
{
    if (const PlayerModule* m = module())
        m->setMusicFileRead(read);
}

std::unique_ptr<AudioSink> MakePulseAudioSink()
{
    const PlayerModule* m = module();
    return m ? m->makePulseAudioSink() : nullptr;
}
