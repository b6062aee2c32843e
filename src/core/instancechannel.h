// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

// How a second start of the program hands a link to the copy that runs: the running copy listens on
// a local channel of this user, the second start sends the link and ends.
class InstanceChannel : public QObject
{
    Q_OBJECT

public:
    explicit InstanceChannel(QObject *parent = nullptr);

    // Listens for links; a channel left by a copy that no longer runs is taken over. Call only while
    // holding the single-instance guard.
    bool listen();

    // Hands text to the running copy; true once it has taken it.
    static bool send(const QString &text, int timeoutMs = 3000);

    // The most bytes a message may have: a link is much shorter.
    static constexpr int MAX_MESSAGE_BYTES = 4096;

signals:
    void received(const QString &text);

private:
    static QString channelName();

    QLocalServer *m_server = nullptr;
};
