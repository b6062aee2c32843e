// SPDX-License-Identifier: Apache-2.0
#include "coretestsupport.h"

#include "core/commandline.h"

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>

using Action = CommandLineRequest::Action;

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void severalPorts_data();
    void severalPorts();
    void answersWithoutADisplay_data();
    void answersWithoutADisplay();
};

void TestCommandLine::parse_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("action");
    QTest::addColumn<QString>("connectName");
    QTest::addColumn<int>("localPort");
    QTest::addColumn<QString>("protocol");
    QTest::addColumn<QString>("textHolds");

    const int run = CommandLineRequest::Run;
    const int fail = CommandLineRequest::Fail;
    QTest::newRow("nothing") << QStringList() << run << QString() << 0 << QString() << QString();
    QTest::newRow("help") << QStringList { "--help" } << int(CommandLineRequest::ShowHelp) << QString() << 0
                          << QString() << "--connect <name>";
    QTest::newRow("-h beats an error after it")
        << QStringList { "-h", "--port", "0" } << int(CommandLineRequest::ShowHelp) << QString() << 0
        << QString() << "--port <port>";
    QTest::newRow("version") << QStringList { "--version" } << int(CommandLineRequest::ShowVersion)
                             << QString() << 0 << QString() << "1.0.0";
    QTest::newRow("connect with a space and Chinese")
        << QStringList { "--connect", "香港 节点" } << run << "香港 节点" << 0 << QString() << QString();
    QTest::newRow("connect=, port") << QStringList { "--connect=alpha", "--port", "8080" } << run << "alpha"
                                    << 8080 << QString() << QString();
    QTest::newRow("port bounds") << QStringList { "--port=65535", "--connect", "a" } << run << "a" << 65535
                                 << QString() << QString();
    QTest::newRow("the toolkit's own options")
        << QStringList { "-platform", "xcb", "--style=fusion", "-reverse", "--connect", "a" } << run << "a"
        << 0 << QString() << QString();
    QTest::newRow("unknown option") << QStringList { "--conect", "a" } << fail << QString() << 0 << QString()
                                    << "conect";
    QTest::newRow("connect without a name")
        << QStringList { "--connect" } << fail << QString() << 0 << QString() << "connect";
    QTest::newRow("empty name") << QStringList { "--connect", "" } << fail << QString() << 0 << QString()
                                << "--connect";
    QTest::newRow("port 0") << QStringList { "--connect", "a", "--port", "0" } << fail << QString() << 0
                            << QString() << "“0”";
    QTest::newRow("port 65536") << QStringList { "--connect", "a", "--port", "65536" } << fail << QString()
                                << 0 << QString() << "65536";
    QTest::newRow("port not a number")
        << QStringList { "--connect", "a", "--port", "80x" } << fail << QString() << 0 << QString() << "80x";
    QTest::newRow("port alone") << QStringList { "--port", "80" } << fail << QString() << 0 << QString()
                                << "--connect";
    QTest::newRow("udp") << QStringList { "--connect", "a", "--protocol", "udp" } << run << "a" << 0 << "udp"
                         << QString();
    QTest::newRow("protocol=tcp, port") << QStringList { "--protocol=tcp", "--port", "25565", "--connect=a" }
                                        << run << "a" << 25565 << "tcp" << QString();
    QTest::newRow("protocol in capitals") << QStringList { "--connect", "a", "--protocol", "UDP" } << fail
                                          << QString() << 0 << QString() << "“UDP”";
    QTest::newRow("protocol alone") << QStringList { "--protocol", "udp" } << fail << QString() << 0 << QString()
                                    << "--connect";
    QTest::newRow("stray argument") << QStringList { "alpha" } << fail << QString() << 0 << QString() << "alpha";
}

void TestCommandLine::parse()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, action);
    QFETCH(QString, connectName);
    QFETCH(int, localPort);
    QFETCH(QString, protocol);
    QFETCH(QString, textHolds);

    const CommandLineRequest request = parseCommandLine(QStringList { "/opt/bin/Marrowgate" } + arguments);
    QCOMPARE(int(request.action), action);
    QCOMPARE(request.connectName, connectName);
    QCOMPARE(request.localPort, localPort);
    QCOMPARE(request.protocol, protocol);
    QVERIFY2(request.text.contains(textHolds), qPrintable(request.text));
    if (action == CommandLineRequest::ShowHelp)
        QVERIFY2(request.text.startsWith("用法: Marrowgate [选项]\n"), qPrintable(request.text));
}

