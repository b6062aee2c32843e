// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <map>
#include <memory>

class QTimer;
class TcpProbe;

// Checks from this computer whether public addresses accept TCP connections, each under a key of the
// caller's choosing (one per tunnel), independently of the others. A check that fails is repeated
// every retry interval until it passes or its key is forgotten; one that passes is not repeated.
// A check connects as a visitor would and closes at once; it cannot see a firewall between this
// computer and the server (on the server's own network, for instance).
class ReachabilityCheck : public QObject
{
    Q_OBJECT

public:
    static constexpr int RETRY_INTERVAL_MS = 30000;

    explicit ReachabilityCheck(QObject *parent = nullptr);
    ~ReachabilityCheck() override;

    // Checks host:port under key at once, replacing whatever was checked under that key.
    void check(int key, const QString &host, int port);
    // Ends checking under key; a result still on its way is dropped.
    void forget(int key);
    void forgetAll();
    // Tests shorten the wait between repeats of a failed check.
    void setRetryInterval(int milliseconds) { m_retryInterval = milliseconds; }

signals:
    // A connection of the check under key is on its way to the address.
    void checkStarted(int key);
    // The check under key has a result: the address accepted the connection, or why it did not.
    void checked(int key, bool reachable, const QString &reason);

private:
    struct Target
    {
        QString host;
        int port = 0;
        QPointer<TcpProbe> probe;
        QTimer *retry = nullptr;
    };

    void probe(int key);
    void drop(Target &target);

    std::map<int, Target> m_targets;
    int m_retryInterval = RETRY_INTERVAL_MS;
};
