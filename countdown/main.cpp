// The countdown timer on the desktop, with logind for its power actions.
#include "logind_client.h"
#include "program.h"
#include "program_frame.h"
#include "qt_platform.h"

int main(int argc, char** argv)
{
    QtPlatform platform(argc, argv);
    LogindClient logind(QDBusConnection::systemBus());
    platform.setPowerService({[&](PowerAction a) { return logind.permitted(a); },
                              [&](PowerAction a, bool force) { return logind.act(a, force); }});
    RunProgram(platform, programStart);
}
