// SPDX-License-Identifier: Apache-2.0
#pragma once

// What the fuzz targets share: reading the input piece by piece, a private home for the files the
// program writes, and a check that ends the run with a report.

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Ends the run as a finding when cond does not hold: libFuzzer (and the replay) keep the input.
#define FUZZ_CHECK(cond, what)                                                                               \
    do {                                                                                                     \
        if (!(cond)) {                                                                                       \
            std::fprintf(stderr, "fuzz property broken: %s (%s:%d)\n", qPrintable(QString(what)), __FILE__,  \
                         __LINE__);                                                                          \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (false)

namespace FuzzSupport {

// Takes the input apart from its front: single bytes, pieces with a length byte before them, and the
// rest.
class Reader
{
public:
    Reader(const uint8_t *data, size_t size)
        : m_data(reinterpret_cast<const char *>(data))
        , m_size(size)
    { }

    bool atEnd() const { return m_pos >= m_size; }
    uint8_t byte() { return atEnd() ? 0 : uint8_t(m_data[m_pos++]); }
    // A 16-bit number; missing bytes read as 0.
    int number16()
    {
        const int high = byte();
        return high << 8 | byte();
    }
    // As many bytes as the next byte says (at most `limit`).
    QByteArray piece(int limit = 255) { return take(byte() % (limit + 1)); }
    QString text(int limit = 255) { return QString::fromUtf8(piece(limit)); }
    QByteArray take(size_t count)
    {
        const size_t n = qMin(count, m_size - qMin(m_pos, m_size));
        const QByteArray bytes(m_data + m_pos, qsizetype(n));
        m_pos += n;
        return bytes;
    }
    QByteArray rest() { return take(m_size); }

private:
    const char *m_data;
    size_t m_size;
    size_t m_pos = 0;
};

// Points the settings, the temporary and the runtime folder at a fresh private folder and gives the
// program its identity, as the program's start does. Returns that folder.
inline QString isolateUserFiles()
{
    static const QString root = [] {
        // In memory where the system offers it: the settings are synced to disk on every write.
        char name[] = "/dev/shm/marrowgate-fuzz-XXXXXX";
        char fallback[] = "/tmp/marrowgate-fuzz-XXXXXX";
        const char *made = mkdtemp(name);
        if (!made)
            made = mkdtemp(fallback);
        if (!made)
            std::abort();
        const QString path = QString::fromLocal8Bit(made);
        for (const char *folder : { "config", "tmp", "runtime" })
            QDir(path).mkpath(QString::fromLatin1(folder));
        QFile::setPermissions(path + QStringLiteral("/runtime"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("XDG_CONFIG_HOME", (path + QStringLiteral("/config")).toLocal8Bit());
        qputenv("TMPDIR", (path + QStringLiteral("/tmp")).toLocal8Bit());
        qputenv("XDG_RUNTIME_DIR", (path + QStringLiteral("/runtime")).toLocal8Bit());
        QCoreApplication::setOrganizationName(QStringLiteral("Halvorn"));
        QCoreApplication::setApplicationName(QStringLiteral("Quorvane"));
        // The log's filter hides the program's own folder, which only an application object knows.
        static int argc = 1;
        static char program[] = "marrowgate-fuzz";
        static char *argv[] = { program, nullptr };
        static QCoreApplication application(argc, argv);
        static const QString removedAtExit = path;
        std::atexit([] { QDir(removedAtExit).removeRecursively(); });
        return path;
    }();
    return root;
}

// Writes a file whole. The settings keep a file they have read in a cache checked by its size and
// time: each write gets a time of its own, so that the next read sees the new content.
inline void writeFile(const QString &path, const QByteArray &bytes)
{
    static long long generation = 1000000000;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        std::abort();
    file.close();
    ++generation;
    const struct timespec times[2] = { { generation, 0 }, { generation, 0 } };
    utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0);
}

} // namespace FuzzSupport
