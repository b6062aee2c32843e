// SPDX-License-Identifier: Apache-2.0
#include "core/sharecode.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <array>

namespace {

const QString PREFIX = QStringLiteral("marrowgate://join/");

// The record's keys, short so that the code stays short.
const QLatin1String VERSION_KEY("v");
const QLatin1String BUILT_IN_KEY("b");
const QLatin1String ADDRESS_KEY("a");
const QLatin1String SERVER_PORT_KEY("o");
const QLatin1String TOKEN_KEY("t");
const QLatin1String NAME_KEY("n");
const QLatin1String PROTOCOL_KEY("p");
const QLatin1String SECRET_KEY("k");
const QLatin1String HOST_PORT_KEY("l");
const QLatin1String LABEL_KEY("d");

constexpr auto BASE64_OPTIONS = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;

// Names and secrets are written into the client's file and its lines: letters, digits and a few marks
// only.
bool isPlainWord(const QString &text, int minimum, int maximum)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9_.-]*$"));
    return text.size() >= minimum && text.size() <= maximum && pattern.match(text).hasMatch();
}

bool hasControlCharacters(const QString &text)
{
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format
            || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            return true;
    }
    return false;
}

bool isValidAddress(const QString &address)
{
    return !address.isEmpty() && address.size() <= ShareCode::MAX_ADDRESS_LENGTH
        && !hasControlCharacters(address) && !address.contains(u' ');
}

bool isPort(int port)
{
    return port >= 1 && port <= 65535;
}

// Why the fields cannot be a code; empty when they can.
QString fieldFault(const ShareCode &code)
{
    if (!code.builtInServer) {
        if (!isValidAddress(code.serverAddr))
            return ShareCode::tr("服务器地址不可用");
        if (!isPort(code.serverPort))
            return ShareCode::tr("服务器端口超出范围");
        if (code.token.size() > ShareCode::MAX_TOKEN_LENGTH || hasControlCharacters(code.token))
            return ShareCode::tr("令牌不可用");
    }
    if (!isPlainWord(code.name, 1, 64))
        return ShareCode::tr("隧道名称不可用");
    if (!isPlainWord(code.secretKey, 16, 64))
        return ShareCode::tr("密钥不可用");
    if (!isPort(code.hostPort))
        return ShareCode::tr("本地端口超出范围");
    if (code.label.size() > ShareCode::MAX_LABEL_LENGTH || hasControlCharacters(code.label))
        return ShareCode::tr("名称不可用");
    return QString();
}

// A member that must be a whole number; none when it is missing or not one.
std::optional<int> wholeNumber(const QJsonObject &record, QLatin1String key)
{
    const QJsonValue value = record.value(key);
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (number != double(qint64(number)) || number < -1e9 || number > 1e9)
        return std::nullopt;
    return int(number);
}

std::optional<ShareCode> refuse(QString *error, const QString &reason)
{
    if (error)
        *error = reason;
    return std::nullopt;
}

} // namespace

bool ShareCode::operator==(const ShareCode &other) const
{
    return builtInServer == other.builtInServer && serverAddr == other.serverAddr
        && serverPort == other.serverPort && token == other.token && name == other.name
        && protocol == other.protocol && secretKey == other.secretKey && hostPort == other.hostPort
        && label == other.label;
}

QString ShareCode::toText() const
{
    if (!fieldFault(*this).isEmpty())
        return QString();
    QJsonObject record { { VERSION_KEY, VERSION },
                         { NAME_KEY, name },
                         { PROTOCOL_KEY, Tunnel::protocolName(protocol) },
                         { SECRET_KEY, secretKey },
                         { HOST_PORT_KEY, hostPort } };
    if (!label.isEmpty())
        record.insert(LABEL_KEY, label);
    if (builtInServer) {
        record.insert(BUILT_IN_KEY, true);
    } else {
        record.insert(ADDRESS_KEY, serverAddr);
        record.insert(SERVER_PORT_KEY, serverPort);
        record.insert(TOKEN_KEY, token);
    }
    const QByteArray json = QJsonDocument(record).toJson(QJsonDocument::Compact);
    const QString text = PREFIX + QString::fromLatin1(json.toBase64(BASE64_OPTIONS));
    return text.size() <= MAX_TEXT_LENGTH ? text : QString();
}

