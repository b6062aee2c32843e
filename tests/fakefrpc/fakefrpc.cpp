// A stand-in for the frpc tunnel client, built beside the tests under the client's file name.
//
// Command line: frpc -c <configuration file>
//
// It reads the TOML configuration file for real (bare keys, basic and literal strings with their
// escapes, integers, booleans, [table] and [[array]] headers, comments; anything else, a duplicate key
// or a malformed line is refused with a message on standard error and exit code 1), then serves
// GET /api/status on webServer.addr:webServer.port. When webServer.user and webServer.password are set,
// every request must carry them as HTTP basic authentication, or it is answered with 401. The reply
// lists every configured proxy as the real client does:
//     {"tcp":[{"name":"tunnel_1","type":"tcp","status":"running","err":"",
//              "local_addr":"127.0.0.1:8080","plugin":"","remote_addr":":46000"}]}
//
// Behaviour is chosen through environment variables, which the client inherits from whoever starts
// it (a test sets them with qputenv before starting the controller):
//   FAKEFRPC_STDOUT=text        written to standard output at start-up, after decoding the escapes
//   FAKEFRPC_STDERR=text        \n \r \t \\ and \e (the terminal escape character); no line break is
//                               added, so a test controls how the text splits into lines
//   FAKEFRPC_EXIT_AFTER_MS=n    end n ms after start-up (0: at once, after reading the file and
//                               writing the record, before serving); unset: run until ended
//   FAKEFRPC_EXIT_AFTER_REPORT=n  end n ms after the first status reply that named a port
//   FAKEFRPC_EXIT_CODE=n        exit code of such an end (default 0)
//   FAKEFRPC_CRASH=abort|segv   make such an end a crash (abort() or a segmentation fault)
//   FAKEFRPC_IGNORE_SIGTERM=1   ignore the polite request to end (SIGTERM)
//   FAKEFRPC_TERM_EXIT_CODE=n   exit code after SIGTERM (default 0)
//   FAKEFRPC_REMOTE_PORT=n      remote port reported for the proxies (default 46000; the n-th proxy
//                               gets n added)
//   FAKEFRPC_NO_PORT=1          never report a port: proxies stay "wait start" with an empty address
//   FAKEFRPC_STATUS_BODY=json   reply with this body instead; every %NAME% is replaced by the name of
//                               the first configured proxy
//   FAKEFRPC_STATUS_PAD=n       add n spaces to the end of every status reply
//   FAKEFRPC_SERVE_DELAY_MS=n   open the web API only n ms after start-up
//   FAKEFRPC_REPLY_DELAY_MS=n   answer each status request n ms after it arrived
//   FAKEFRPC_RECORD=path        append one line of compact JSON per run to this file:
//                               {"pid", "startedMs" (ms since the epoch), "arguments",
//                                "workingDirectory", "configPath", "configMode" (octal text),
//                                "config" (the parsed file) or "error" (why it was refused)}
//
// Apart from the file and these variables, nothing of the real client's behaviour is imitated.

#include <QByteArray>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QSet>
#include <QStringDecoder>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// --- Reading the configuration file ------------------------------------------------------------------

class TomlReader
{
public:
    // Reads text into a JSON object; on failure returns false and sets error().
    bool read(const QString &text)
    {
        const QStringList lines = text.split(QLatin1Char('\n'));
        for (int i = 0; i < lines.size(); ++i) {
            m_lineNumber = i + 1;
            QString line = lines.at(i);
            if (line.endsWith(QLatin1Char('\r')))
                line.chop(1);
            if (!readLine(line))
                return false;
        }
        commitSection();
        return true;
    }

    QJsonObject result() const { return m_root; }
    QString error() const { return m_error; }

private:
    bool fail(const QString &message)
    {
        m_error = QStringLiteral("line %1: %2").arg(m_lineNumber).arg(message);
        return false;
    }

