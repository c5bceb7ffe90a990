#pragma once
// The power actions of the programs as systemd-logind's Manager methods. The
// bus is reached at the first query, never before; connecting and every call
// are bounded by a short timeout, never ask the user for anything, and report
// any failure (no bus, a bus that does not answer, a refusal, an error) as false.
#include <QDBusConnection>
#include <QString>

#include "platform.h"

class LogindClient {
public:
    // address: a D-Bus address; by default the system bus's.
    explicit LogindClient(QString address = systemBusAddress(), int timeoutMs = 3000);
    ~LogindClient();
    LogindClient(const LogindClient&) = delete;
    LogindClient& operator=(const LogindClient&) = delete;

    // logind's Can… answer is "yes"; "challenge" would need a password, so it
    // counts as no. Ending one's own session needs no privilege.
    bool permitted(PowerAction action);
    // Forced: logind is asked to skip inhibitors where it knows how.
    bool act(PowerAction action, bool force);

    static QString systemBusAddress();

private:
    bool connected();
    void disconnect();
    QDBusMessage call(const QString& method, const QList<QVariant>& args);
    QString ownSession();

    QString address_;
    QString name_;
    QDBusConnection bus_;
    int timeoutMs_;
};
