// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/tunnel.h"

#include <QList>
#include <QString>
#include <QStringList>

// What the program was asked for on its command line.
struct CommandLineRequest
{
    enum Action { Run, ShowHelp, ShowVersion, Fail };

    Action action = Run;
    // With Run: the stored server to connect at start (exact name); empty for none.
    QString connectName;
    // With a connect name: the local port to publish, or 0 for the stored last port.
    int localPort = 0;
    // With a connect name: the protocol to publish, "tcp", "udp" or "tcp+udp"; empty for the last one
    // used.
    QString protocol;
    // With a connect name: every --port in order, the first being localPort. Each protocol is the
    // port's suffix, else --protocol, else empty (the first: the last one used; the others: "tcp").
    struct Tunnel
    {
        int port = 0;
        QString protocol;
    };
    QList<Tunnel> tunnels;
    // The tunnels to publish, given those the window shows (the first row first): the ports given
    // here, the first of them with the shown first protocol where none was given; without a port the
    // shown ones, the first with the protocol given.
    QList<::Tunnel> tunnelsFor(const QList<::Tunnel> &shown) const;
    // The language of this run, "zh" or "en"; empty for the one chosen in the window.
    QString language;
    // The help or version text, or the reason for Fail.
    QString text;
};

// Reads the arguments, the program's own path first. Needs no application object, so that help,
// version and errors can be answered without a display and before the single-instance guard.
CommandLineRequest parseCommandLine(const QStringList &arguments);

// The value of the language option (--lang zh, -lang=en, ...) read on its own, so that even a command
// line refused for another reason is answered in it; empty when not given.
QString languageArgument(const QStringList &arguments);

// Prints the help, the version or the error and returns the process exit code: 0 for help and
// version, 2 for a bad command line. Not for Run.
int answerCommandLine(const CommandLineRequest &request);
