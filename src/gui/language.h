// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>
#include <QStringList>

// The language the program speaks. The texts in the sources are Chinese ("zh"); every other language
// is a translation compiled into the resources (translations/marrowgate_<code>.ts).
namespace Language {

// The codes of the languages offered, Chinese first.
QStringList codes();
// The language's name in itself, as the selector shows it ("中文", "English").
QString nativeName(const QString &code);
bool isKnown(const QString &code);
// Speaks `code` from now on: installs its translations (the program's and, where the system has them,
// the toolkit's own) in place of those of the language before. Every widget is told through
// QEvent::LanguageChange. An unknown code means Chinese.
void apply(const QString &code);
// The language applied last ("zh" before any).
QString current();

} // namespace Language
