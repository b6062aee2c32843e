// SPDX-License-Identifier: Apache-2.0
// The command line, as the program parses it before anything else: the arguments are the input's
// pieces between NUL bytes, the program's path first. What it asks for is always one the program can
// carry out, or a failure with its reason.
#include "core/commandline.h"
#include "core/sharecode.h"
#include "fuzzsupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QStringList arguments { QStringLiteral("/usr/bin/Marrowgate") };
    if (!bytes.isEmpty()) {
        for (const QByteArray &piece : bytes.split('\0'))
            arguments << QString::fromUtf8(piece);
    }
    const CommandLineRequest request = parseCommandLine(arguments);
    switch (request.action) {
    case CommandLineRequest::Run: {
        const auto isProtocol = [](const QString &protocol) {
            return protocol.isEmpty() || protocol == QLatin1String("tcp") || protocol == QLatin1String("udp")
                || protocol == QLatin1String("tcp+udp");
        };
        FUZZ_CHECK(request.localPort == 0 || (request.localPort >= 1 && request.localPort <= 65535),
                   QStringLiteral("port %1").arg(request.localPort));
        FUZZ_CHECK(isProtocol(request.protocol), "protocol " + request.protocol);
        FUZZ_CHECK(!request.connectName.isEmpty()
                       || (request.localPort == 0 && request.protocol.isEmpty() && request.tunnels.isEmpty()),
                   "port or protocol without a server to connect");
        // Every tunnel is one the window can hold: at most ten, each a port with a known protocol, the
        // first being the port asked for.
        FUZZ_CHECK(request.tunnels.size() <= 10, QStringLiteral("%1 tunnels").arg(request.tunnels.size()));
        FUZZ_CHECK(request.tunnels.isEmpty() || request.tunnels.first().port == request.localPort,
                   "first tunnel is not the port asked for");
        for (const CommandLineRequest::Tunnel &tunnel : request.tunnels) {
            FUZZ_CHECK(tunnel.port >= 1 && tunnel.port <= 65535,
                       QStringLiteral("tunnel port %1").arg(tunnel.port));
            FUZZ_CHECK(isProtocol(tunnel.protocol), "tunnel protocol " + tunnel.protocol);
        }
        // A code to join is one that reads; a link is at least one with the code's scheme.
        FUZZ_CHECK(request.joinCode.isEmpty() || ShareCode::fromText(request.joinCode).has_value(),
                   "join code that does not read: " + request.joinCode);
        FUZZ_CHECK(request.link.isEmpty() || ShareCode::hasScheme(request.link), "link " + request.link);
        break;
    }
    case CommandLineRequest::Fail:
    case CommandLineRequest::ShowHelp:
    case CommandLineRequest::ShowVersion:
        FUZZ_CHECK(!request.text.isEmpty(), "nothing to print");
        break;
    }
    return 0;
}
