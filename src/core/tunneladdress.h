#pragma once

#include <QString>

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

// How a tunnel's public end is shown to the user: the address and port, marked "UDP " for a UDP tunnel.
QString tunnelText(const QString &host, const QString &port, bool udp);

} // namespace TunnelAddress
