// SPDX-License-Identifier: Apache-2.0
// Desktop notifications: what every system shares (reporting an unavailable service once).
#include "core/platform/desktopnotifier.h"

#include <QCoreApplication>

DesktopNotifier::DesktopNotifier(QObject *parent)
    : QObject(parent)
{ }

void DesktopNotifier::reportUnavailable(const QString &reason)
{
    if (m_reportedUnavailable)
        return;
    m_reportedUnavailable = true;
    emit unavailable(QCoreApplication::translate("DesktopNotifier", "桌面通知不可用: %1").arg(reason));
}
