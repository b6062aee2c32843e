// SPDX-License-Identifier: Apache-2.0
// The command line on Linux: the arguments in the locale's encoding, answers to the terminal.
#include "core/platform/console.h"

#include <cstdio>

QStringList commandLineArguments(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

void writeToConsole(const QString &text, bool toError)
{
    FILE *stream = toError ? stderr : stdout;
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}
