// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QObject>

class QSocketNotifier;

// Delivers the system's requests to end the program (SIGTERM, SIGINT and SIGHUP on Unix: logout,
// shutdown, kill, Ctrl+C) as a signal in the event loop, where the program can end in order.
// Windows sends no such requests to a windowed program; there the object stays silent.
class TerminationRequests : public QObject
{
    Q_OBJECT

public:
    explicit TerminationRequests(QObject *parent = nullptr);
    ~TerminationRequests() override;

signals:
    void requested();

private:
    QSocketNotifier *m_notifier = nullptr;
};
