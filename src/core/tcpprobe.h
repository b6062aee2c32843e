// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

class QTcpSocket;

// One bare TCP connection to host:port, made the way a visitor's would be and closed as soon as it is
// accepted: nothing is sent, so a server sees no login attempt. Host names are looked up without
// blocking; an IPv6 literal may be given with or without brackets. The probe starts when it is made and
// reports once.
class TcpProbe : public QObject
{
    Q_OBJECT

public:
    // An attempt that has neither been accepted nor refused by then counts as unanswered.
    static constexpr int TIMEOUT_MS = 3000;

    TcpProbe(const QString &host, int port, QObject *parent = nullptr);
    ~TcpProbe() override;

signals:
    // accepted: the connection was accepted within the time-out. roundTripMs: from the first packet
    // to the acceptance (the name lookup not counted), at least 1; 0 when not accepted. reason: why it
    // was not accepted, for the log ("连接被拒绝", "3 秒内无应答", ...); empty when accepted.
    void finished(bool accepted, int roundTripMs, const QString &reason);

private:
    void finish(bool accepted, const QString &reason);

    QTcpSocket *m_socket = nullptr;
    QTimer m_timeout;
    QElapsedTimer m_connecting;
    bool m_finished = false;
};
