// ShutdownSystem through the logind client against python-dbusmock's logind
// on a private bus: what reaches the bus, and every way it can say no.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "framework.h"
#include "headless.h"
#include "logind_client.h"
#include "mock_logind.h"
#include "runtime.h"
#include "test_env.h"

namespace {

// The headless platform with the real power client in place of its script.
struct LogindPlatform : HeadlessPlatform {
    LogindClient* client = nullptr;
    bool powerPermitted(PowerAction a) override { return client->permitted(a); }
    bool powerAction(PowerAction a, bool force) override { return client->act(a, force); }
};

class LogindTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "logind_test";
        static char* argv[] = {name, nullptr};
        app = new QCoreApplication(argc, argv);
        mock = new MockLogind(testenv::freshDir("bus"));
        log = mock->callLog();
        bus = new QDBusConnection(QDBusConnection::connectToBus(QString::fromStdString(mock->address()), "mock"));
        MockLogind::waitUntilServing(*bus);
    }
    static void TearDownTestSuite()
    {
        delete mock;
        delete bus;
        QDBusConnection::disconnectFromBus("mock");
        delete app;
    }

    void SetUp() override
    {
        ASSERT_TRUE(bus->interface()->isServiceRegistered("org.freedesktop.login1")) << "dbusmock did not start";
        mockCall("Reset");
        logStart = testenv::readFile(log).size();
        unsetenv("XDG_SESSION_ID");
        client = std::make_unique<LogindClient>(QString::fromStdString(mock->address()), 1000);
        platform.client = client.get();
        runtime = std::make_unique<Runtime>(platform);
    }

    QDBusMessage mockCall(const char* method, const QList<QVariant>& args = {})
    {
        return MockLogind::call(*bus, method, args);
    }
    void addMethod(const char* name, const char* in, const char* out, const char* code)
    {
        QDBusMessage r = mockCall("AddMethod", {"org.freedesktop.login1.Manager", name, in, out, code});
        ASSERT_EQ(r.type(), QDBusMessage::ReplyMessage) << r.errorMessage().toStdString();
    }
    // The calls of the mock since the test began, one "Method args" per line.
    std::string calls()
    {
        std::string all = testenv::readFile(log).substr(logStart);
        std::string out;
        size_t pos = 0;
        while (pos < all.size()) {
            size_t end = all.find('\n', pos);
            std::string line = all.substr(pos, end - pos);
            size_t space = line.find(' ');  // after the time stamp
            out += line.substr(space + 1) + "\n";
            pos = end == std::string::npos ? all.size() : end + 1;
        }
        return out;
    }

    static inline QCoreApplication* app = nullptr;
    static inline QDBusConnection* bus = nullptr;
    static inline MockLogind* mock = nullptr;
    static inline std::string log;
    size_t logStart = 0;
    LogindPlatform platform;
    std::unique_ptr<LogindClient> client;
    std::unique_ptr<Runtime> runtime;
};

TEST_F(LogindTest, shouldReachEachActionNonInteractivelyAfterAskingWhetherItMay)
{
    EXPECT_TRUE(ShutdownSystem(1));
    EXPECT_TRUE(ShutdownSystem(2));
    EXPECT_TRUE(ShutdownSystem(4));
    EXPECT_TRUE(ShutdownSystem(5));
    EXPECT_EQ(calls(), "CanPowerOff\nPowerOff False\nCanReboot\nReboot False\nCanSuspend\nSuspend False\n"
                       "CanHibernate\nHibernate False\n");
}

TEST_F(LogindTest, shouldMakeNoCallForAModeOutOfRange)
{
    EXPECT_FALSE(ShutdownSystem(0, true));
    EXPECT_FALSE(ShutdownSystem(6, true));
    EXPECT_EQ(calls(), "");
}

TEST_F(LogindTest, shouldSkipInhibitorsWhenForcedAndFallBackWhereLogindCannot)
{
    // This logind has no …WithFlags methods: the plain one is taken.
    EXPECT_TRUE(ShutdownSystem(1, true));
    EXPECT_EQ(calls(), "CanPowerOff\nPowerOff False\n");

    addMethod("RebootWithFlags", "t", "", "");
    logStart = testenv::readFile(log).size();
    EXPECT_TRUE(ShutdownSystem(2, true));
    EXPECT_EQ(calls(), "CanReboot\nRebootWithFlags 16\n");

    // An older logind knows the method but not the flag.
    addMethod("SuspendWithFlags", "t", "",
              "raise dbus.exceptions.DBusException('bad flags', name='org.freedesktop.DBus.Error.InvalidArgs')");
    logStart = testenv::readFile(log).size();
    EXPECT_TRUE(ShutdownSystem(4, true));
    EXPECT_EQ(calls(), "CanSuspend\nSuspendWithFlags 16\nSuspendWithFlags raised: org.freedesktop.DBus.Error.InvalidArgs: "
                       "bad flags\nSuspend False\n");
}

