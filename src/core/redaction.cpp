// SPDX-License-Identifier: Apache-2.0
// What the log hides: tokens, passwords, keys and private paths in a line before it is shown.
#include "core/redaction.h"

#include "core/platform/privatefolders.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>

namespace {

// The user's private folders with anything below them: a folder name ends at a slash, at one of the
// path pattern's stop characters or at the end of the text, so a longer name that merely begins like
// a folder stays visible. Never matches when there are no such folders.
QRegularExpression privateFolderPattern()
{
    QStringList folders = PrivateFolders::hiddenFolders();
    if (folders.isEmpty())
        return QRegularExpression(QStringLiteral("(?!)"));
    std::sort(folders.begin(), folders.end(),
              [](const QString &a, const QString &b) { return a.size() > b.size(); });
    for (QString &folder : folders)
        folder = QRegularExpression::escape(folder);
    return QRegularExpression(QStringLiteral(R"re((?:%1)(?![^/\s,;'"\]}\)])[^\s,;'"\]}\)]*)re")
                                  .arg(folders.join(QLatin1Char('|'))));
}

// The patterns of the filter, compiled once for the whole program.
struct SensitivePatterns
{
    SensitivePatterns()
    {
        folderRegex.optimize();
        pathRegex.optimize();
        tokenRegex.optimize();
        passwordRegex.optimize();
        apiKeyRegex.optimize();
    }

    const QRegularExpression folderRegex = privateFolderPattern();
    // A drive letter, a colon and a slash, up to the first blank, separator, quote or closing bracket.
    const QRegularExpression pathRegex { QStringLiteral(R"re([A-Za-z]:[/\\][^\s,;'"\]}\)]+)re") };
    const QRegularExpression tokenRegex { QStringLiteral(R"re(token["\s:=]+([a-zA-Z0-9_\-]{16,}))re") };
    const QRegularExpression passwordRegex { QStringLiteral(R"re((password|passwd|pwd)["\s:=]+[^\s,}\]]+)re"),
                                             QRegularExpression::CaseInsensitiveOption };
    const QRegularExpression apiKeyRegex { QStringLiteral(
                                               R"re((api[_-]?key|apikey)["\s:=]+([a-zA-Z0-9_\-]{20,}))re"),
                                           QRegularExpression::CaseInsensitiveOption };
};

const SensitivePatterns &sensitivePatterns()
{
    static const SensitivePatterns patterns;
    return patterns;
}

} // namespace

namespace Redaction {

QString filterSensitiveInfo(const QString &msg)
{
    const SensitivePatterns &patterns = sensitivePatterns();
    QString filtered = msg;

    filtered.replace(patterns.folderRegex, QCoreApplication::translate("Redaction", "[路径已隐藏]"));
    filtered.replace(patterns.pathRegex, QCoreApplication::translate("Redaction", "[路径已隐藏]"));
    filtered.replace(patterns.tokenRegex, QCoreApplication::translate("Redaction", "token: [已隐藏]"));
    filtered.replace(patterns.passwordRegex, QCoreApplication::translate("Redaction", "\\1: [已隐藏]"));
    filtered.replace(patterns.apiKeyRegex, QCoreApplication::translate("Redaction", "\\1: [已隐藏]"));
    return filtered;
}

QString hideSecrets(const QString &text, const QStringList &secrets)
{
    // One placeholder for every secret, made of characters none of them holds: the usual mark, or a
    // run of the first of these characters no secret holds. Chosen only when a secret is in the text.
    const auto heldByASecret = [&secrets](QChar c) {
        return std::any_of(secrets.cbegin(), secrets.cend(),
                           [c](const QString &secret) { return secret.contains(c); });
    };
    QString placeholder;
    QString hidden = text;
    for (const QString &secret : secrets) {
        if (secret.isEmpty() || !hidden.contains(secret))
            continue;
        if (placeholder.isEmpty()) {
            placeholder = QCoreApplication::translate("Redaction", "[已隐藏]");
            if (std::any_of(placeholder.cbegin(), placeholder.cend(), heldByASecret)) {
                placeholder.clear();
                for (const QChar c : QStringLiteral("*#~_?!@%^&")) {
                    if (!heldByASecret(c)) {
                        placeholder = QString(3, c);
                        break;
                    }
                }
            }
            // With no such character the text cannot be shown at all.
            if (placeholder.isEmpty())
                return QString();
        }
        hidden.replace(secret, placeholder);
    }
    return hidden;
}

} // namespace Redaction
