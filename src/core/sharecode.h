// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/tunnel.h"

#include <QCoreApplication>
#include <QString>

#include <optional>

// What a friend needs to reach a private tunnel: the server, the names under which the host's client
// registered the tunnel's proxies, the secret they share and what the host said about it. Passed as one
// line of text, "marrowgate://join/" and the record in base64url, that chat programs leave alone.
struct ShareCode
{
    Q_DECLARE_TR_FUNCTIONS(ShareCode)

public:
    // The record's layout; a code of another version is refused.
    static constexpr int VERSION = 1;
    // A code is never longer than this, and a longer text is refused before it is decoded.
    static constexpr int MAX_TEXT_LENGTH = 399;
    // The most characters of the name the host gives the tunnel.
    static constexpr int MAX_LABEL_LENGTH = 40;
    static constexpr int MAX_TOKEN_LENGTH = 128;
    static constexpr int MAX_ADDRESS_LENGTH = 253;

    // The server is the program's built-in entry, whose address and token the friend's program holds
    // too; the fields of the server are then empty.
    bool builtInServer = false;
    QString serverAddr;
    int serverPort = 0;
    QString token;
    // The base of the proxies' names: the host's client registers the tunnel as stcpName(), xtcpName()
    // and sudpName(), as the protocol needs.
    QString name;
    Tunnel::Protocol protocol = Tunnel::Tcp;
    // The secret the host's proxies and the friend's visitors share.
    QString secretKey;
    // The host's local port, and the name the host may give the tunnel (may be empty).
    int hostPort = 0;
    QString label;

    bool operator==(const ShareCode &other) const;
    bool operator!=(const ShareCode &other) const { return !(*this == other); }

    QString stcpName() const { return name + QLatin1String("-stcp"); }
    QString xtcpName() const { return name + QLatin1String("-xtcp"); }
    QString sudpName() const { return name + QLatin1String("-sudp"); }

    // The code as text; empty when a field is not one a code can carry (see fromText) or the text would
    // be longer than MAX_TEXT_LENGTH.
    QString toText() const;
    // The code the text holds: white space (a line a chat program wrapped) and a trailing slash are
    // ignored. Anything else that is not a code this version wrote is refused with the reason, in the
    // user's words, in error.
    static std::optional<ShareCode> fromText(const QString &text, QString *error = nullptr);

    // A fresh secret: 128 bits from the system's random source, in base64url (22 characters).
    static QString newSecretKey();
    // The fresh base of a tunnel's proxy names.
    static QString newName();
    // Whether text looks like a code, so that it is taken for one (a link handed to the program).
    static bool hasScheme(const QString &text);
};
