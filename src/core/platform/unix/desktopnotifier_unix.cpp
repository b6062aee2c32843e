// SPDX-License-Identifier: Apache-2.0
// Desktop notifications on Linux, over the session bus's notification service.
#include "core/platform/desktopnotifier.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QStringList>
#include <QVariantMap>

namespace {

const QString SERVICE = QStringLiteral("org.freedesktop.Notifications");
const QString PATH = QStringLiteral("/org/freedesktop/Notifications");
const QString INTERFACE = QStringLiteral("org.freedesktop.Notifications");

// Whether the session names a bus. Without one, the D-Bus library would launch a bus of its own
// and wait for it; a program without a session bus simply has no notifications.
bool sessionBusKnown()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtimeFolder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtimeFolder.isEmpty() && QFileInfo::exists(runtimeFolder + QStringLiteral("/bus"));
}

} // namespace

// org.freedesktop.Notifications.Notify on the session bus; the reply carries the notification's id,
// which the next notification names to replace it.
void DesktopNotifier::notify(const QString &summary, const QString &body)
{
    if (!sessionBusKnown()) {
        reportUnavailable(QCoreApplication::translate("DesktopNotifier", "没有会话总线"));
        return;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        reportUnavailable(bus.lastError().message());
        return;
    }

    QDBusMessage call = QDBusMessage::createMethodCall(SERVICE, PATH, INTERFACE, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("Marrowgate"));
    call << QStringLiteral("Marrowgate") << m_lastId << QStringLiteral("marrowgate") << summary << body
         << QStringList() << hints << -1;

    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *finished) {
        finished->deleteLater();
        const QDBusPendingReply<uint> reply = *finished;
        if (reply.isError()) {
            reportUnavailable(reply.error().message());
            return;
        }
        m_lastId = reply.value();
        m_reportedUnavailable = false;
    });
}
