// SPDX-License-Identifier: Apache-2.0
#include "realfrp.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QtTest/QTest>

#include <algorithm>
#include <cstdio>

namespace RealFrp {

PrivateFolder::PrivateFolder()
{
    qputenv("TMPDIR", QFile::encodeName(m_dir.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.path()));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_dir.path()));
}

int freePort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? -1 : values.at(values.size() / 2);
}

void say(const QString &line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

QString frpDir(const QStringList &arguments)
{
    const int at = arguments.indexOf(QStringLiteral("--frp-dir"));
    const QString folder = at < 0 ? QString() : arguments.value(at + 1);
    return QFileInfo(folder + QStringLiteral("/frps")).isExecutable() ? folder : QString();
}

QByteArray statusReply(int port, const QByteArray &credentials)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, quint16(port));
    if (!socket.waitForConnected(50))
        return {};
    socket.write("GET /api/status HTTP/1.0\r\nAuthorization: Basic " + credentials.toBase64() + "\r\n\r\n");
    QByteArray reply;
    while (socket.waitForReadyRead(200))
        reply += socket.readAll();
    return reply.mid(reply.indexOf("\r\n\r\n") + 4);
}

Server::Server(const QString &frps, const QString &folder, int port, const QString &token)
    : m_frps(frps)
    , m_file(folder + QStringLiteral("/frps.toml"))
    , m_port(port)
{
    QFile file(m_file);
    file.open(QIODevice::WriteOnly);
    file.write(QStringLiteral("bindAddr = \"127.0.0.1\"\nbindPort = %1\nproxyBindAddr = \"127.0.0.1\"\n"
                              "auth.token = \"%2\"\n")
                   .arg(port)
                   .arg(token)
                   .toUtf8());
}

Server::~Server()
{
    stop();
}

bool Server::start()
{
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.setStandardErrorFile(QProcess::nullDevice());
    m_process.start(m_frps, { QStringLiteral("-c"), m_file });
    QElapsedTimer wait;
    wait.start();
    while (wait.elapsed() < 10000) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, quint16(m_port));
        if (probe.waitForConnected(100))
            return true;
        QTest::qWait(50); // events go on being handled meanwhile
    }
    return false;
}

void Server::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000))
        m_process.kill();
    m_process.waitForFinished(1000);
}

double timeClient(const QString &frpc, const QString &file, const std::function<bool()> &ready,
                  bool terminate)
{
    QProcess client;
    client.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    client.start(frpc, { QStringLiteral("-c"), file });
    double result = -1;
    while (clock.elapsed() < 10000) {
        if (ready()) {
            result = clock.nsecsElapsed() / 1e6;
            break;
        }
        QThread::msleep(1);
    }
    if (terminate)
        client.terminate();
    else
        client.kill();
    client.waitForFinished(3000);
    QThread::msleep(300);
    return result;
}

QString copyBesideClient(const QString &frpc, const QString &folder, const QString &name)
{
    const QString copy = folder + QLatin1Char('/') + name;
    QFile::copy(QCoreApplication::applicationFilePath(), copy);
    QFile::copy(frpc, folder + QStringLiteral("/frpc"));
    return copy;
}

ChildResult runChild(const QString &program, const QStringList &arguments, int timeoutMs, bool forward)
{
    QProcess child;
    if (forward)
        child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(program, arguments);
    if (!child.waitForFinished(timeoutMs)) {
        child.kill();
        child.waitForFinished(3000);
    }
    ChildResult result;
    if (child.exitStatus() == QProcess::NormalExit && child.error() != QProcess::FailedToStart)
        result.exitCode = child.exitCode();
    result.output = child.readAllStandardOutput();
    result.errors = child.readAllStandardError();
    return result;
}

} // namespace RealFrp
