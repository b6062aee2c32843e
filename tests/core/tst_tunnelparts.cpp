// SPDX-License-Identifier: Apache-2.0
#include "coretestsupport.h"

#include "core/locallistenerwatch.h"
#include "core/platform/localports.h"
#include "core/proxyname.h"
#include "core/reachabilitycheck.h"
#include "core/sharecode.h"
#include "core/tunneladdress.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpServer>
#include <QUdpSocket>

#include <memory>
#include <vector>

// The small pieces a tunnel is built from: its address as shown, its proxy name, and the watch on
// its local port.
class TestTunnelParts : public QObject
{
    Q_OBJECT

private slots:
    void formatHostPort_data();
    void formatHostPort();
    void storedTunnels_data();
    void storedTunnels();
    void stableNames();
    void installationNumberIsKept();
    void nameTaken_data();
    void nameTaken();
    void shareCodes_data();
    void shareCodes();
    void procNetUdp_data();
    void procNetUdp();
    void watchReportsUntilAProgramListens_data();
    void watchReportsUntilAProgramListens();
    void reachabilityKeysApart_data();
    void reachabilityKeysApart();
};

void TestTunnelParts::formatHostPort_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("bare");

    QTest::newRow("name") << "tunnel.example.org" << "tunnel.example.org:6000" << "tunnel.example.org";
    QTest::newRow("IPv4") << "203.0.113.7" << "203.0.113.7:6000" << "203.0.113.7";
    QTest::newRow("IPv6") << "2001:db8::1" << "[2001:db8::1]:6000" << "2001:db8::1";
    QTest::newRow("loopback IPv6") << "::1" << "[::1]:6000" << "::1";
    QTest::newRow("typed with brackets") << " [2001:db8::1] " << "[2001:db8::1]:6000" << "2001:db8::1";
    QTest::newRow("zone id") << "fe80::1%eth0" << "[fe80::1%eth0]:6000" << "fe80::1%eth0";
    QTest::newRow("IPv4-mapped") << "::ffff:192.0.2.1" << "[::ffff:192.0.2.1]:6000" << "::ffff:192.0.2.1";
    QTest::newRow("brackets around no address") << "[host]" << "[host]:6000" << "[host]";
}

void TestTunnelParts::formatHostPort()
{
    QFETCH(QString, host);
    QFETCH(QString, shown);
    QFETCH(QString, bare);
    QCOMPARE(TunnelAddress::formatHostPort(host, 6000), shown);
    QCOMPARE(TunnelAddress::bareHost(host), bare);
}

// Values stored before private tunnels existed keep loading; a private one reads back as such.
void TestTunnelParts::storedTunnels_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("readBack");

    QTest::newRow("older value") << "25565/tcp+udp"
                                 << "25565/tcp+udp";
    QTest::newRow("private") << "8080/udp/private"
                             << "8080/udp/private";
    QTest::newRow("unknown mark") << "8080/tcp/public"
                                  << "";
    QTest::newRow("empty mark") << "8080/tcp/"
                                << "";
    QTest::newRow("mark in place of the protocol") << "8080/private"
                                                   << "";
    QTest::newRow("mark twice") << "8080/tcp/private/private"
                                << "";
}

void TestTunnelParts::storedTunnels()
{
    QFETCH(QString, text);
    QFETCH(QString, readBack);
    const std::optional<Tunnel> tunnel = Tunnel::fromStoredText(text);
    QCOMPARE(tunnel ? tunnel->storedText() : QString(), readBack);
}

