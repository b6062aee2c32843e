// The command line, as the program parses it before anything else: the arguments are the input's
// pieces between NUL bytes, the program's path first. What it asks for is always one the program can
// carry out, or a failure with its reason.
#include "commandline.h"
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
    case CommandLineRequest::Run:
        FUZZ_CHECK(request.localPort == 0 || (request.localPort >= 1 && request.localPort <= 65535),
                   QStringLiteral("port %1").arg(request.localPort));
        FUZZ_CHECK(request.protocol.isEmpty() || request.protocol == QLatin1String("tcp")
                       || request.protocol == QLatin1String("udp"),
                   "protocol " + request.protocol);
        FUZZ_CHECK(!request.connectName.isEmpty() || (request.localPort == 0 && request.protocol.isEmpty()),
                   "port or protocol without a server to connect");
        break;
    case CommandLineRequest::Fail:
    case CommandLineRequest::ShowHelp:
    case CommandLineRequest::ShowVersion:
        FUZZ_CHECK(!request.text.isEmpty(), "nothing to print");
        break;
    }
    return 0;
}
