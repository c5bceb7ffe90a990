// The countdown timer's binding table: every handler its window definition may name.
#include "alarm.h"
#include "alert_mode.h"
#include "assets.h"
#include "countdown.h"
#include "default_sound.h"
#include "program.h"

std::span<const EmbeddedFile> countdownWindows();

namespace {
const HandlerEntry kHandlers[] = {
    handler("onMainWindowCreated", onMainWindowCreated),
    handler("onForceCloseButtonClicked", onForceCloseButtonClicked),
    handler("onMainWindowAboutToBeDestroyed", onMainWindowAboutToBeDestroyed),
    handler("onCountdownTimerTick", onCountdownTimerTick),
    handler("onMusicOpenButtonClicked", onMusicOpenButtonClicked),
    handler("onMusicClearButtonClicked", onMusicClearButtonClicked),
    handler("onMusicPlayButtonClicked", onMusicPlayButtonClicked),
    handler("onMusicPauseButtonClicked", onMusicPauseButtonClicked),
    handler("onMusicResumeButtonClicked", onMusicResumeButtonClicked),
    handler("onCountdownStartButtonClicked", onCountdownStartButtonClicked),
    handler("onLaunchStartButtonClicked", onLaunchStartButtonClicked),
    handler("onShutdownStartButtonClicked", onShutdownStartButtonClicked),
    handler("onCountdownSecondsCheckClicked", onCountdownSecondsCheckClicked),
    handler("onCountdownMinutesCheckClicked", onCountdownMinutesCheckClicked),
    handler("onCountdownHoursCheckClicked", onCountdownHoursCheckClicked),
    handler("onLaunchSecondsCheckClicked", onLaunchSecondsCheckClicked),
    handler("onLaunchMinutesCheckClicked", onLaunchMinutesCheckClicked),
    handler("onLaunchHoursCheckClicked", onLaunchHoursCheckClicked),
    handler("onShutdownSecondsCheckClicked", onShutdownSecondsCheckClicked),
    handler("onShutdownMinutesCheckClicked", onShutdownMinutesCheckClicked),
    handler("onShutdownHoursCheckClicked", onShutdownHoursCheckClicked),
    handler("onActionShutdownCheckClicked", onActionShutdownCheckClicked),
    handler("onActionStandbyCheckClicked", onActionStandbyCheckClicked),
    handler("onActionLogoffCheckClicked", onActionLogoffCheckClicked),
    handler("onActionRestartCheckClicked", onActionRestartCheckClicked),
    handler("onAlertOnceCheckClicked", onAlertOnceCheckClicked),
    handler("onAlertRepeatCheckClicked", onAlertRepeatCheckClicked),
    handler("onLaunchBrowse1ButtonClicked", onLaunchBrowse1ButtonClicked),
    handler("onLaunchBrowse2ButtonClicked", onLaunchBrowse2ButtonClicked),
    handler("onLaunchBrowse3ButtonClicked", onLaunchBrowse3ButtonClicked),
    handler("onLaunchClear1ButtonClicked", onLaunchClear1ButtonClicked),
    handler("onLaunchClear2ButtonClicked", onLaunchClear2ButtonClicked),
    handler("onLaunchClear3ButtonClicked", onLaunchClear3ButtonClicked),
    handler("onLaunchTimerTick", onLaunchTimerTick),
    handler("onShutdownTimerTick", onShutdownTimerTick),
    handler("onForceCancelButtonClicked", onForceCancelButtonClicked),
    handler("onSaveSettingsButtonClicked", onSaveSettingsButtonClicked),
    handler("onTopmostTimerTick", onTopmostTimerTick),
    handler("onPurposeLinkLabelLeftButtonDown", onPurposeLinkLabelLeftButtonDown),
    handler("onPurposeShortLinkLabelLeftButtonDown", onPurposeShortLinkLabelLeftButtonDown),
    handler("onAboutLinkLabelLeftButtonDown", onAboutLinkLabelLeftButtonDown),
    handler("onAboutBoardLeftButtonDown", onAboutBoardLeftButtonDown),
    handler("onStudioNameLabelLeftButtonDown", onStudioNameLabelLeftButtonDown),
    handler("onAboutPictureLeftButtonDown", onAboutPictureLeftButtonDown),
};
} // namespace

const ProgramDefinition& thisProgram()
{
    static const ProgramDefinition program{mainWindow, countdownWindows(), kHandlers, assetFiles()};
    return program;
}
