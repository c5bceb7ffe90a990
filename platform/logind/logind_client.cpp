#include "logind_client.h"

#include <unistd.h>

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>

namespace {

const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kPath = QStringLiteral("/org/freedesktop/login1");
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");
constexpr quint64 kSkipInhibitors = quint64(1) << 4;

QString methodOf(PowerAction action)
{
    switch (action) {
    case PowerAction::powerOff: return QStringLiteral("PowerOff");
    case PowerAction::reboot: return QStringLiteral("Reboot");
    case PowerAction::suspend: return QStringLiteral("Suspend");
    case PowerAction::hibernate: return QStringLiteral("Hibernate");
    case PowerAction::logOff: break;
    }
    return {};
}

bool failed(const QDBusMessage& reply) { return reply.type() != QDBusMessage::ReplyMessage; }

// Reads a "(so)" value: the session's id.
QString sessionIdOf(const QDBusArgument& arg)
{
    QString id;
    QDBusObjectPath path;
    arg.beginStructure();
    arg >> id >> path;
    arg.endStructure();
    return id;
}

} // namespace

LogindClient::LogindClient(QString address, int timeoutMs)
    : address_(std::move(address)),
      name_(QStringLiteral("ruvo-logind-%1").arg(quintptr(this), 0, 16)),
      bus_(name_),
      timeoutMs_(timeoutMs)
{
}

LogindClient::~LogindClient() { disconnect(); }

QString LogindClient::systemBusAddress()
{
    const QString given = qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS");
    return given.isEmpty() ? QStringLiteral("unix:path=/var/run/dbus/system_bus_socket") : given;
}

// Qt's bus connection waits for the bus's greeting without a deadline, and
// holds every other D-Bus connection of the process meanwhile (the
// accessibility bridge's too), so a bus that accepts and never answers would
// freeze the program. Opened as a peer, the connection returns at once, and
// the bus's Hello, which every client must send first, is an ordinary call
// with the same timeout as the others. A failed attempt is dropped, so the
// next query tries afresh with one connection at most.
bool LogindClient::connected()
{
    if (bus_.isConnected())
        return true;
    disconnect();
    bus_ = QDBusConnection::connectToPeer(address_, name_);
    if (bus_.isConnected()) {
        QDBusMessage hello = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                            QStringLiteral("/org/freedesktop/DBus"),
                                                            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("Hello"));
        if (!failed(bus_.call(hello, QDBus::Block, timeoutMs_)))
            return true;
    }
    disconnect();
    return false;
}

void LogindClient::disconnect()
{
    // Closed once the name is gone and the last reference dropped.
    QDBusConnection::disconnectFromPeer(name_);
    bus_ = QDBusConnection(name_);
}

QDBusMessage LogindClient::call(const QString& method, const QList<QVariant>& args)
{
    QDBusMessage m = QDBusMessage::createMethodCall(kService, kPath, kManager, method);
    m.setArguments(args);
    m.setInteractiveAuthorizationAllowed(false);
    // Blocks without running the event loop, so no handler runs meanwhile.
    return bus_.call(m, QDBus::Block, timeoutMs_);
}

bool LogindClient::permitted(PowerAction action)
{
    if (!connected())
        return false;
    if (action == PowerAction::logOff)
        return true;
    QDBusMessage reply = call(QStringLiteral("Can") + methodOf(action), {});
    return !failed(reply) && reply.arguments().value(0).toString() == QLatin1String("yes");
}

bool LogindClient::act(PowerAction action, bool force)
{
    if (!connected())
        return false;
    if (action == PowerAction::logOff) {
        QString session = ownSession();
        return !session.isEmpty() && !failed(call(QStringLiteral("TerminateSession"), {session}));
    }
    const QString method = methodOf(action);
    if (force) {
        QDBusMessage reply = call(method + QStringLiteral("WithFlags"), {QVariant::fromValue(kSkipInhibitors)});
        if (!failed(reply))
            return true;
        // A logind without the …WithFlags methods, or one that does not know
        // the flag yet, still takes the plain method; any other error stands.
        if (reply.errorName() != QLatin1String("org.freedesktop.DBus.Error.UnknownMethod") &&
            reply.errorName() != QLatin1String("org.freedesktop.DBus.Error.InvalidArgs"))
            return false;
    }
    return !failed(call(method, {false}));
}

// The session this process runs in; outside one (started by hand from
// elsewhere), the user's display session as logind reports it, else the
// user's first session.
QString LogindClient::ownSession()
{
    QString id = qEnvironmentVariable("XDG_SESSION_ID");
    if (!id.isEmpty())
        return id;
    QDBusMessage user = call(QStringLiteral("GetUser"), {QVariant::fromValue(quint32(::getuid()))});
    if (failed(user))
        return {};
    const QString userPath = user.arguments().value(0).value<QDBusObjectPath>().path();
    auto property = [&](const QString& name) {
        QDBusMessage m = QDBusMessage::createMethodCall(kService, userPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                        QStringLiteral("Get"));
        m.setArguments({QStringLiteral("org.freedesktop.login1.User"), name});
        QDBusMessage reply = bus_.call(m, QDBus::Block, timeoutMs_);
        return failed(reply) ? QVariant() : reply.arguments().value(0).value<QDBusVariant>().variant();
    };
    QVariant display = property(QStringLiteral("Display"));
    if (display.canConvert<QDBusArgument>())
        id = sessionIdOf(display.value<QDBusArgument>());
    if (!id.isEmpty())
        return id;
    QVariant sessions = property(QStringLiteral("Sessions"));
    if (!sessions.canConvert<QDBusArgument>())
        return {};
    const QDBusArgument list = sessions.value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        QString next = sessionIdOf(list);
        if (id.isEmpty())
            id = next;
    }
    list.endArray();  // frees what beginArray took
    return id;
}
