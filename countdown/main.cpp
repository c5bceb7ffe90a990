// The countdown timer on the desktop, with logind for its power actions.
#include "logind_client.h"
#include "program.h"
#include "program_frame.h"
#include "qt_platform.h"

int main(int argc, char** argv)
{
    QtPlatform platform(argc, argv);
    // Reaches the system bus at the first power action, so a bus that does not
    // answer never holds up the window.
    LogindClient logind;
    platform.setPowerService({[&](PowerAction a) { return logind.permitted(a); },
                              [&](PowerAction a, bool force) { return logind.act(a, force); }});
    RunProgram(platform, programStart);
}
