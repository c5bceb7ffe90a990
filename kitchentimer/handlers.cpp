// The kitchen timer's binding table: every handler its window definitions may name.
#include "alarm.h"
#include "alert_mode.h"
#include "assets.h"
#include "default_sound.h"
#include "kitchentimer.h"
#include "program.h"

std::span<const EmbeddedFile> kitchentimerWindows();

namespace {
const HandlerEntry kHandlers[] = {
    handler("onKitchenMainWindowCreated", onKitchenMainWindowCreated),
    handler("onMainWindowAboutToBeDestroyed", onMainWindowAboutToBeDestroyed),
    handler("onKitchenPurposeLinkLabelLeftButtonDown", onKitchenPurposeLinkLabelLeftButtonDown),
    handler("onKitchenAboutLinkLabelLeftButtonDown", onKitchenAboutLinkLabelLeftButtonDown),
    handler("onAboutWindowCreated", onAboutWindowCreated),
    handler("onKitchenCountdownStartButtonClicked", onKitchenCountdownStartButtonClicked),
    handler("onCountdownStopButtonClicked", onCountdownStopButtonClicked),
    handler("onKitchenCountdownSecondsCheckClicked", onKitchenCountdownSecondsCheckClicked),
    handler("onKitchenCountdownMinutesCheckClicked", onKitchenCountdownMinutesCheckClicked),
    handler("onKitchenCountdownHoursCheckClicked", onKitchenCountdownHoursCheckClicked),
    handler("onCountdownTimerTick", onCountdownTimerTick),
    handler("onMusicOpenButtonClicked", onMusicOpenButtonClicked),
    handler("onKitchenMusicPlayButtonClicked", onKitchenMusicPlayButtonClicked),
    handler("onMusicStopButtonClicked", onMusicStopButtonClicked),
    handler("onAlertOnceCheckClicked", onAlertOnceCheckClicked),
    handler("onAlertRepeatCheckClicked", onAlertRepeatCheckClicked),
};
} // namespace

const ProgramDefinition& thisProgram()
{
    static const ProgramDefinition program{kitchenMainWindow, kitchentimerWindows(), kHandlers, assetFiles()};
    return program;
}
