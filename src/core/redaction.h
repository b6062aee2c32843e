#pragma once

#include <QString>

// Hiding what a log line must not show: the user's private folders, file paths, tokens, passwords
// and API keys. Used by the log and by the controller's error texts alike.
namespace Redaction {

// Replaces file paths, tokens, passwords and API keys in one message by placeholders.
QString filterSensitiveInfo(const QString &msg);

} // namespace Redaction
