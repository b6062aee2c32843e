// Whether a program listens on the tunnel's local port: a TCP connection, and the parsing of the
// kernel's UDP socket tables.
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

bool procNetUdpHasListener(const QByteArray &text, int port, bool ipv6)
{
    const QList<QByteArray> lines = text.split('\n');
    for (const QByteArray &line : lines) {
        // "  0: 0100007F:0035 00000000:0000 07 ...": slot, local address:port, remote address:port.
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 3 || !fields.at(0).endsWith(':'))
            continue;
        const QList<QByteArray> local = fields.at(1).split(':');
        const QList<QByteArray> remote = fields.at(2).split(':');
        if (local.size() != 2 || remote.size() != 2)
            continue;
        bool ok = false;
        if (int(local.at(1).toUInt(&ok, 16)) != port || !ok)
            continue;
        // A connected socket takes datagrams from its peer only.
        if (remote.at(1).toUInt(&ok, 16) != 0 || !ok)
            continue;
        const std::optional<QHostAddress> address = procAddress(local.at(0), ipv6);
        if (address && reachesLoopback(*address))
            return true;
    }
    return false;
}

} // namespace LocalPorts

LocalListenerWatch::LocalListenerWatch(QObject *parent)
    : QObject(parent)
{
    m_recheck.setInterval(RECHECK_INTERVAL_MS);
    connect(&m_recheck, &QTimer::timeout, this, &LocalListenerWatch::probe);
}

LocalListenerWatch::~LocalListenerWatch()
{
    dropPendingProbe();
}

void LocalListenerWatch::watch(int port, bool udp)
{
    m_recheck.stop();
    dropPendingProbe();
    m_port = port;
    m_udp = udp;
    probe();
}

void LocalListenerWatch::stop()
{
    m_recheck.stop();
    dropPendingProbe();
    m_port = 0;
    setHint(false);
}

void LocalListenerWatch::setRecheckInterval(int milliseconds)
{
    m_recheck.setInterval(milliseconds);
}

void LocalListenerWatch::probe()
{
    // A connection attempt still open from the last round gets no more time.
    dropPendingProbe();
    ++m_probeCount;
    if (m_udp) {
        const std::optional<bool> bound = LocalPorts::udpPortBound(m_port);
        if (bound) {
            takeResult(*bound);
        } else {
            // The system does not tell: no hint either way, and nothing to check again.
            m_recheck.stop();
            setHint(false);
        }
        return;
    }
    // The next round also replaces an attempt that never got an answer.
    if (!m_recheck.isActive())
        m_recheck.start();
    m_pending = new QTcpSocket(this);
    QTcpSocket *socket = m_pending;
    connect(socket, &QTcpSocket::connected, this, [this] { takeResult(true); });
    connect(socket, &QTcpSocket::errorOccurred, this, [this] { takeResult(false); });
    socket->connectToHost(QHostAddress(QHostAddress::LocalHost), quint16(m_port));
}

void LocalListenerWatch::dropPendingProbe()
{
    if (!m_pending)
        return;
    QTcpSocket *socket = m_pending;
    m_pending = nullptr;
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

void LocalListenerWatch::takeResult(bool listening)
{
    dropPendingProbe();
    if (listening)
        m_recheck.stop();
    else if (!m_recheck.isActive())
        m_recheck.start();
    setHint(!listening);
}

void LocalListenerWatch::setHint(bool nobodyListens)
{
    if (m_nobodyListens == nobodyListens)
        return;
    m_nobodyListens = nobodyListens;
    emit hintChanged(nobodyListens);
}
