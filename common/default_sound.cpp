#include "default_sound.h"

#include "assets.h"
#include "files.h"
#include "services.h"
#include "program_frame.h"

ByteSet defaultMusic() { return ByteSet{findEmbedded(assetFiles(), "defaultMusic")}; }

void writeDefaultSound()
{
    (void)WriteBytesToFile(DefaultSoundPath(), {defaultMusic()});
    defaultMusicPath = DefaultSoundPath();
}

void onMainWindowAboutToBeDestroyed()
{
    // The fixed path, not defaultMusicPath: the file is the same for both programs.
    (void)RemoveFile(DefaultSoundPath());
}