// One name per installation, server entry, local port and protocol; the same one every time.
void TestTunnelParts::stableNames()
{
    const auto name = [](quint64 installation, const QString &server, int serverPort, int localPort,
                         const QString &protocol) {
        return ProxyName::stableName(installation, server, serverPort, localPort, protocol);
    };
    const QString base = name(42, "tunnel.example.org", 7000, 8080, "tcp");
    QVERIFY2(QRegularExpression("^tunnel_[0-9]+$").match(base).hasMatch(), qPrintable(base));
    QCOMPARE(name(42, "tunnel.example.org", 7000, 8080, "tcp"), base);
    // The same entry retyped: letter case and surrounding blanks do not name another server.
    QCOMPARE(name(42, " Tunnel.Example.ORG ", 7000, 8080, "tcp"), base);
    QCOMPARE(name(42, "[2001:DB8::1]", 7000, 8080, "tcp"), name(42, "2001:db8::1", 7000, 8080, "tcp"));
    const QStringList others { name(43, "tunnel.example.org", 7000, 8080, "tcp"),
                               name(42, "other.example.org", 7000, 8080, "tcp"),
                               name(42, "tunnel.example.org", 7001, 8080, "tcp"),
                               name(42, "tunnel.example.org", 7000, 8081, "tcp"),
                               name(42, "tunnel.example.org", 7000, 8080, "udp"),
                               // Fields that run together must not give the same text.
                               name(42, "tunnel.example.org7", 0, 8080, "tcp") };
    for (const QString &other : others)
        QVERIFY2(other != base, qPrintable(other));
    QCOMPARE(QSet<QString>(others.begin(), others.end()).size(), others.size());
    QVERIFY(ProxyName::freshName().startsWith("tunnel_"));
    QVERIFY(ProxyName::freshName() != ProxyName::freshName());
}

void TestTunnelParts::installationNumberIsKept()
{
    const QString file = TestSupport::sandboxPath() + QStringLiteral("/seed.ini");
    QSettings settings(file, QSettings::IniFormat);
    const quint64 first = ProxyName::installationNumber(settings);
    QVERIFY(first != 0);
    settings.sync();
    QSettings again(file, QSettings::IniFormat);
    QCOMPARE(ProxyName::installationNumber(again), first);
    // An unreadable value is replaced, and the replacement is kept.
    again.setValue(QString::fromLatin1(ProxyName::INSTALLATION_KEY), QStringLiteral("garbage"));
    const quint64 replaced = ProxyName::installationNumber(again);
    QVERIFY(replaced != 0);
    QCOMPARE(ProxyName::installationNumber(again), replaced);
}

void TestTunnelParts::nameTaken_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("taken");

    // As frpc 0.66.0 writes them when another session holds the name.
    QTest::newRow("log line") << "2026-12-07 18:02:31.109 [W] [client/control.go:170] [7dbfa2b1123f16d5] "
                                 "[tunnel_123] start error: proxy [tunnel_123] already exists"
                              << true;
    QTest::newRow("status err") << "proxy [tunnel_123] already exists" << true;
    QTest::newRow("other start error")
        << "[W] [client/control.go:170] [ab] [tunnel_1] start error: port already used" << false;
    QTest::newRow("proxy added") << "[I] [proxy/proxy_manager.go:180] [ab] proxy added: [tunnel_123]"
                                 << false;
}

void TestTunnelParts::nameTaken()
{
    QFETCH(QString, text);
    QFETCH(bool, taken);
    QCOMPARE(ProxyName::isNameTakenError(text), taken);
}