    static bool isBlank(QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); }

    static bool isBareKeyChar(QChar c)
    {
        return (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            || (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            || (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('_')
            || c == QLatin1Char('-');
    }

    void skipBlanks(const QString &line, int &pos)
    {
        while (pos < line.size() && isBlank(line.at(pos)))
            ++pos;
    }

    // Only blanks and a comment may follow a value or a header.
    bool expectLineEnd(const QString &line, int pos)
    {
        skipBlanks(line, pos);
        if (pos < line.size() && line.at(pos) != QLatin1Char('#'))
            return fail(QStringLiteral("unexpected text after the value: %1").arg(line.mid(pos)));
        for (; pos < line.size(); ++pos) {
            const ushort u = line.at(pos).unicode();
            if ((u < 0x20 && u != '\t') || u == 0x7f)
                return fail(QStringLiteral("control character in a comment"));
        }
        return true;
    }

    bool readKey(const QString &line, int &pos, QString &key)
    {
        const int begin = pos;
        while (pos < line.size() && isBareKeyChar(line.at(pos)))
            ++pos;
        if (pos == begin)
            return fail(QStringLiteral("a bare key was expected"));
        key = line.mid(begin, pos - begin);
        return true;
    }

    bool readLine(const QString &line)
    {
        int pos = 0;
        skipBlanks(line, pos);
        if (pos == line.size() || line.at(pos) == QLatin1Char('#'))
            return expectLineEnd(line, pos);

        if (line.at(pos) == QLatin1Char('[')) {
            const bool array = line.mid(pos).startsWith(QLatin1String("[["));
            pos += array ? 2 : 1;
            skipBlanks(line, pos);
            QString name;
            if (!readKey(line, pos, name))
                return false;
            skipBlanks(line, pos);
            const QString close = array ? QStringLiteral("]]") : QStringLiteral("]");
            if (line.mid(pos, close.size()) != close)
                return fail(QStringLiteral("unterminated table header"));
            pos += close.size();
            if (!expectLineEnd(line, pos))
                return false;
            return openSection(name, array);
        }

        QString key;
        if (!readKey(line, pos, key))
            return false;
        skipBlanks(line, pos);
        if (pos >= line.size() || line.at(pos) != QLatin1Char('='))
            return fail(QStringLiteral("'=' expected after key %1").arg(key));
        ++pos;
        skipBlanks(line, pos);
        QJsonValue value;
        if (!readValue(line, pos, value))
            return false;
        if (!expectLineEnd(line, pos))
            return false;
        QJsonObject &table = m_inSection ? m_section : m_root;
        if (table.contains(key))
            return fail(QStringLiteral("duplicate key %1").arg(key));
        table.insert(key, value);
        return true;
    }

    bool openSection(const QString &name, bool array)
    {
        commitSection();
        if (m_root.contains(name) && !(array && m_arrays.contains(name)))
            return fail(QStringLiteral("table %1 defined twice").arg(name));
        if (array)
            m_arrays.insert(name);
        m_inSection = true;
        m_sectionName = name;
        m_sectionIsArray = array;
        m_section = QJsonObject();
        // Reserve the name at once, so that a later key of the same name is a duplicate.
        if (!m_root.contains(name))
            m_root.insert(name, array ? QJsonValue(QJsonArray()) : QJsonValue(QJsonObject()));
        return true;
    }

    void commitSection()
    {
        if (!m_inSection)
            return;
        if (m_sectionIsArray) {
            QJsonArray elements = m_root.value(m_sectionName).toArray();
            elements.append(m_section);
            m_root.insert(m_sectionName, elements);
        } else {
            m_root.insert(m_sectionName, m_section);
        }
        m_inSection = false;
    }

    bool readValue(const QString &line, int &pos, QJsonValue &value)
    {
        if (pos >= line.size())
            return fail(QStringLiteral("value missing"));
        const QChar first = line.at(pos);
        if (first == QLatin1Char('"')) {
            if (line.mid(pos, 3) == QLatin1String("\"\"\""))
                return fail(QStringLiteral("multi-line strings are not supported"));
            QString text;
            if (!readBasicString(line, pos, text))
                return false;
            value = text;
            return true;
        }
        if (first == QLatin1Char('\'')) {
            if (line.mid(pos, 3) == QLatin1String("'''"))
                return fail(QStringLiteral("multi-line strings are not supported"));
            const int end = line.indexOf(QLatin1Char('\''), pos + 1);
            if (end < 0)
                return fail(QStringLiteral("unterminated literal string"));
            value = line.mid(pos + 1, end - pos - 1);
            pos = end + 1;
            return true;
        }
        if (line.mid(pos, 4) == QLatin1String("true")
            && (pos + 4 == line.size() || !isBareKeyChar(line.at(pos + 4)))) {
            value = true;
            pos += 4;
            return true;
        }
        if (line.mid(pos, 5) == QLatin1String("false")
            && (pos + 5 == line.size() || !isBareKeyChar(line.at(pos + 5)))) {
            value = false;
            pos += 5;
            return true;
        }
        return readInteger(line, pos, value);
    }

    bool readInteger(const QString &line, int &pos, QJsonValue &value)
    {
        int p = pos;
        QString digits;
        if (p < line.size() && (line.at(p) == QLatin1Char('+') || line.at(p) == QLatin1Char('-')))
            digits.append(line.at(p++));
        const int firstDigit = p;
        bool lastWasDigit = false;
        for (; p < line.size(); ++p) {
            const QChar c = line.at(p);
            if (c.isDigit() && c.unicode() < 0x80) {
                digits.append(c);
                lastWasDigit = true;
            } else if (c == QLatin1Char('_') && lastWasDigit) {
                lastWasDigit = false;
            } else {
                break;
            }
        }
        if (p == firstDigit || !lastWasDigit)
            return fail(QStringLiteral("unsupported or malformed value: %1").arg(line.mid(pos)));
        if (line.at(firstDigit) == QLatin1Char('0') && p - firstDigit > 1)
            return fail(QStringLiteral("leading zero in an integer"));
        if (p < line.size() && !isBlank(line.at(p)) && line.at(p) != QLatin1Char('#'))
            return fail(QStringLiteral("unsupported or malformed value: %1").arg(line.mid(pos)));
        bool ok = false;
        const qint64 number = digits.toLongLong(&ok);
        if (!ok)
            return fail(QStringLiteral("integer out of range"));
        value = number;
        pos = p;
        return true;
    }

    bool readBasicString(const QString &line, int &pos, QString &text)
    {
        int p = pos + 1;
        while (true) {
            if (p >= line.size())
                return fail(QStringLiteral("unterminated basic string"));
            const QChar c = line.at(p);
            if (c == QLatin1Char('"'))
                break;
            if ((c.unicode() < 0x20 && c != QLatin1Char('\t')) || c.unicode() == 0x7f)
                return fail(QStringLiteral("control character in a basic string"));
            if (c != QLatin1Char('\\')) {
                text.append(c);
                ++p;
                continue;
            }
            if (p + 1 >= line.size())
                return fail(QStringLiteral("unterminated escape"));
            const QChar escape = line.at(p + 1);
            p += 2;
            switch (escape.unicode()) {
            case 'b':
                text.append(QLatin1Char('\b'));
                break;
            case 't':
                text.append(QLatin1Char('\t'));
                break;
            case 'n':
                text.append(QLatin1Char('\n'));
                break;
            case 'f':
                text.append(QLatin1Char('\f'));
                break;
            case 'r':
                text.append(QLatin1Char('\r'));
                break;
            case '"':
                text.append(QLatin1Char('"'));
                break;
            case '\\':
                text.append(QLatin1Char('\\'));
                break;
            case 'u':
            case 'U': {
                const int length = escape == QLatin1Char('u') ? 4 : 8;
                const QString hex = line.mid(p, length);
                bool ok = hex.size() == length;
                for (const QChar h : hex)
                    ok = ok && QStringLiteral("0123456789abcdefABCDEF").contains(h);
                const uint code = ok ? hex.toUInt(&ok, 16) : 0;
                if (!ok || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
                    return fail(QStringLiteral("invalid unicode escape"));
                const char32_t codePoint = code;
                text.append(QString::fromUcs4(&codePoint, 1));
                p += length;
                break;
            }
            default:
                return fail(QStringLiteral("invalid escape \\%1").arg(escape));
            }
        }
        pos = p + 1;
        return true;
    }

    QJsonObject m_root;
    QJsonObject m_section;
    QString m_sectionName;
    bool m_inSection = false;
    bool m_sectionIsArray = false;
    QSet<QString> m_arrays;
    int m_lineNumber = 0;
    QString m_error;
};

// --- Environment ------------------------------------------------------------------------------------------

std::optional<int> envInt(const char *name)
{
    if (!qEnvironmentVariableIsSet(name))
        return std::nullopt;
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok ? std::optional<int>(value) : std::nullopt;
}

QByteArray decodeEscapes(const QByteArray &text)
{
    QByteArray decoded;
    for (int i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c != '\\' || i + 1 == text.size()) {
            decoded.append(c);
            continue;
        }
        const char next = text.at(++i);
        switch (next) {
        case 'n':
            decoded.append('\n');
            break;
        case 'r':
            decoded.append('\r');
            break;
        case 't':
            decoded.append('\t');
            break;
        case 'e':
            decoded.append('\x1b');
            break;
        case '\\':
            decoded.append('\\');
            break;
        default:
            decoded.append('\\');
            decoded.append(next);
        }
    }
    return decoded;
}

int termExitCode = 0;

extern "C" void onTerminate(int)
{
    std::_Exit(termExitCode);
}

[[noreturn]] void endNow()
{
    std::fflush(stdout);
    std::fflush(stderr);
    const QByteArray crash = qgetenv("FAKEFRPC_CRASH");
    if (!crash.isEmpty()) {
#ifdef Q_OS_UNIX
        // No core file: it would only slow the test down.
        const struct rlimit noCore = { 0, 0 };
        ::setrlimit(RLIMIT_CORE, &noCore);
#endif
        if (crash == "segv") {
            std::signal(SIGSEGV, SIG_DFL);
            std::raise(SIGSEGV);
        }
        std::signal(SIGABRT, SIG_DFL);
        std::abort();
    }
    std::_Exit(envInt("FAKEFRPC_EXIT_CODE").value_or(0));
}

void appendRecord(const QJsonObject &record)
{
    const QString path = qEnvironmentVariable("FAKEFRPC_RECORD");
    if (path.isEmpty())
        return;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    // One write per line, so that runs close together never mix their lines.
    file.write(QJsonDocument(record).toJson(QJsonDocument::Compact) + '\n');
}

QString fileMode(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat info;
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    return QString::number(info.st_mode & 07777, 8).rightJustified(4, QLatin1Char('0'));
#else
    Q_UNUSED(path);
    return {};
#endif
}

// --- The status API -------------------------------------------------------------------------------

class StatusServer : public QObject
{
public:
    explicit StatusServer(const QJsonObject &config, QObject *parent = nullptr)
        : QObject(parent)
        , m_config(config)
    {
        const QJsonObject web = config.value(QLatin1String("webServer")).toObject();
        const QString user = web.value(QLatin1String("user")).toString();
        const QString password = web.value(QLatin1String("password")).toString();
        if (!user.isEmpty() || !password.isEmpty())
            m_expectedAuth = "Basic " + (user + QLatin1Char(':') + password).toUtf8().toBase64();
        connect(&m_server, &QTcpServer::newConnection, this, &StatusServer::onNewConnection);
    }

    bool listen(QString *error)
    {
        const QJsonObject web = m_config.value(QLatin1String("webServer")).toObject();
        const QHostAddress address(web.value(QLatin1String("addr")).toString(QStringLiteral("127.0.0.1")));
        const int port = web.value(QLatin1String("port")).toInt(-1);
        if (port < 0 || port > 65535) {
            *error = QStringLiteral("webServer.port missing or out of range");
            return false;
        }
        if (!m_server.listen(address, quint16(port))) {
            *error = m_server.errorString();
            return false;
        }
        return true;
    }

    // Called after the first reply that named a port.
    std::function<void()> onPortReported;

private:
    void onNewConnection()
    {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    }

    void onReadyRead(QTcpSocket *socket)
    {
        QByteArray &buffer = m_buffers[socket];
        buffer.append(socket->readAll());
        const int headerEnd = buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0) {
            if (buffer.size() > 65536)
                socket->abort();
            return;
        }
        const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
        m_buffers.remove(socket);

        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        QByteArray authorization;
        for (int i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines.at(i).trimmed();
            const int colon = line.indexOf(':');
            if (colon > 0 && line.left(colon).trimmed().toLower() == "authorization")
                authorization = line.mid(colon + 1).trimmed();
        }

        if (!m_expectedAuth.isEmpty() && authorization != m_expectedAuth) {
            respond(socket, "401 Unauthorized", "text/plain; charset=utf-8", "Unauthorized\n",
                    "Www-Authenticate: Basic realm=\"Restricted\"\r\n");
            return;
        }
        if (requestLine.value(0) != "GET" || requestLine.value(1) != "/api/status") {
            respond(socket, "404 Not Found", "text/plain; charset=utf-8", "404 page not found\n");
            return;
        }

        const int delay = envInt("FAKEFRPC_REPLY_DELAY_MS").value_or(0);
        if (delay <= 0) {
            answerStatus(socket);
            return;
        }
        const QPointer<QTcpSocket> guarded = socket;
        QTimer::singleShot(delay, this, [this, guarded] {
            if (guarded)
                answerStatus(guarded);
        });
    }

    void answerStatus(QTcpSocket *socket)
    {
        bool namesPort = false;
        QByteArray body = statusBody(&namesPort);
        body.append(QByteArray(qMax(0, envInt("FAKEFRPC_STATUS_PAD").value_or(0)), ' '));
        respond(socket, "200 OK", "application/json", body);
        if (namesPort && onPortReported) {
            auto callback = std::move(onPortReported);
            onPortReported = nullptr;
            callback();
        }
    }

    QByteArray statusBody(bool *namesPort) const
    {
        const QJsonArray proxies = m_config.value(QLatin1String("proxies")).toArray();
        const QByteArray custom = qgetenv("FAKEFRPC_STATUS_BODY");
        if (!custom.isEmpty()) {
            QByteArray body = custom;
            const QString name = proxies.isEmpty()
                ? QString()
                : proxies.first().toObject().value(QLatin1String("name")).toString();
            // The name goes in as the inside of a JSON string.
            QByteArray quoted = QJsonDocument(QJsonArray { name }).toJson(QJsonDocument::Compact);
            quoted = quoted.mid(2, quoted.size() - 4);
            body.replace("%NAME%", quoted);
            *namesPort = true;
            return body;
        }

        const bool noPort = qEnvironmentVariableIntValue("FAKEFRPC_NO_PORT") != 0;
        const int remotePort = envInt("FAKEFRPC_REMOTE_PORT").value_or(46000);
        QJsonArray tcp;
        for (int i = 0; i < proxies.size(); ++i) {
            const QJsonObject proxy = proxies.at(i).toObject();
            const QString localAddr
                = proxy.value(QLatin1String("localIP")).toString(QStringLiteral("127.0.0.1"))
                + QLatin1Char(':') + QString::number(proxy.value(QLatin1String("localPort")).toInteger());
            tcp.append(QJsonObject {
                { QStringLiteral("name"), proxy.value(QLatin1String("name")).toString() },
                { QStringLiteral("type"), proxy.value(QLatin1String("type")).toString() },
                { QStringLiteral("status"),
                  noPort ? QStringLiteral("wait start") : QStringLiteral("running") },
                { QStringLiteral("err"), QString() },
                { QStringLiteral("local_addr"), localAddr },
                { QStringLiteral("plugin"), QString() },
                { QStringLiteral("remote_addr"),
                  noPort ? QString() : QLatin1Char(':') + QString::number(remotePort + i) },
            });
        }
        *namesPort = !noPort && !tcp.isEmpty();
        return QJsonDocument(QJsonObject { { QStringLiteral("tcp"), tcp } }).toJson(QJsonDocument::Compact);
    }

    static void respond(QTcpSocket *socket, const QByteArray &status, const QByteArray &contentType,
                        const QByteArray &body, const QByteArray &extraHeaders = QByteArray())
    {
        QByteArray response = "HTTP/1.1 " + status + "\r\n";
        response += "Content-Type: " + contentType + "\r\n";
        response += extraHeaders;
        response += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
        response += "Connection: close\r\n\r\n";
        response += body;
        socket->write(response);
        socket->disconnectFromHost();
    }

    QJsonObject m_config;
    QByteArray m_expectedAuth;
    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_buffers;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const qint64 startedMs = QDateTime::currentMSecsSinceEpoch();

    termExitCode = envInt("FAKEFRPC_TERM_EXIT_CODE").value_or(0);
    if (qEnvironmentVariableIntValue("FAKEFRPC_IGNORE_SIGTERM") != 0)
        std::signal(SIGTERM, SIG_IGN);
    else
        std::signal(SIGTERM, onTerminate);

    const QByteArray out = decodeEscapes(qgetenv("FAKEFRPC_STDOUT"));
    const QByteArray err = decodeEscapes(qgetenv("FAKEFRPC_STDERR"));
    if (!out.isEmpty()) {
        std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
        std::fflush(stdout);
    }
    if (!err.isEmpty()) {
        std::fwrite(err.constData(), 1, size_t(err.size()), stderr);
        std::fflush(stderr);
    }

    const QStringList arguments = app.arguments().mid(1);
    QJsonObject record {
        { QStringLiteral("pid"), QCoreApplication::applicationPid() },
        { QStringLiteral("startedMs"), startedMs },
        { QStringLiteral("arguments"), QJsonArray::fromStringList(arguments) },
        { QStringLiteral("workingDirectory"), QDir::currentPath() },
    };

    if (arguments.size() != 2 || arguments.at(0) != QLatin1String("-c")) {
        std::fprintf(stderr, "usage: frpc -c <configuration file>\n");
        record.insert(QStringLiteral("error"), QStringLiteral("bad command line"));
        appendRecord(record);
        return 2;
    }

    const QString configPath = arguments.at(1);
    record.insert(QStringLiteral("configPath"), configPath);
    record.insert(QStringLiteral("configMode"), fileMode(configPath));

    QFile file(configPath);
    TomlReader reader;
    QString error;
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot open %1: %2").arg(configPath, file.errorString());
    } else {
        const QByteArray bytes = file.readAll();
        QStringDecoder decoder(QStringConverter::Utf8);
        const QString text = decoder.decode(bytes);
        if (decoder.hasError())
            error = QStringLiteral("the file is not valid UTF-8");
        else if (!reader.read(text))
            error = reader.error();
    }
    if (!error.isEmpty()) {
        std::fprintf(stderr, "fakefrpc: %s\n", qPrintable(error));
        record.insert(QStringLiteral("error"), error);
        appendRecord(record);
        return 1;
    }
    const QJsonObject config = reader.result();
    record.insert(QStringLiteral("config"), config);
    appendRecord(record);

    const std::optional<int> exitAfter = envInt("FAKEFRPC_EXIT_AFTER_MS");
    if (exitAfter && *exitAfter <= 0)
        endNow();
    if (exitAfter)
        QTimer::singleShot(*exitAfter, &app, [] { endNow(); });

    StatusServer server(config);
    if (const std::optional<int> afterReport = envInt("FAKEFRPC_EXIT_AFTER_REPORT")) {
        const int delay = *afterReport;
        server.onPortReported = [&app, delay] {
            QTimer::singleShot(delay, &app, [] { endNow(); });
        };
    }

    const auto serve = [&server] {
        QString listenError;
        if (!server.listen(&listenError)) {
            std::fprintf(stderr, "fakefrpc: web server: %s\n", qPrintable(listenError));
            std::exit(1);
        }
    };
    const int serveDelay = envInt("FAKEFRPC_SERVE_DELAY_MS").value_or(0);
    if (serveDelay > 0)
        QTimer::singleShot(serveDelay, &app, serve);
    else
        serve();

    return app.exec();
}
