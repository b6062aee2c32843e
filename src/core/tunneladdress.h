// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/tunnel.h"

#include <QList>
#include <QString>
#include <QStringList>

// How a tunnel's public address is written for people: an IPv6 literal needs brackets before a port,
// or "2001:db8::1:6000" could not be told from an address without one.
namespace TunnelAddress {

// "[addr]:port" for an IPv6 literal (with or without a zone id, bracketed or not), "host:port" for
// anything else.
QString formatHostPort(const QString &host, int port);
// The same with the port as the text it was reported as.
QString formatHostPort(const QString &host, const QString &port);

// The host as it is pasted on its own: brackets around an IPv6 literal are dropped, surrounding blanks
// too; any other text stays as it is.
QString bareHost(const QString &host);

// How a tunnel's public end is shown (status line, rows, tray, notifications): "host:port",
// "UDP host:port", "TCP+UDP host:port", or both addresses when the UDP half got another port. Empty
// while no port is known. A private tunnel that is up names its local port and protocol and says that
// only friends reach it.
QString stateText(const QString &host, const TunnelState &state);
// One line per tunnel whose port is known.
QStringList stateLines(const QString &host, const QList<TunnelState> &states);
// What a friend types: the address and its port, without the protocol; both addresses when TCP and UDP
// got different ports. Empty while no port is known, and for a private tunnel (its share code is copied).
QString copyText(const QString &host, const TunnelState &state);

} // namespace TunnelAddress