namespace {
// A code holding the record given, as another version of the program (or a forger) could write it.
QString codeOf(const QJsonObject &record)
{
    return QStringLiteral("marrowgate://join/")
        + QString::fromLatin1(QJsonDocument(record)
                                  .toJson(QJsonDocument::Compact)
                                  .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QJsonObject builtInRecord()
{
    return { { "v", 1 },
             { "b", true },
             { "n", "tunnel_77" },
             { "p", "tcp+udp" },
             { "k", "Abcdefghijklmnopqrstuv" },
             { "l", 25565 },
             { "d", "我的世界" } };
}
} // namespace

void TestTunnelParts::shareCodes_data()
{
    QTest::addColumn<QString>("text");
    // What the refusal names; empty for a code that must be read.
    QTest::addColumn<QString>("refusal");

    ShareCode own;
    own.serverAddr = QStringLiteral("[2001:db8::1]");
    own.serverPort = 7001;
    own.token = QStringLiteral("to\"ken\\ with = and #");
    own.name = QStringLiteral("tunnel_1");
    own.protocol = Tunnel::Udp;
    own.secretKey = ShareCode::newSecretKey();
    own.hostPort = 3389;
    QTest::newRow("own server, written here") << own.toText() << QString();
    const QString builtIn = codeOf(builtInRecord());
    QTest::newRow("built-in, wrapped by a chat")
        << builtIn.left(30) + "\n  " + builtIn.mid(30) + "/" << QString();

    QJsonObject record = builtInRecord();
    record.insert("v", 2);
    QTest::newRow("newer version") << codeOf(record) << "2";
    record = builtInRecord();
    record.insert("l", 65536);
    QTest::newRow("port out of range") << codeOf(record) << "端口";
    record.insert("l", 80.5);
    QTest::newRow("fractional port") << codeOf(record) << "端口";
    record = builtInRecord();
    record.remove("k");
    QTest::newRow("no secret") << codeOf(record) << "密钥";
    record = builtInRecord();
    record.insert("k", "short");
    QTest::newRow("weak secret") << codeOf(record) << "密钥";
    record = builtInRecord();
    record.insert("n", "a\"\nserverAddr = \"evil");
    QTest::newRow("name that would add keys") << codeOf(record) << "名称";
    record = builtInRecord();
    record.remove("b");
    QTest::newRow("no server") << codeOf(record) << "服务器地址";
    QTest::newRow("other scheme") << "https://example.net/join"
                                  << "marrowgate://join/";
    QTest::newRow("cut off") << builtIn.left(builtIn.size() - 9) << "完整";
    QTest::newRow("too long") << "marrowgate://join/" + QString(500, 'A') << "太长";
}

void TestTunnelParts::shareCodes()
{
    QFETCH(QString, text);
    QFETCH(QString, refusal);
    QString error;
    const std::optional<ShareCode> code = ShareCode::fromText(text, &error);
    if (!refusal.isEmpty()) {
        QVERIFY2(!code, qPrintable(text));
        QVERIFY2(error.contains(refusal), qPrintable(error));
        return;
    }
    QVERIFY2(code, qPrintable(error));
    QVERIFY(code->toText().size() < 400);
    QCOMPARE(ShareCode::fromText(code->toText()), code);
    QVERIFY(code->secretKey.size() >= 22);
}

void TestTunnelParts::procNetUdp_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("ipv6");
    QTest::addColumn<bool>("listens");
    // Read as a line of the TCP table rather than the UDP one.
    QTest::addColumn<bool>("tcp");

    // Addresses as a little-endian machine prints them; port 6000 is 1770 in hex.
    QTest::newRow("127.0.0.1") << QByteArray("   7: 0100007F:1770 00000000:0000 07 00000000:00000000") << false
                               << true << false;
    QTest::newRow("0.0.0.0") << QByteArray("  12: 00000000:1770 00000000:0000 07 00000000:00000000") << false
                             << true << false;
    QTest::newRow("other port") << QByteArray("   7: 0100007F:1771 00000000:0000 07 00000000:00000000")
                                << false << false << false;
    QTest::newRow("another address")
        << QByteArray("   7: 0201A8C0:1770 00000000:0000 07 00000000:00000000") << false << false << false;
    QTest::newRow("connected") << QByteArray("   7: 0100007F:1770 0100007F:9C40 01 00000000:00000000")
                               << false << false << false;
    QTest::newRow("::") << QByteArray("  3: 00000000000000000000000000000000:1770 "
                                      "00000000000000000000000000000000:0000 07 00000000:00000000")
                        << true << true << false;
    QTest::newRow("::ffff:127.0.0.1") << QByteArray("  3: 0000000000000000FFFF00000100007F:1770 "
                                                    "00000000000000000000000000000000:0000 07 0:0")
                                      << true << true << false;
    QTest::newRow("::1 only") << QByteArray("  3: 00000000000000000000000001000000:1770 "
                                            "00000000000000000000000000000000:0000 07 0:0")
                              << true << false << false;
    QTest::newRow("TCP listening") << QByteArray("   0: 0100007F:1770 00000000:0000 0A 00000000:00000000")
                                   << false << true << true;
    QTest::newRow("TCP connection") << QByteArray("   1: 0100007F:1770 0100007F:9C40 01 00000000:00000000")
                                    << false << false << true;
}

void TestTunnelParts::procNetUdp()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, ipv6);
    QFETCH(bool, listens);
    QFETCH(bool, tcp);
    const QByteArray header = "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when\n";
    QCOMPARE(LocalPorts::procNetListeners(header + line + '\n', ipv6, !tcp).contains(6000), listens);
}

