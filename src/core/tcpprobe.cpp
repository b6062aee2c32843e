// SPDX-License-Identifier: Apache-2.0
// A bare TCP connection, closed at once: whether an address accepts connections, and how long the
// handshake takes.
#include "core/tcpprobe.h"

#include "core/tunneladdress.h"

#include <QCoreApplication>
#include <QNetworkProxy>
#include <QTcpSocket>

#include <cmath>

namespace {

QString reasonFor(QAbstractSocket::SocketError error, const QString &errorString)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return QCoreApplication::translate("TcpProbe", "连接被拒绝");
    case QAbstractSocket::RemoteHostClosedError:
        return QCoreApplication::translate("TcpProbe", "连接被重置");
    case QAbstractSocket::HostNotFoundError:
        return QCoreApplication::translate("TcpProbe", "无法解析地址");
    case QAbstractSocket::NetworkError:
        return QCoreApplication::translate("TcpProbe", "网络不可达");
    default:
        return errorString;
    }
}

} // namespace

TcpProbe::TcpProbe(const QString &host, int port, QObject *parent)
    : QObject(parent)
    , m_socket(new QTcpSocket(this))
{
    // A visitor comes straight from the internet: a proxy configured on this computer is not theirs.
    m_socket->setProxy(QNetworkProxy::NoProxy);
    m_timeout.setSingleShot(true);
    connect(&m_timeout, &QTimer::timeout, this, [this] {
        finish(false, QCoreApplication::translate("TcpProbe", "%1 秒内无应答").arg(TIMEOUT_MS / 1000));
    });
    // The round trip starts with the first packet: a slow name lookup is not the server's delay.
    connect(m_socket, &QAbstractSocket::stateChanged, this, [this](QAbstractSocket::SocketState state) {
        if (state == QAbstractSocket::ConnectingState)
            m_connecting.start();
    });
    connect(m_socket, &QAbstractSocket::connected, this, [this] { finish(true, QString()); });
    connect(m_socket, &QAbstractSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        finish(false, reasonFor(error, m_socket->errorString()));
    });
    m_timeout.start(TIMEOUT_MS);
    m_connecting.start();
    // Reported from the event loop, even for an attempt that fails at once, so that whoever made the
    // probe has connected to it first.
    QMetaObject::invokeMethod(
        this, [this, host, port] { m_socket->connectToHost(TunnelAddress::bareHost(host), quint16(port)); },
        Qt::QueuedConnection);
}

TcpProbe::~TcpProbe()
{
    m_socket->abort();
}

void TcpProbe::finish(bool accepted, const QString &reason)
{
    if (m_finished)
        return;
    m_finished = true;
    m_timeout.stop();
    int roundTripMs = 0;
    if (accepted)
        roundTripMs = qMax(1, int(std::lround(double(m_connecting.nsecsElapsed()) / 1e6)));
    // Closed at once, with nothing sent.
    m_socket->disconnect(this);
    m_socket->abort();
    emit finished(accepted, roundTripMs, reason);
}
