// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>
#include <QStringList>

// The console the program was started from, one implementation per system.

// The program's arguments as the user typed them, read before any application object exists.
QStringList commandLineArguments(int argc, char *argv[]);
// Writes text to the standard output or error stream the program was started with.
void writeToConsole(const QString &text, bool toError);