void TestTunnelParts::watchReportsUntilAProgramListens_data()
{
    QTest::addColumn<bool>("udp");
    // Where the UDP program binds; on :: (both families) it is listed in the IPv6 table only.
    QTest::addColumn<QHostAddress>("bindTo");
    QTest::newRow("tcp") << false << QHostAddress();
    QTest::newRow("udp") << true << QHostAddress(QHostAddress::AnyIPv4);
    QTest::newRow("udp on ::") << true << QHostAddress(QHostAddress::Any);
}

// A quiet port raises the hint; a program that starts listening clears it, and the port is not probed
// again; stopping clears a hint.
void TestTunnelParts::watchReportsUntilAProgramListens()
{
    QFETCH(bool, udp);
    QFETCH(QHostAddress, bindTo);
    QTcpServer tcp;
    QUdpSocket datagrams;
    QVERIFY(tcp.listen(QHostAddress::LocalHost, 0));
    const quint16 port = tcp.serverPort();
    tcp.close();

    LocalListenerWatch watch;
    watch.setRecheckInterval(20);
    QSignalSpy hints(&watch, &LocalListenerWatch::hintChanged);
    watch.watch(port, udp);
    QTRY_VERIFY(watch.nobodyListens());
    QTRY_VERIFY(watch.probeCount() >= 3);

    QVERIFY(udp ? datagrams.bind(bindTo, port) : tcp.listen(QHostAddress::LocalHost, port));
    QTRY_VERIFY(!watch.nobodyListens());
    const int probes = watch.probeCount();
    QTest::qWait(200);
    QCOMPARE(watch.probeCount(), probes);
    QCOMPARE(hints.size(), 2);

    tcp.close();
    datagrams.close();
    watch.watch(port, udp);
    QTRY_VERIFY(watch.nobodyListens());
    watch.stop();
    QVERIFY(!watch.nobodyListens());
    QCOMPARE(hints.last().first().toBool(), false);
    const int stoppedAt = watch.probeCount();
    QTest::qWait(100);
    QCOMPARE(watch.probeCount(), stoppedAt);
}

void TestTunnelParts::reachabilityKeysApart_data()
{
    // Whether the address checked under each key (its index) accepts connections.
    QTest::addColumn<QList<bool>>("open");
    QTest::newRow("open, refused") << QList<bool> { true, false };
    QTest::newRow("refused, open, refused") << QList<bool> { false, true, false };
}

// Checks under several keys at once each get their own result; a failed one is repeated until its key
// is forgotten, a passed one is not.
void TestTunnelParts::reachabilityKeysApart()
{
    QFETCH(QList<bool>, open);
    std::vector<std::unique_ptr<QTcpServer>> servers;
    ReachabilityCheck check;
    check.setRetryInterval(30);
    QSignalSpy results(&check, &ReachabilityCheck::checked);
    for (int key = 0; key < open.size(); ++key) {
        servers.push_back(std::make_unique<QTcpServer>());
        QVERIFY(servers.back()->listen(QHostAddress::LocalHost, 0));
        const int port = servers.back()->serverPort();
        if (!open.at(key))
            servers.back()->close();
        check.check(key, QStringLiteral("127.0.0.1"), port);
    }
    const auto resultsOf = [&results](int key) {
        QList<bool> got;
        for (const QList<QVariant> &result : std::as_const(results)) {
            if (result.at(0).toInt() == key)
                got << result.at(1).toBool();
        }
        return got;
    };
    const auto repeatedThrice = [&] {
        for (int key = 0; key < open.size(); ++key) {
            if (!open.at(key) && resultsOf(key).size() < 3)
                return false;
        }
        return true;
    };
    QTRY_VERIFY(repeatedThrice());
    for (int key = 0; key < open.size(); ++key) {
        const QList<bool> got = resultsOf(key);
        QCOMPARE(got.size() == 1, open.at(key));
        QCOMPARE(got.count(open.at(key)), got.size());
    }
    check.forgetAll();
    const qsizetype told = results.size();
    QTest::qWait(100);
    QCOMPARE(results.size(), told);
}

MARROWGATE_CORE_TEST_MAIN(TestTunnelParts)
#include "tst_tunnelparts.moc"
