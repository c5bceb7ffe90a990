// The program side of the player library: loads the copy the program carries
// at the first play and forwards the player's operations to it. Without the
// library there is no player, which the service takes as silence.
#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <string_view>

#include "embedded.h"
#include "player.h"
#include "player_module.h"

std::span<const EmbeddedFile> playerImage();

namespace {

// From a memory file, so that nothing needs to lie beside the program, and a
// copy of it alone rings as well. The file stays open for the life of the
// process: its name in /proc is the library's, which the sanitizers' and
// debuggers' symbolizers read.
void* openLibrary()
{
    const std::string_view image = findEmbedded(playerImage(), "player");
    if (image.empty())
        return nullptr;
    const int fd = memfd_create("ruvo_player", MFD_CLOEXEC);
    if (fd < 0)
        return nullptr;
    for (size_t done = 0; done < image.size();) {
        const ssize_t n = ::write(fd, image.data() + done, image.size() - done);
        if (n <= 0) {
            ::close(fd);
            return nullptr;
        }
        done += size_t(n);
    }
    void* library = dlopen(("/proc/self/fd/" + std::to_string(fd)).c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (!library)
        ::close(fd);
    return library;
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
