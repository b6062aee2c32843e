// SPDX-License-Identifier: Apache-2.0
// What the benchmarks that run the real frp client and server share: a private folder for the
// settings, a local frps, the bare client timed until it is up, and the measuring copy of the
// benchmark with the real client beside it (the program looks for frpc beside its executable).
#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

namespace RealFrp {

// Points TMPDIR, XDG_CONFIG_HOME and XDG_RUNTIME_DIR at a temporary folder for the life of the object,
// so that a benchmark never touches the user's settings. Made before the application object.
class PrivateFolder
{
public:
    PrivateFolder();

private:
    QTemporaryDir m_dir;
};

int freePort();
// The middle value; -1 for none.
double median(QList<double> values);
// One line on standard output, flushed at once.
void say(const QString &line);

// The folder after --frp-dir on the command line; empty when the option is missing or the folder
// holds no frps.
QString frpDir(const QStringList &arguments);

// The status reply of a client's web API, asked with a blocking socket; empty when it does not answer.
QByteArray statusReply(int port, const QByteArray &credentials);

// frps on 127.0.0.1:port with the given token, until stopped or destroyed; its file is written into
// folder.
class Server
{
public:
    Server(const QString &frps, const QString &folder, int port, const QString &token);
    ~Server();
    // Starts it and waits up to 10 s until it accepts connections; false when it does not.
    bool start();
    void stop();

private:
    QString m_frps;
    QString m_file;
    int m_port;
    QProcess m_process;
};

// Starts frpc with the file and returns the milliseconds until ready() holds, asked every
// millisecond (-1 after 10 s); then ends the client (killed, or asked to end when terminate is set)
// and lets the ports settle.
double timeClient(const QString &frpc, const QString &file, const std::function<bool()> &ready,
                  bool terminate = true);

// Copies this program into folder as name, with frpc beside it; returns the copy's path.
QString copyBesideClient(const QString &frpc, const QString &folder, const QString &name);

struct ChildResult
{
    int exitCode = 1;
    QByteArray output;
    QByteArray errors;
};
// Runs program with arguments until it ends (killed after timeoutMs, -1 for no limit); its standard
// output and errors are collected, or passed through when forward is set.
ChildResult runChild(const QString &program, const QStringList &arguments, int timeoutMs,
                     bool forward = false);

} // namespace RealFrp
