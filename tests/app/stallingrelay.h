// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include <utility>

#include <sys/socket.h>

// A TCP relay between a client and its server that can go silent the way a broken path does: while
// stalled it swallows every byte in both directions, with no reset and no error, so neither end learns
// anything from the network. resetAndPass() then ends every connection it carries with a reset, as a
// router that forgot them would, and relays new connections again.
class StallingRelay : public QObject
{
public:
    explicit StallingRelay(QObject *parent = nullptr)
        : QObject(parent)
    {
        connect(&m_server, &QTcpServer::newConnection, this, &StallingRelay::acceptConnections);
    }

    bool listen(const QHostAddress &target, quint16 targetPort)
    {
        m_target = target;
        m_targetPort = targetPort;
        return m_server.listen(QHostAddress::LocalHost);
    }

    quint16 port() const { return m_server.serverPort(); }

    void stall() { m_stalled = true; }

    void resetAndPass()
    {
        for (const Pair &pair : std::as_const(m_pairs)) {
            resetSocket(pair.inbound);
            resetSocket(pair.outbound);
        }
        m_pairs.clear();
        m_stalled = false;
    }

private:
    struct Pair
    {
        QPointer<QTcpSocket> inbound;
        QPointer<QTcpSocket> outbound;
    };

    void acceptConnections()
    {
        while (QTcpSocket *inbound = m_server.nextPendingConnection()) {
            auto *outbound = new QTcpSocket(this);
            inbound->setParent(this);
            m_pairs.append(Pair { inbound, outbound });
            relay(inbound, outbound);
            relay(outbound, inbound);
            // Bytes written before the outbound connection is up wait in its buffer.
            outbound->connectToHost(m_target, m_targetPort);
        }
    }

    void relay(QTcpSocket *from, QTcpSocket *to)
    {
        const QPointer<QTcpSocket> target = to;
        connect(from, &QTcpSocket::readyRead, this, [this, from, target] {
            const QByteArray bytes = from->readAll();
            if (!m_stalled && target)
                target->write(bytes);
        });
        connect(from, &QTcpSocket::disconnected, this, [this, target] {
            if (!m_stalled && target)
                target->disconnectFromHost();
        });
    }

    // Closes with a reset rather than an orderly end: a lingering time of zero discards what is unsent.
    static void resetSocket(QTcpSocket *socket)
    {
        if (!socket)
            return;
        if (socket->socketDescriptor() != -1) {
            const linger immediate { 1, 0 };
            ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &immediate, sizeof immediate);
        }
        socket->abort();
        socket->deleteLater();
    }

    QTcpServer m_server;
    QHostAddress m_target;
    quint16 m_targetPort = 0;
    bool m_stalled = false;
    QList<Pair> m_pairs;
};
