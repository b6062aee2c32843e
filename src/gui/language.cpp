// SPDX-License-Identifier: Apache-2.0
// Switching the language: the translators of the program and of the toolkit.
#include "gui/language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <memory>

namespace {

const char CHINESE[] = "zh";
const char ENGLISH[] = "en";

// The translators installed now; none while the program speaks Chinese.
std::unique_ptr<QTranslator> programTranslator;
std::unique_ptr<QTranslator> toolkitTranslator;
QString currentCode = QString::fromLatin1(CHINESE);

void removeTranslator(std::unique_ptr<QTranslator> &translator)
{
    if (translator)
        QCoreApplication::removeTranslator(translator.get());
    translator.reset();
}

} // namespace

namespace Language {

QStringList codes()
{
    return { QString::fromLatin1(CHINESE), QString::fromLatin1(ENGLISH) };
}

QString nativeName(const QString &code)
{
    return code == QLatin1String(ENGLISH) ? QStringLiteral("English") : QStringLiteral("中文");
}

bool isKnown(const QString &code)
{
    return codes().contains(code);
}

void apply(const QString &requested)
{
    const QString code = isKnown(requested) ? requested : QString::fromLatin1(CHINESE);
    if (code == currentCode && (code == QLatin1String(CHINESE) || programTranslator))
        return;
    removeTranslator(programTranslator);
    removeTranslator(toolkitTranslator);
    currentCode = code;
    if (code == QLatin1String(CHINESE))
        return;

    programTranslator = std::make_unique<QTranslator>();
    if (programTranslator->load(QStringLiteral(":/i18n/marrowgate_%1.qm").arg(code)))
        QCoreApplication::installTranslator(programTranslator.get());
    // The buttons of standard boxes and the file dialogs, where the system ships the toolkit's own
    // translation.
    toolkitTranslator = std::make_unique<QTranslator>();
    if (toolkitTranslator->load(QStringLiteral("qtbase_%1").arg(code),
                                QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(toolkitTranslator.get());
}

QString current()
{
    return currentCode;
}

} // namespace Language
