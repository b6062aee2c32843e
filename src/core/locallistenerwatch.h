#pragma once

#include <QObject>
#include <QTimer>

class QTcpSocket;

// Watches the local port of a running tunnel: reports when no program listens there, checks again
// periodically while that holds, and stops checking once a program listens (it is not probed again
// during the same watch). TCP: a connection to 127.0.0.1, closed at once. UDP: a bound socket, where the
// system tells; otherwise nothing is reported.
class LocalListenerWatch : public QObject
{
    Q_OBJECT

public:
    static constexpr int RECHECK_INTERVAL_MS = 5000;

    explicit LocalListenerWatch(QObject *parent = nullptr);
    ~LocalListenerWatch() override;

    // Starts watching port, ending any earlier watch (whose hint stays until the new result).
    void watch(int port, bool udp);
    // Ends checking and clears the hint.
    void stop();

    // Whether the hint "nobody listens" is up.
    bool nobodyListens() const { return m_nobodyListens; }
    // Probes made since construction; lets a test see that checking stopped.
    int probeCount() const { return m_probeCount; }
    // Tests shorten the wait between checks.
    void setRecheckInterval(int milliseconds);

signals:
    void hintChanged(bool nobodyListens);

private:
    void probe();
    void dropPendingProbe();
    void takeResult(bool listening);
    void setHint(bool nobodyListens);

    QTimer m_recheck;
    QTcpSocket *m_pending = nullptr;
    int m_port = 0;
    bool m_udp = false;
    bool m_nobodyListens = false;
    int m_probeCount = 0;
};
