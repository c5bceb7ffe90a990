// The kitchen timer on the desktop.
#include "program.h"
#include "program_frame.h"
#include "qt_platform.h"

int main(int argc, char** argv)
{
    QtPlatform platform(argc, argv);
    RunProgram(platform, programStart);
}
