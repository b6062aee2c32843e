// SPDX-License-Identifier: Apache-2.0
// The network's reachability and transport from the toolkit's network information, and the wake-ups
// from the sleep watch.
#include "core/connectivitywatch.h"

#include "core/platform/sleepwatch.h"

#include <QCoreApplication>
#include <QNetworkInformation>
#include <QPointer>

ConnectivityWatch &ConnectivityWatch::instance()
{
    // Owned by the application object, so that it ends before the toolkit's network information.
    static QPointer<ConnectivityWatch> watch;
    if (!watch)
        watch = new ConnectivityWatch(QCoreApplication::instance());
    return *watch;
}

ConnectivityWatch::ConnectivityWatch(QObject *parent)
    : QObject(parent)
    , m_sleepWatch(new SleepWatch(this))
{
    connect(m_sleepWatch, &SleepWatch::wokeUp, this, &ConnectivityWatch::noteWakeUp);
    followNetworkInformation();
}

void ConnectivityWatch::followNetworkInformation()
{
    // The system's own backend (NetworkManager on Linux), else whichever tells reachability (GLib's
    // network monitor where NetworkManager is absent). Without one, the network is never offline.
    if (!QNetworkInformation::loadDefaultBackend()
        && !QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability))
        return;
    QNetworkInformation *information = QNetworkInformation::instance();
    if (!information || !information->supports(QNetworkInformation::Feature::Reachability))
        return;
    const auto reachable = [](QNetworkInformation::Reachability reachability) {
        return reachability != QNetworkInformation::Reachability::Disconnected;
    };
    m_offline = information->reachability() == QNetworkInformation::Reachability::Disconnected;
    connect(information, &QNetworkInformation::reachabilityChanged, this,
            [this, reachable](QNetworkInformation::Reachability reachability) {
                noteOnline(reachable(reachability));
            });
    if (information->supports(QNetworkInformation::Feature::TransportMedium))
        connect(information, &QNetworkInformation::transportMediumChanged, this,
                &ConnectivityWatch::noteTransportChange);
}

void ConnectivityWatch::noteOnline(bool online)
{
    if (m_offline == !online)
        return;
    m_offline = !online;
    emit offlineChanged(m_offline);
    if (online)
        emit chanceToConnect();
}

void ConnectivityWatch::noteTransportChange()
{
    if (!m_offline)
        emit chanceToConnect();
}

void ConnectivityWatch::noteWakeUp()
{
    emit chanceToConnect();
}
