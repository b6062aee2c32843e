// SPDX-License-Identifier: Apache-2.0
// The client's output, cut into arbitrary reads on its two channels, going through the whole-line
// buffer, the log text and the judging of each line, as the controller reads it. The token and the
// web API's password of the client file never appear in what the controller logs or shows, whatever
// surrounds them and however the reads cut them; nor after the log window's own filter, for secrets
// that share no character with the marks that filter writes.
#include "core/clientoutput.h"
#include "core/redaction.h"
#include "fuzzsupport.h"

namespace {

struct Channel
{
    QByteArray pending;
    bool onStandardError;
};

void checkHidden(const QString &shown, const QStringList &secrets)
{
    // The marks the log window's filter writes: a secret made of none of their characters cannot be
    // formed by it.
    static const QString marks = QStringLiteral("token: [路径已隐藏]");
    for (const QString &secret : secrets) {
        if (secret.isEmpty())
            continue;
        FUZZ_CHECK(!shown.contains(secret), "secret shown: " + shown);
        const bool sharesMark
            = std::any_of(secret.cbegin(), secret.cend(), [](QChar c) { return marks.contains(c); });
        if (!sharesMark)
            FUZZ_CHECK(!Redaction::filterSensitiveInfo(shown).contains(secret), "secret shown by the filter");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzSupport::isolateUserFiles();
    FuzzSupport::Reader input(data, size);
    const QStringList secrets { input.text(63), input.text(63) };
    // Each read: the channel, and up to 255 bytes.
    Channel channels[2] = { { {}, false }, { {}, true } };
    QString lastErrorLine;
    const auto readLines = [&](Channel &channel, const QByteArray &bytes, bool ended) {
        const qsizetype before = channel.pending.size() + bytes.size();
        const QStringList lines = ClientOutput::takeLines(channel.pending, bytes, ended);
        FUZZ_CHECK(channel.pending.size() <= before, "the pending text grew");
        FUZZ_CHECK(channel.pending.size() < ClientOutput::MAX_PENDING_LINE, "the pending text is unbounded");
        FUZZ_CHECK(!channel.pending.contains('\n'), "a whole line stayed pending");
        if (ended)
            FUZZ_CHECK(channel.pending.isEmpty(), "an ended client's last words stayed pending");
        for (const QString &line : lines) {
            FUZZ_CHECK(!line.contains(QLatin1Char('\n')) && !line.isEmpty(), "not one line: " + line);
            checkHidden(ClientOutput::logText(line, channel.onStandardError, secrets), secrets);
        }
        const ClientOutput::Verdict verdict = ClientOutput::judge(lines, channel.onStandardError);
        if (!verdict.errorLine.isEmpty())
            lastErrorLine = verdict.errorLine;
    };
    while (!input.atEnd()) {
        const uint8_t head = input.byte();
        readLines(channels[head & 1], input.take(head >> 1), false);
    }
    readLines(channels[0], {}, true);
    readLines(channels[1], {}, true);
    // The reason shown when the client failed to start, as the controller words it.
    checkHidden(Redaction::hideSecrets(Redaction::filterSensitiveInfo(lastErrorLine), secrets), secrets);
    return 0;
}
