// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QObject>
#include <QString>

// Sends the program's desktop notifications. Each one replaces the previous one instead of stacking,
// and nothing waits for the desktop: the call is asynchronous, and where no notification service
// answers, `unavailable` says so once (until a notification gets through again).
// On systems without a freedesktop notification service nothing is sent.
class DesktopNotifier : public QObject
{
    Q_OBJECT

public:
    explicit DesktopNotifier(QObject *parent = nullptr);

    void notify(const QString &summary, const QString &body);

signals:
    void unavailable(const QString &reason);

private:
    void reportUnavailable(const QString &reason);

    uint m_lastId = 0;
    bool m_reportedUnavailable = false;
};
