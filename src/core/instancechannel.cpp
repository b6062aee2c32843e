// SPDX-License-Identifier: Apache-2.0
// The channel between a second start and the running copy: one line of text, at most a few KiB.
#include "core/instancechannel.h"

#include "core/platform/privatefolders.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QRegularExpression>
#include <QTimer>

namespace {

const int RECEIVE_TIMEOUT_MS = 3000;

} // namespace

InstanceChannel::InstanceChannel(QObject *parent)
    : QObject(parent)
{ }

QString InstanceChannel::channelName()
{
    // In the user's own runtime folder where there is one; elsewhere a name that carries the user's.
    const QString folder = PrivateFolders::runtimeFolder();
    if (!folder.isEmpty())
        return folder + QStringLiteral("/Quorvane_Channel");
    QString user = qEnvironmentVariable("USERNAME", qEnvironmentVariable("USER"));
    user.remove(QRegularExpression(QStringLiteral("[^A-Za-z0-9_.-]")));
    return QStringLiteral("Quorvane_Channel_") + user;
}

bool InstanceChannel::listen()
{
    if (!m_server) {
        m_server = new QLocalServer(this);
        m_server->setSocketOptions(QLocalServer::UserAccessOption);
        connect(m_server, &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket *socket = m_server->nextPendingConnection()) {
                socket->setParent(this);
                QTimer::singleShot(RECEIVE_TIMEOUT_MS, socket, &QLocalSocket::abort);
                connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
                connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
                    if (!socket->canReadLine() && socket->bytesAvailable() < MAX_MESSAGE_BYTES)
                        return;
                    const QByteArray line = socket->readLine(MAX_MESSAGE_BYTES).trimmed();
                    socket->write("ok\n");
                    socket->flush();
                    socket->disconnectFromServer();
                    // Told once the socket's handler has returned: a receiver may run a dialog.
                    const QString text = QString::fromUtf8(line);
                    QTimer::singleShot(0, this, [this, text] { emit received(text); });
                });
            }
        });
    }
    if (m_server->isListening())
        return true;
    // The holder of the single-instance guard is the only copy: a channel still there is left over.
    QLocalServer::removeServer(channelName());
    return m_server->listen(channelName());
}

bool InstanceChannel::send(const QString &text, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(channelName());
    if (!socket.waitForConnected(timeoutMs))
        return false;
    QByteArray message = text.toUtf8().left(MAX_MESSAGE_BYTES - 1);
    message.replace('\n', ' ');
    socket.write(message + '\n');
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(timeoutMs))
            return false;
    }
    return socket.readLine(16).trimmed() == "ok";
}
