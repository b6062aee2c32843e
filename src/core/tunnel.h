// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

#include <optional>

// One tunnel: a local port and what it carries from its public port to the local one. TcpUdp carries
// both, through two proxies, the UDP one asking for the public port number the TCP one received.
struct Tunnel
{
    Q_GADGET

public:
    enum Protocol { Tcp, Udp, TcpUdp };
    Q_ENUM(Protocol)

    // The most tunnels one connection carries, the first row of the window included.
    static constexpr int MAX_TUNNELS = 10;

    int localPort = 0;
    Protocol protocol = Tcp;
    // Only holders of the tunnel's share code reach it: the server opens no public port for it.
    bool isPrivate = false;

    bool operator==(const Tunnel &other) const
    {
        return localPort == other.localPort && protocol == other.protocol && isPrivate == other.isPrivate;
    }
    bool operator!=(const Tunnel &other) const { return !(*this == other); }

    // "tcp", "udp" or "tcp+udp": the protocol's name in settings and on the command line (and for the
    // first two the proxy type of the client file).
    static QString protocolName(Protocol protocol);
    // The protocol named "tcp", "udp" or "tcp+udp" (case-insensitive); anything else means TCP.
    static Protocol protocolFromName(const QString &name);
    // Whether name is one of the three names (case-insensitive).
    static bool isProtocolName(const QString &name);

    // How the settings keep a tunnel: "port/protocol" ("25565/tcp+udp"), with "/private" after it for a
    // private one.
    QString storedText() const;
    // The tunnel a stored text describes; none for a port out of range or an unknown protocol.
    static std::optional<Tunnel> fromStoredText(const QString &text);
};

// What is known of one tunnel while its connection runs.
struct TunnelState
{
    Tunnel tunnel;
    // The remote port of its TCP proxy (or of its only proxy); empty while not known.
    QString port;
    // TcpUdp only: the remote port of the UDP proxy; the same as port when the server gave the same.
    QString udpPort;
    // Why the server refused its proxy (or one of its two); empty when it did not.
    QString error;
    // No program listens on its local port while it is up.
    bool nobodyListens = false;
    // A private tunnel: its proxies run, and holders of its share code can reach it (it has no port).
    bool privateReady = false;

    bool operator==(const TunnelState &other) const
    {
        return tunnel == other.tunnel && port == other.port && udpPort == other.udpPort
            && error == other.error && nobodyListens == other.nobodyListens
            && privateReady == other.privateReady;
    }
    bool operator!=(const TunnelState &other) const { return !(*this == other); }
    // Whether its public address can be checked from here: a datagram proves nothing without an answer,
    // so a UDP tunnel cannot; the TCP half of TCP+UDP can.
    bool checkable() const { return !port.isEmpty() && tunnel.protocol != Tunnel::Udp && !tunnel.isPrivate; }
    // Whether it is up: a public tunnel once its port is known, a private one once its proxies run.
    bool isUp() const { return tunnel.isPrivate ? privateReady : !port.isEmpty(); }
};
