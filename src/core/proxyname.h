// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>
#include <QtGlobal>

class QSettings;

// The name under which the client registers its proxy with the server. The server gives a name back the
// port it had before (for a day while it runs), so a name that stays the same keeps a friend's address.
namespace ProxyName {

// The settings key of this installation's number.
inline constexpr char INSTALLATION_KEY[] = "proxyNameSeed";

// This installation's random number, drawn once from the system's random source and kept in settings;
// a missing or unreadable value is replaced by a fresh one.
quint64 installationNumber(QSettings &settings);

// "tunnel_" and digits: always the same for the same installation, server entry, local port and protocol
// ("tcp" or "udp"), and with overwhelming probability different when any of them differs.
QString stableName(quint64 installation, const QString &serverAddr, int serverPort, int localPort,
                   const QString &protocol);

// "tunnel_" and a random number, for when the server still holds the stable name for an earlier session.
QString freshName();

// Whether a client's log line or a proxy's status error says the server already holds the name:
// "start error: proxy [tunnel_1] already exists" in the log, "proxy [tunnel_1] already exists" in "err".
bool isNameTakenError(const QString &textOrErr);

} // namespace ProxyName
