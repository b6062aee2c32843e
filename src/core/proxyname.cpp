// SPDX-License-Identifier: Apache-2.0
// The tunnel's stable proxy name, so that the server gives the same public port back.
#include "core/proxyname.h"

#include "core/tunneladdress.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSettings>

namespace {

const QString NAME_PREFIX = QStringLiteral("tunnel_");

} // namespace

namespace ProxyName {

quint64 installationNumber(QSettings &settings)
{
    const QString key = QString::fromLatin1(INSTALLATION_KEY);
    bool ok = false;
    const quint64 stored = settings.value(key).toString().toULongLong(&ok);
    if (ok && stored != 0)
        return stored;
    quint64 drawn = 0;
    while (drawn == 0)
        drawn = QRandomGenerator::system()->generate64();
    // Kept as text: every settings format reads a 64-bit number back the same way.
    settings.setValue(key, QString::number(drawn));
    return drawn;
}

QString stableName(quint64 installation, const QString &serverAddr, int serverPort, int localPort,
                   const QString &protocol)
{
    // Fields joined with a separator that none of them holds, so that no two inputs give one text. The
    // address as the client gets it: an IPv6 literal typed in brackets names the same server.
    const QString input
        = QStringList { QString::number(installation), TunnelAddress::bareHost(serverAddr).toLower(),
                        QString::number(serverPort), QString::number(localPort), protocol.toLower() }
              .join(u'\n');
    const QByteArray digest = QCryptographicHash::hash(input.toUtf8(), QCryptographicHash::Sha256);
    quint64 number = 0;
    for (int i = 0; i < 8; ++i)
        number = (number << 8) | quint8(digest.at(i));
    return NAME_PREFIX + QString::number(number);
}

QString freshName()
{
    return NAME_PREFIX + QString::number(QRandomGenerator::global()->generate64());
}

bool isNameTakenError(const QString &textOrErr)
{
    static const QRegularExpression pattern(QStringLiteral(R"(\bproxy \[[^\]]+\] already exists)"));
    return pattern.match(textOrErr).hasMatch();
}

} // namespace ProxyName
