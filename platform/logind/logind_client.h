#pragma once
// The power actions of the programs as systemd-logind's Manager methods. Every
// call is bounded by a short timeout, never asks the user for anything, and
// reports any failure (no bus, a refusal, an error) as false.
#include <QDBusConnection>

#include "platform.h"

class LogindClient {
public:
    explicit LogindClient(QDBusConnection bus, int timeoutMs = 3000);

    // logind's Can… answer is "yes"; "challenge" would need a password, so it
    // counts as no. Ending one's own session needs no privilege.
    bool permitted(PowerAction action);
    // Forced: logind is asked to skip inhibitors where it knows how.
    bool act(PowerAction action, bool force);

private:
    QDBusMessage call(const QString& method, const QList<QVariant>& args);
    QString ownSession();

    QDBusConnection bus_;
    int timeoutMs_;
};
