#pragma once
// python-dbusmock's logind on a private bus of its own, for the logind
// client's tests and benchmark: nothing ever reaches the system's logind.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

class MockLogind {
public:
    // dir: an empty folder for the bus socket and the mock's call log.
    explicit MockLogind(const std::string& dir)
        : address_("unix:path=" + dir + "/sysbus.sock"), log_(dir + "/calls.log")
    {
        daemon_ = spawn({"/usr/bin/dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=" + address_});
        struct stat st;
        for (int i = 0; i < 500 && ::stat((dir + "/sysbus.sock").c_str(), &st) != 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        mock_ = spawn({"/usr/bin/python3", "-m", "dbusmock", "--system", "--template", "logind", "-l", log_});
    }
    ~MockLogind()
    {
        for (pid_t p : {mock_, daemon_}) {
            ::kill(p, SIGTERM);
            ::waitpid(p, nullptr, 0);
        }
    }
    MockLogind(const MockLogind&) = delete;
    MockLogind& operator=(const MockLogind&) = delete;

    const std::string& address() const { return address_; }
    const std::string& callLog() const { return log_; }

    // Waits until the mock owns logind's name on the bus; false if it never does.
    static bool waitUntilServing(QDBusConnection& bus)
    {
        for (int i = 0; i < 1000; ++i) {
            if (bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.login1")))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    // A method of the mock's own interface (AddMethod, AddSession, Reset, ...).
    static QDBusMessage call(QDBusConnection& bus, const char* method, const QList<QVariant>& args = {})
    {
        QDBusMessage m = QDBusMessage::createMethodCall("org.freedesktop.login1", "/org/freedesktop/login1",
                                                        "org.freedesktop.DBus.Mock", method);
        m.setArguments(args);
        return bus.call(m);
    }

private:
    pid_t spawn(std::vector<std::string> argv)
    {
        pid_t parent = ::getpid();
        pid_t pid = ::fork();
        if (pid == 0) {
            // A test killed on its timeout takes its bus and mock along.
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (::getppid() != parent)
                ::_exit(1);
            ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address_.c_str(), 1);
            int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            std::vector<char*> args;
            for (std::string& a : argv)
                args.push_back(a.data());
            args.push_back(nullptr);
            ::execv(args[0], args.data());
            ::_exit(127);
        }
        return pid;
    }

    std::string address_, log_;
    pid_t daemon_ = -1, mock_ = -1;
};
