// How the session ends the program: SIGTERM (logout), SIGINT (Ctrl+C in the
// starting terminal) and SIGHUP (the terminal gone) close the windows as
// their close boxes would, so the clean-up runs; and the box or dialog that a
// handler waits on is closed first.
#include <QApplication>
#include <QDialog>
#include <QSocketNotifier>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "qt_platform.h"
#include "runtime.h"

namespace {

int g_wake[2] = {-1, -1};

void onEndSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    (void)!::write(g_wake[1], &byte, 1);  // a full pipe already holds a wake-up
    errno = saved;
}

} // namespace

void QtPlatform::watchEndSignals()
{
    if (g_wake[0] >= 0 || ::pipe2(g_wake, O_NONBLOCK | O_CLOEXEC) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_wake[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
        char bytes[64];
        while (::read(g_wake[0], bytes, sizeof bytes) > 0) {
        }
        if (Runtime* rt = Runtime::current())
            rt->requestEnd();
    });
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction old {};
        // Ignored where we were started (nohup, a background job): it stays so.
        if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue;
        struct sigaction sa {};
        sa.sa_handler = onEndSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        (void)::sigaction(sig, &sa, nullptr);
    }
}

void QtPlatform::dismissModal()
{
    // Our boxes and the file dialog are Qt dialogs; a window in dialog mode is
    // closed by the runtime itself.
    if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
        dialog->reject();
}
