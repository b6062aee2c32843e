// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QList>
#include <QObject>
#include <QTimer>

class QTcpSocket;

// Watches the local ports of the running tunnels: reports each where no program listens, checks again
// periodically while that holds for any, and stops checking a port once a program listens there (it
// is not probed again during the same watch). One look at the system's socket tables serves every
// port, TCP and UDP; where the system does not tell, TCP is tried with a connection to 127.0.0.1,
// closed at once, and nothing is reported for UDP.
class LocalListenerWatch : public QObject
{
    Q_OBJECT

public:
    struct Target
    {
        int port = 0;
        bool udp = false;
        bool operator==(const Target &other) const { return port == other.port && udp == other.udp; }
    };
    static constexpr int RECHECK_INTERVAL_MS = 5000;
    // Ports newly watched are looked at this long after: reading the system's tables takes a few
    // milliseconds, which the address shown when a tunnel comes up should not wait for.
    static constexpr int FIRST_LOOK_DELAY_MS = 100;

    explicit LocalListenerWatch(QObject *parent = nullptr);
    ~LocalListenerWatch() override;

    // Watches these ports: those watched already keep what is known of them, the others are probed
    // shortly (FIRST_LOOK_DELAY_MS), and the hints of the ports left out are cleared.
    void watch(const QList<Target> &targets);
    // Ends any earlier watch and watches port alone.
    void watch(int port, bool udp);
    // Ends checking and clears the hints.
    void stop();
    // Looks at once when a first look is still due, so that what is known is up to date.
    void lookNowIfDue();

    // Whether the hint "nobody listens" is up for target, or for any port.
    bool nobodyListens(const Target &target) const;
    bool nobodyListens() const;

    // Only tests call these: the rounds of probes made since construction, and a shorter wait between
    // them.
    int probeCount() const { return m_probeCount; }
    void setRecheckInterval(int milliseconds);

signals:
    // The hint of a port came or went; nobodyListens: whether any port has it now.
    void hintChanged(bool nobodyListens);

private:
    struct Watched
    {
        Target target;
        bool nobodyListens = false;
        // A program listens: not probed again.
        bool settled = false;
        QTcpSocket *pending = nullptr;
    };

    void probe();
    void connectTo(const Target &target);
    Watched *find(const Target &target);
    void dropPendingProbe(Watched &watched);
    void takeResult(const Target &target, bool listening);

    QTimer m_firstLook;
    QTimer m_recheck;
    QList<Watched> m_watched;
    int m_probeCount = 0;
};
