// SPDX-License-Identifier: Apache-2.0
// Whether programs listen on the tunnels' local ports: the system's socket tables, read once for every
// port, or a TCP connection where the system does not tell.
#include "core/locallistenerwatch.h"
#include "core/platform/localports.h"

#include <QHostAddress>
#include <QList>
#include <QTcpSocket>
#include <QtEndian>

namespace {

// One address column of /proc/net/udp*: hex 32-bit words, each printed as the machine holds it.
std::optional<QHostAddress> procAddress(const QByteArray &hex, bool ipv6)
{
    const int words = ipv6 ? 4 : 1;
    if (hex.size() != 8 * words)
        return std::nullopt;
    quint8 bytes[16] = {};
    for (int w = 0; w < words; ++w) {
        bool ok = false;
        const quint32 held = hex.mid(8 * w, 8).toUInt(&ok, 16);
        if (!ok)
            return std::nullopt;
        // The word's bytes in memory are the address's bytes in network order.
        qToUnaligned(held, bytes + 4 * w);
    }
    if (!ipv6)
        return QHostAddress(qFromBigEndian<quint32>(bytes));
    return QHostAddress(bytes);
}

bool reachesLoopback(const QHostAddress &address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    if (isV4)
        return v4 == 0 || v4 == 0x7F000001u;
    return address == QHostAddress(QHostAddress::AnyIPv6);
}

} // namespace

namespace LocalPorts {

QSet<int> procNetListeners(const QByteArray &text, bool ipv6, bool udp)
{
    QSet<int> ports;
    const QList<QByteArray> lines = text.split('\n');
    for (const QByteArray &line : lines) {
        // "  0: 0100007F:0035 00000000:0000 07 ...": slot, local address:port, remote address:port, state.
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 4 || !fields.at(0).endsWith(':'))
            continue;
        const QList<QByteArray> local = fields.at(1).split(':');
        const QList<QByteArray> remote = fields.at(2).split(':');
        if (local.size() != 2 || remote.size() != 2)
            continue;
        bool ok = false;
        const int port = int(local.at(1).toUInt(&ok, 16));
        if (!ok)
            continue;
        // A connected UDP socket takes datagrams from its peer only; a TCP socket takes connections
        // while it listens (state 0A).
        if (udp ? remote.at(1).toUInt(&ok, 16) != 0 || !ok : fields.at(3) != "0A")
            continue;
        const std::optional<QHostAddress> address = procAddress(local.at(0), ipv6);
        if (address && reachesLoopback(*address))
            ports.insert(port);
    }
    return ports;
}

} // namespace LocalPorts

LocalListenerWatch::LocalListenerWatch(QObject *parent)
    : QObject(parent)
{
    m_recheck.setInterval(RECHECK_INTERVAL_MS);
    connect(&m_recheck, &QTimer::timeout, this, &LocalListenerWatch::probe);
    m_firstLook.setSingleShot(true);
    m_firstLook.setInterval(FIRST_LOOK_DELAY_MS);
    connect(&m_firstLook, &QTimer::timeout, this, &LocalListenerWatch::probe);
}

LocalListenerWatch::~LocalListenerWatch()
{
    for (Watched &watched : m_watched)
        dropPendingProbe(watched);
}

void LocalListenerWatch::watch(const QList<Target> &targets)
{
    bool hintsGone = false;
    for (qsizetype i = m_watched.size() - 1; i >= 0; --i) {
        if (targets.contains(m_watched.at(i).target))
            continue;
        hintsGone = hintsGone || m_watched.at(i).nobodyListens;
        dropPendingProbe(m_watched[i]);
        m_watched.removeAt(i);
    }
    bool added = false;
    for (const Target &target : targets) {
        const bool known
            = std::any_of(m_watched.cbegin(), m_watched.cend(),
                          [&target](const Watched &watched) { return watched.target == target; });
        if (!known) {
            m_watched.append({ target });
            added = true;
        }
    }
    if (hintsGone)
        emit hintChanged(nobodyListens());
    if (added) {
        m_firstLook.start();
    } else if (m_watched.isEmpty()) {
        m_firstLook.stop();
        m_recheck.stop();
    }
}

void LocalListenerWatch::lookNowIfDue()
{
    if (!m_firstLook.isActive())
        return;
    m_firstLook.stop();
    probe();
}

void LocalListenerWatch::watch(int port, bool udp)
{
    stop();
    watch(QList<Target> { { port, udp } });
}

void LocalListenerWatch::stop()
{
    watch(QList<Target>());
}

bool LocalListenerWatch::nobodyListens(const Target &target) const
{
    return std::any_of(m_watched.cbegin(), m_watched.cend(), [&target](const Watched &watched) {
        return watched.target == target && watched.nobodyListens;
    });
}

bool LocalListenerWatch::nobodyListens() const
{
    return std::any_of(m_watched.cbegin(), m_watched.cend(),
                       [](const Watched &watched) { return watched.nobodyListens; });
}

void LocalListenerWatch::setRecheckInterval(int milliseconds)
{
    m_recheck.setInterval(milliseconds);
}

void LocalListenerWatch::probe()
{
    ++m_probeCount;
    // One look at each of the system's tables serves every port; read only when a port needs it.
    std::optional<std::optional<QSet<int>>> tables[2];
    const QList<Watched> round = m_watched;
    for (const Watched &watched : round) {
        if (watched.settled)
            continue;
        std::optional<std::optional<QSet<int>>> &table = tables[int(watched.target.udp)];
        if (!table)
            table = LocalPorts::listeningPorts(watched.target.udp);
        if (*table)
            takeResult(watched.target, (*table)->contains(watched.target.port));
        else if (watched.target.udp)
            // The system does not tell: no hint either way, and nothing to check again.
            takeResult(watched.target, true);
        else
            connectTo(watched.target);
    }
    // Each round also replaces a connection attempt that never got an answer.
    const bool open = std::any_of(m_watched.cbegin(), m_watched.cend(),
                                  [](const Watched &watched) { return !watched.settled; });
    if (!open)
        m_recheck.stop();
    else if (!m_recheck.isActive())
        m_recheck.start();
}

void LocalListenerWatch::connectTo(const Target &target)
{
    Watched *watched = find(target);
    if (!watched)
        return;
    dropPendingProbe(*watched);
    auto *socket = new QTcpSocket(this);
    watched->pending = socket;
    connect(socket, &QTcpSocket::connected, this, [this, target] { takeResult(target, true); });
    connect(socket, &QTcpSocket::errorOccurred, this, [this, target] { takeResult(target, false); });
    socket->connectToHost(QHostAddress(QHostAddress::LocalHost), quint16(target.port));
}

LocalListenerWatch::Watched *LocalListenerWatch::find(const Target &target)
{
    for (Watched &watched : m_watched) {
        if (watched.target == target)
            return &watched;
    }
    return nullptr;
}

void LocalListenerWatch::dropPendingProbe(Watched &watched)
{
    if (!watched.pending)
        return;
    QTcpSocket *socket = watched.pending;
    watched.pending = nullptr;
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

void LocalListenerWatch::takeResult(const Target &target, bool listening)
{
    Watched *watched = find(target);
    if (!watched)
        return;
    dropPendingProbe(*watched);
    watched->settled = listening;
    if (watched->nobodyListens == !listening)
        return;
    watched->nobodyListens = !listening;
    emit hintChanged(nobodyListens());
}
