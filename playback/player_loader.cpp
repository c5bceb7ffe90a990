// The program side of the player library: loads the copy the program carries
// at the first play and forwards the player's operations to it. Without the
// library there is no player, which the service takes as silence.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

#include "embedded.h"
#include "files.h"
#include "player.h"
#include "player_module.h"

std::span<const EmbeddedFile> playerImage();

namespace {

constexpr int kOpenFlags = RTLD_LAZY | RTLD_LOCAL;

// From a memory file, so that nothing needs to lie beside the program, and a
// copy of it alone rings as well. The file stays open for the life of the
// process: its name in /proc is the library's, which the sanitizers' and
// debuggers' symbolizers read.
void* openFromMemory(std::string_view image)
{
    const int fd = memfd_create("ruvo_player", MFD_CLOEXEC);
    if (fd < 0)
        return nullptr;
    void* library = writeAll(fd, image) ? dlopen(("/proc/self/fd/" + std::to_string(fd)).c_str(), kOpenFlags) : nullptr;
    if (!library)
        ::close(fd);
    return library;
}

// Where a sandbox refuses memory files or /proc is missing: a file made new in
// a folder only this user can open, removed as soon as it is loaded. Anywhere
// else someone could swap in a library of their own, or have us write through
// a link. A sanitizer's report then names no function of the player: its
// file is gone.
void* openFromPrivateFile(std::string_view image)
{
    const std::string folder = PrivateFolder();
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0)
        return nullptr;
    struct stat st;
    void* library = nullptr;
    if (::fstat(dir, &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0) {
        // A name of a killed run, or of a run in another PID namespace, is
        // passed over.
        for (int attempt = 0; attempt < 8; ++attempt) {
            char name[64];
            std::snprintf(name, sizeof name, "ruvo-player-%d-%llx", int(::getpid()),
                          (unsigned long long)std::chrono::steady_clock::now().time_since_epoch().count());
            const int fd = ::openat(dir, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (fd < 0 && errno == EEXIST)
                continue;
            if (fd < 0)
                break;
            const bool written = writeAll(fd, image);
            if (::close(fd) == 0 && written)
                library = dlopen((folder + "/" + name).c_str(), kOpenFlags);
            ::unlinkat(dir, name, 0);
            break;
        }
    }
    ::close(dir);
    return library;
}

void* openLibrary()
{
    const std::string_view image = findEmbedded(playerImage(), "player");
    if (image.empty())
        return nullptr;
    void* library = openFromMemory(image);
    return library ? library : openFromPrivateFile(image);
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
