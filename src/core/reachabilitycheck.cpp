// SPDX-License-Identifier: Apache-2.0
// Whether a tunnel's public address can be reached: one connection per check, a failed check repeated.
#include "core/reachabilitycheck.h"

#include "core/tcpprobe.h"

#include <QTimer>

ReachabilityCheck::ReachabilityCheck(QObject *parent)
    : QObject(parent)
{ }

ReachabilityCheck::~ReachabilityCheck()
{
    forgetAll();
}

void ReachabilityCheck::check(int key, const QString &host, int port)
{
    Target &target = m_targets[key];
    drop(target);
    target.host = host;
    target.port = port;
    probe(key);
}

void ReachabilityCheck::forget(int key)
{
    const auto found = m_targets.find(key);
    if (found == m_targets.end())
        return;
    drop(found->second);
    m_targets.erase(found);
}

void ReachabilityCheck::forgetAll()
{
    for (auto &entry : m_targets)
        drop(entry.second);
    m_targets.clear();
}

void ReachabilityCheck::probe(int key)
{
    Target &target = m_targets.at(key);
    target.probe = new TcpProbe(target.host, target.port, this);
    connect(target.probe, &TcpProbe::finished, this,
            [this, key, finishedProbe = target.probe.data()](bool accepted, int, const QString &reason) {
                finishedProbe->deleteLater();
                const auto found = m_targets.find(key);
                if (found == m_targets.end() || found->second.probe != finishedProbe)
                    return;
                Target &done = found->second;
                done.probe = nullptr;
                if (!accepted) {
                    if (!done.retry) {
                        done.retry = new QTimer(this);
                        done.retry->setSingleShot(true);
                        connect(done.retry, &QTimer::timeout, this, [this, key] { probe(key); });
                    }
                    done.retry->start(m_retryInterval);
                }
                // Last: a receiver may forget the key or check it anew.
                emit checked(key, accepted, reason);
            });
    emit checkStarted(key);
}

void ReachabilityCheck::drop(Target &target)
{
    // Neither is ever the object whose signal is being handled: a probe is let go before its result
    // is passed on, and a retry only makes a new probe.
    delete target.probe.data();
    target.probe = nullptr;
    if (target.retry) {
        target.retry->stop();
        target.retry->deleteLater();
        target.retry = nullptr;
    }
}