void TestCommandLine::severalPorts_data()
{
    QTest::addColumn<QStringList>("arguments");
    // Each tunnel as "port/protocol"; empty when the command line is refused.
    QTest::addColumn<QString>("tunnels");
    QTest::addColumn<QString>("textHolds");
    QStringList eleven { "--connect", "a" };
    for (int port = 1; port <= 11; ++port)
        eleven << "--port" << QString::number(port);
    QTest::newRow("suffixes") << QStringList { "--connect", "a", "--port", "25565", "--port", "24454/udp",
                                               "--port=7777/tcp+udp" }
                              << "25565/ 24454/udp 7777/tcp+udp" << QString();
    QTest::newRow("--protocol for ports without suffix")
        << QStringList { "--connect", "a", "--protocol", "tcp+udp", "--port", "1", "--port", "2/tcp" }
        << "1/tcp+udp 2/tcp" << QString();
    QTest::newRow("bad suffix") << QStringList { "--connect", "a", "--port", "80/sctp" } << QString() << "80/sctp";
    QTest::newRow("empty suffix") << QStringList { "--connect", "a", "--port", "80/" } << QString() << "80/";
    QTest::newRow("bad port with suffix")
        << QStringList { "--connect", "a", "--port", "x/udp" } << QString() << "x/udp";
    QTest::newRow("eleven tunnels") << eleven << QString() << "10";
}

void TestCommandLine::severalPorts()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, tunnels);
    QFETCH(QString, textHolds);
    const CommandLineRequest request = parseCommandLine(QStringList { "/opt/bin/Marrowgate" } + arguments);
    QCOMPARE(request.action, tunnels.isEmpty() ? CommandLineRequest::Fail : CommandLineRequest::Run);
    QStringList read;
    for (const CommandLineRequest::Tunnel &tunnel : request.tunnels)
        read << QString::number(tunnel.port) + u'/' + tunnel.protocol;
    if (!tunnels.isEmpty())
        QCOMPARE(read.join(u' '), tunnels);
    QVERIFY2(request.text.contains(textHolds), qPrintable(request.text));
}

// The program itself answers these before it needs a display: the platform is forced to one that
// cannot start here, and the settings folder stays empty.
void TestCommandLine::answersWithoutADisplay_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("stdoutHolds");
    QTest::addColumn<QString>("stderrHolds");

    QTest::newRow("help") << QStringList { "--help" } << 0 << "--connect <name>" << QString();
    QTest::newRow("version") << QStringList { "--version" } << 0 << "Marrowgate 1.0.0" << QString();
    QTest::newRow("unknown option") << QStringList { "--bogus" } << 2 << QString() << "bogus";
    QTest::newRow("bad port") << QStringList { "--connect", "a", "--port", "70000" } << 2 << QString()
                              << "70000";
    QTest::newRow("bad protocol") << QStringList { "--connect", "a", "--protocol", "sctp" } << 2 << QString()
                                  << "sctp";
    QTest::newRow("bad port suffix") << QStringList { "--connect", "a", "--port", "80", "--port", "81/tpc" }
                                     << 2 << QString() << "81/tpc";
    QTest::newRow("help in English") << QStringList { "--lang", "en", "--help" } << 0 << "Usage: Marrowgate"
                                     << QString();
    QTest::newRow("error in English") << QStringList { "--port", "80", "-lang=en" } << 2 << QString()
                                      << "--port can only be used with --connect";
    QTest::newRow("unknown language") << QStringList { "--lang", "fr" } << 2 << QString() << "“fr”";
}

void TestCommandLine::answersWithoutADisplay()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, stdoutHolds);
    QFETCH(QString, stderrHolds);

    const QString configFolder = TestSupport::sandboxPath() + QStringLiteral("/config");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(MARROWGATE_EXECUTABLE), arguments);
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), exitCode);
    const QString out = QString::fromLocal8Bit(program.readAllStandardOutput());
    const QString err = QString::fromLocal8Bit(program.readAllStandardError());
    QVERIFY2(stdoutHolds.isEmpty() ? out.isEmpty() : out.contains(stdoutHolds), qPrintable(out));
    QVERIFY2(stderrHolds.isEmpty() ? err.isEmpty() : err.contains(stderrHolds), qPrintable(err));
    QVERIFY(QDir(configFolder).isEmpty(QDir::NoDotAndDotDot | QDir::AllEntries));
}

MARROWGATE_CORE_TEST_MAIN(TestCommandLine)
#include "tst_commandline.moc"
