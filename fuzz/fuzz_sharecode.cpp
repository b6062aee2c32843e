// SPDX-License-Identifier: Apache-2.0
// A share code, as a friend pastes it or a link hands it over. The first byte chooses: a text read as a
// code (anything, refused with a reason or read into fields a code can carry, which write back as the
// same code), or fields made into a code (which, when written, read back as the same fields).
#include "core/sharecode.h"
#include "fuzzsupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzSupport::Reader input(data, size);
    if (input.byte() % 2 == 0) {
        const QString text = QString::fromUtf8(input.rest());
        QString error;
        const std::optional<ShareCode> code = ShareCode::fromText(text, &error);
        if (!code) {
            FUZZ_CHECK(!error.isEmpty(), "refused without a reason");
            return 0;
        }
        const QString written = code->toText();
        FUZZ_CHECK(!written.isEmpty(), "a code read cannot be written: " + text);
        FUZZ_CHECK(written.size() <= ShareCode::MAX_TEXT_LENGTH, "written code too long");
        FUZZ_CHECK(ShareCode::fromText(written) == code, "written code reads back otherwise: " + written);
        return 0;
    }
    ShareCode code;
    code.builtInServer = input.byte() % 2;
    code.serverAddr = input.text(80);
    code.serverPort = input.number16();
    code.token = input.text(80);
    code.name = input.text(80);
    code.protocol = Tunnel::Protocol(input.byte() % 3);
    code.secretKey = input.text(80);
    code.hostPort = input.number16();
    code.label = input.text(60);
    if (code.builtInServer) {
        code.serverAddr.clear();
        code.serverPort = 0;
        code.token.clear();
    }
    const QString text = code.toText();
    if (text.isEmpty())
        return 0;
    FUZZ_CHECK(text.size() <= ShareCode::MAX_TEXT_LENGTH, "code too long");
    QString error;
    FUZZ_CHECK(ShareCode::fromText(text, &error) == code, "code reads back otherwise: " + error);
    return 0;
}
