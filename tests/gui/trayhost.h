// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QEventLoop>
#include <QMutex>
#include <QMutexLocker>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QSemaphore>
#include <QThread>

#include <memory>

#include <signal.h>
#include <sys/prctl.h>

// Plays the desktop's tray host on a private session bus: the watcher that tray icons register with
// (org.kde.StatusNotifierWatcher), saying that a host shows them. The toolkit asks the watcher
// synchronously from the GUI thread, so the watcher answers from a thread and a connection of its own.
// Start the bus before the application object exists (the toolkit reads its address once), and serve
// once it exists (an event loop needs it).

class StatusNotifierWatcher : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ registeredItems)

public:
    bool isHostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList registeredItems() const
    {
        QMutexLocker lock(&m_mutex);
        return m_items;
    }

public slots:
    // An item names its service, or only its object path on the caller's connection.
    void RegisterStatusNotifierItem(const QString &serviceOrPath, const QDBusMessage &message)
    {
        const QString item
            = serviceOrPath.startsWith(u'/') ? message.service() + serviceOrPath : serviceOrPath;
        {
            QMutexLocker lock(&m_mutex);
            m_items << item;
        }
        emit StatusNotifierItemRegistered(item);
    }
    void RegisterStatusNotifierHost(const QString &) { }

signals:
    void StatusNotifierItemRegistered(const QString &item);
    void StatusNotifierItemUnregistered(const QString &item);
    void StatusNotifierHostRegistered();

private:
    mutable QMutex m_mutex;
    QStringList m_items;
};

class TrayHost
{
public:
    ~TrayHost() { stop(); }

    // Starts the private bus and points this process's session bus at it.
    bool startBus()
    {
        // The bus ends with this process, even when it aborts (no display, for one).
        m_bus.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
        m_bus.start(QStringLiteral("dbus-daemon"),
                    { QStringLiteral("--session"), QStringLiteral("--print-address"),
                      QStringLiteral("--nofork") });
        if (!m_bus.waitForStarted(5000))
            return false;
        while (!m_bus.canReadLine()) {
            if (!m_bus.waitForReadyRead(5000))
                return false;
        }
        m_address = QString::fromLocal8Bit(m_bus.readLine()).trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toLocal8Bit());
        return true;
    }

    // Serves the watcher on the private bus.
    bool serve()
    {
        m_thread.reset(QThread::create([this] {
            QDBusConnection bus = QDBusConnection::connectToBus(m_address, QStringLiteral("trayhost"));
            StatusNotifierWatcher watcher;
            const bool served = bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
                                                   QDBusConnection::ExportAllContents)
                && bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
            m_watcher = served ? &watcher : nullptr;
            m_serving.release();
            if (served)
                QEventLoop().exec(); // until the thread is asked to quit
            m_watcher = nullptr;
            bus.unregisterService(QStringLiteral("org.kde.StatusNotifierWatcher"));
            QDBusConnection::disconnectFromBus(QStringLiteral("trayhost"));
        }));
        m_thread->start();
        m_serving.acquire();
        return m_watcher != nullptr;
    }

    // Ends serving and the bus; call before the application object goes.
    void stop()
    {
        if (m_thread) {
            m_thread->quit();
            m_thread->wait();
            m_thread.reset();
        }
        if (m_bus.state() != QProcess::NotRunning) {
            m_bus.kill();
            m_bus.waitForFinished(5000);
        }
    }

    // The items registered so far: their service names as they gave them.
    QStringList registeredItems() const { return m_watcher ? m_watcher->registeredItems() : QStringList(); }

private:
    QProcess m_bus;
    QString m_address;
    std::unique_ptr<QThread> m_thread;
    QSemaphore m_serving;
    StatusNotifierWatcher *m_watcher = nullptr;
};