TEST_F(LogindTest, shouldTakeOnlyYesAsPermissionAndRefusalsAsFalse)
{
    addMethod("CanPowerOff", "", "s", "ret = 'challenge'");
    addMethod("CanReboot", "", "s", "ret = 'no'");
    addMethod("HibernateWithFlags", "t", "",
              "raise dbus.exceptions.DBusException('no', name='org.freedesktop.DBus.Error.AccessDenied')");
    addMethod("Suspend", "b", "",
              "raise dbus.exceptions.DBusException('no', name='org.freedesktop.DBus.Error.AccessDenied')");
    logStart = testenv::readFile(log).size();
    EXPECT_FALSE(ShutdownSystem(1, true));
    EXPECT_FALSE(ShutdownSystem(2, true));
    EXPECT_FALSE(ShutdownSystem(5, true));
    EXPECT_FALSE(ShutdownSystem(4, false));
    EXPECT_EQ(calls(), "CanPowerOff\nCanReboot\nCanHibernate\nHibernateWithFlags 16\n"
                       "HibernateWithFlags raised: org.freedesktop.DBus.Error.AccessDenied: no\n"
                       "CanSuspend\nSuspend False\nSuspend raised: org.freedesktop.DBus.Error.AccessDenied: no\n")
        << "a refused forced call is not retried without force";
}

TEST_F(LogindTest, shouldEndTheCallersOwnSession)
{
    // The template's own GetUser cannot build a path from a number.
    addMethod("GetUser", "u", "o", "ret = '/org/freedesktop/login1/user/%d' % args[0]");
    EXPECT_FALSE(ShutdownSystem(3, true)) << "no session to end";
    mockCall("AddSession", {"c2", "seat0", QVariant::fromValue(quint32(getuid())), "tester", true});
    logStart = testenv::readFile(log).size();
    EXPECT_TRUE(ShutdownSystem(3, true));
    setenv("XDG_SESSION_ID", "c7", 1);
    EXPECT_TRUE(ShutdownSystem(3, true));
    std::string log = calls();
    EXPECT_EQ(log.substr(log.find("TerminateSession")), "TerminateSession \"c2\"\nTerminateSession \"c7\"\n");
}

TEST_F(LogindTest, shouldGiveUpQuicklyOnAHungLogind)
{
    addMethod("CanPowerOff", "", "s", "import time; time.sleep(2); ret = 'yes'");
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(ShutdownSystem(1, true));
    EXPECT_LT(t.elapsed(), 1900);
}

// A system bus that is not there, and one that accepts and never answers (a
// stuck daemon): every query says no, the hung one within its timeout.
TEST(LogindWithoutBus, shouldRefuseEverythingSilentlyAndSoonWhenTheBusIsAbsentOrHung)
{
    static int argc = 1;
    static char name[] = "logind_test";
    static char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    const std::string hung = testenv::freshDir("hung") + "/bus";
    int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    std::snprintf(sa.sun_path, sizeof sa.sun_path, "%s", hung.c_str());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    ASSERT_EQ(::listen(listener, 8), 0);
    std::vector<int> accepted;
    std::thread acceptor([&] {
        for (int fd; (fd = ::accept(listener, nullptr, nullptr)) >= 0;)
            accepted.push_back(fd);
    });

    for (const std::string& path : {testenv::root() + "/none", hung}) {
        LogindClient client(QString::fromStdString("unix:path=" + path));  // the program's own timeout
        for (PowerAction a : {PowerAction::powerOff, PowerAction::logOff}) {
            QElapsedTimer t;
            t.start();
            EXPECT_FALSE(client.permitted(a)) << path;
            EXPECT_FALSE(client.act(a, true)) << path;
            EXPECT_LT(t.elapsed(), 15000) << path;
        }
    }
    ::shutdown(listener, SHUT_RDWR);
    acceptor.join();
    ::close(listener);
    for (int fd : accepted)
        ::close(fd);
}

} // namespace
