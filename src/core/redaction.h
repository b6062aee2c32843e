// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>
#include <QStringList>

// Hiding what a log line must not show: the user's private folders, file paths, tokens, passwords
// and API keys. Used by the log and by the controller's error texts alike.
namespace Redaction {

// Replaces file paths, tokens, passwords and API keys in one message by placeholders.
QString filterSensitiveInfo(const QString &msg);

// Replaces every occurrence of each non-empty secret (a token, a password) in text, whatever
// surrounds it. The placeholder shares no character with any of the secrets, so no occurrence of one
// can remain or be formed anew around it, nor by the placeholder of another.
QString hideSecrets(const QString &text, const QStringList &secrets);

} // namespace Redaction
