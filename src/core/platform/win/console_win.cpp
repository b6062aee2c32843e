// SPDX-License-Identifier: Apache-2.0
// The command line on Windows: the arguments in UTF-16 from the system.
#include "core/platform/console.h"

#include <windows.h>

#include <shellapi.h>

// The arguments in UTF-16 from the system, not argv in the ANSI code page, so that server names in
// any script arrive intact.
QStringList commandLineArguments(int, char *[])
{
    QStringList arguments;
    int count = 0;
    if (LPWSTR *argv = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 0; i < count; ++i)
            arguments << QString::fromWCharArray(argv[i]);
        LocalFree(argv);
    }
    return arguments;
}

// A GUI program has no console of its own: write to the console of the command prompt that started
// it, or to a redirected stream, and to nothing when there is neither.
void writeToConsole(const QString &text, bool toError)
{
    const DWORD which = toError ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE;
    HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        if (!AttachConsole(ATTACH_PARENT_PROCESS))
            return;
        handle = GetStdHandle(which);
        if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
            return;
    }
    DWORD written = 0;
    if (GetFileType(handle) == FILE_TYPE_CHAR) {
        WriteConsoleW(handle, reinterpret_cast<const wchar_t *>(text.utf16()), DWORD(text.size()), &written,
                      nullptr);
    } else {
        const QByteArray bytes = text.toUtf8();
        WriteFile(handle, bytes.constData(), DWORD(bytes.size()), &written, nullptr);
    }
}
