// The countdown timer's binding table: every handler its window definition may name.
#include "assets.h"
#include "countdown.h"
#include "program.h"
#include "program_frame.h"

std::span<const EmbeddedFile> countdownWindows();

const WindowId programMainWindow = mainWindow;

namespace {
const HandlerEntry kHandlers[] = {
    handler("onMainWindowCreated", onMainWindowCreated),
    handler("onForceCloseButtonClicked", onForceCloseButtonClicked),
};
} // namespace

const ProgramDefinition& thisProgram()
{
    static const ProgramDefinition program{countdownWindows(), kHandlers, assetFiles()};
    return program;
}