std::optional<ShareCode> ShareCode::fromText(const QString &text, QString *error)
{
    if (text.size() > 4 * MAX_TEXT_LENGTH)
        return refuse(error, tr("太长"));
    QString compact;
    for (const QChar c : text) {
        if (!c.isSpace())
            compact.append(c);
    }
    if (compact.endsWith(u'/'))
        compact.chop(1);
    if (!compact.startsWith(PREFIX, Qt::CaseInsensitive))
        return refuse(error, tr("应以 %1 开头").arg(PREFIX));
    if (compact.size() > MAX_TEXT_LENGTH)
        return refuse(error, tr("太长"));
    const QByteArray encoded = compact.mid(PREFIX.size()).toLatin1();
    const auto decoded
        = QByteArray::fromBase64Encoding(encoded, BASE64_OPTIONS | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || encoded.isEmpty())
        return refuse(error, tr("不是完整的分享码"));
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(*decoded, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return refuse(error, tr("不是完整的分享码"));
    const QJsonObject record = document.object();

    const std::optional<int> version = wholeNumber(record, VERSION_KEY);
    if (!version)
        return refuse(error, tr("缺少版本"));
    if (*version != VERSION)
        return refuse(error, tr("版本 %1 不受支持，请更新程序").arg(*version));

    // Every member the version has, of its type; a missing one is named.
    ShareCode code;
    const auto text_ = [&record](QLatin1String key) -> std::optional<QString> {
        const QJsonValue value = record.value(key);
        return value.isString() ? std::optional<QString>(value.toString()) : std::nullopt;
    };
    const std::array<std::pair<QLatin1String, QString>, 4> required { { { NAME_KEY, tr("隧道名称") },
                                                                        { PROTOCOL_KEY, tr("协议") },
                                                                        { SECRET_KEY, tr("密钥") },
                                                                        { HOST_PORT_KEY, tr("本地端口") } } };
    for (const auto &[key, what] : required) {
        if (!record.contains(key))
            return refuse(error, tr("缺少%1").arg(what));
    }
    const QJsonValue builtIn = record.value(BUILT_IN_KEY);
    if (!builtIn.isUndefined() && !builtIn.isBool())
        return refuse(error, tr("服务器不可用"));
    code.builtInServer = builtIn.toBool(false);
    if (!code.builtInServer) {
        if (!record.contains(ADDRESS_KEY))
            return refuse(error, tr("缺少服务器地址"));
        if (!record.contains(SERVER_PORT_KEY))
            return refuse(error, tr("缺少服务器端口"));
        const std::optional<QString> address = text_(ADDRESS_KEY);
        const std::optional<int> port = wholeNumber(record, SERVER_PORT_KEY);
        const std::optional<QString> token = record.contains(TOKEN_KEY) ? text_(TOKEN_KEY) : QString();
        if (!address || !port || !token)
            return refuse(error, tr("服务器不可用"));
        code.serverAddr = *address;
        code.serverPort = *port;
        code.token = *token;
    }
    const std::optional<QString> name = text_(NAME_KEY);
    const std::optional<QString> protocol = text_(PROTOCOL_KEY);
    const std::optional<QString> secret = text_(SECRET_KEY);
    const std::optional<int> hostPort = wholeNumber(record, HOST_PORT_KEY);
    const std::optional<QString> label = record.contains(LABEL_KEY) ? text_(LABEL_KEY) : QString();
    if (!name || !secret || !label)
        return refuse(error, tr("不是完整的分享码"));
    if (!protocol || !Tunnel::isProtocolName(*protocol))
        return refuse(error, tr("协议不受支持"));
    if (!hostPort)
        return refuse(error, tr("本地端口超出范围"));
    code.name = *name;
    code.protocol = Tunnel::protocolFromName(*protocol);
    code.secretKey = *secret;
    code.hostPort = *hostPort;
    code.label = *label;
    const QString fault = fieldFault(code);
    if (!fault.isEmpty())
        return refuse(error, fault);
    return code;
}

QString ShareCode::newSecretKey()
{
    std::array<quint32, 4> words;
    QRandomGenerator::system()->fillRange(words.data(), words.size());
    const QByteArray bytes(reinterpret_cast<const char *>(words.data()), sizeof(words));
    return QString::fromLatin1(bytes.toBase64(BASE64_OPTIONS));
}

QString ShareCode::newName()
{
    return QStringLiteral("share_") + QString::number(QRandomGenerator::system()->generate64(), 36);
}

bool ShareCode::hasScheme(const QString &text)
{
    return text.trimmed().startsWith(PREFIX, Qt::CaseInsensitive);
}
