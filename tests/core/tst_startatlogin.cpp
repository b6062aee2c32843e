// SPDX-License-Identifier: Apache-2.0
#include "core/platform/startatlogin.h"
#include "coretestsupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

namespace {

const char CHILD_ARGUMENT[] = "--start-at-login";

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString execLine(const QString &entry)
{
    for (const QString &line : entry.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("Exec=")))
            return line.mid(5);
    }
    return QString();
}

QString expectedEntryPath()
{
    return qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/autostart/Marrowgate.desktop");
}

} // namespace

class TestStartAtLogin : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void execLineQuotesThePath_data();
    void execLineQuotesThePath();
    void entryIsWrittenRewrittenAndRemoved();
    void entryNamesTheRunningCopy_data();
    void entryNamesTheRunningCopy();
    void entryGoesUnderHomeWithoutXdgConfigHome();

private:
    QString runChild(const QString &program, const QString &state,
                     const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());
    void validate(const QString &path);
};

void TestStartAtLogin::init()
{
    QDir(qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/autostart")).removeRecursively();
}

// Runs a copy of this test executable that switches the login entry on or off and prints where the
// entry lives.
QString TestStartAtLogin::runChild(const QString &program, const QString &state,
                                   const QProcessEnvironment &environment)
{
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(program, { QString::fromLatin1(CHILD_ARGUMENT), state });
    if (!child.waitForFinished(30000) || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
        return QString();
    return QString::fromUtf8(child.readAllStandardOutput());
}

// Runs the freedesktop.org validator on the entry when it is installed.
void TestStartAtLogin::validate(const QString &path)
{
    const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (validator.isEmpty()) {
        qInfo("desktop-file-validate is not installed; the entry's format was not checked by it");
        return;
    }
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(validator, { path });
    QVERIFY(process.waitForFinished(30000));
    const QByteArray output = process.readAll();
    QVERIFY2(process.exitCode() == 0 && !output.contains("error"), output.constData());
}

void TestStartAtLogin::execLineQuotesThePath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("exec");

    QTest::newRow("plain") << "/opt/marrowgate/Marrowgate"
                           << "\"/opt/marrowgate/Marrowgate\"";
    QTest::newRow("spaces") << "/home/li/My Programs/Marrowgate"
                            << "\"/home/li/My Programs/Marrowgate\"";
    QTest::newRow("double quote") << "/tmp/a\"b/Marrowgate"
                                  << "\"/tmp/a\\\\\"b/Marrowgate\"";
    QTest::newRow("backslash") << "/tmp/a\\b/Marrowgate"
                               << "\"/tmp/a\\\\\\\\b/Marrowgate\"";
    QTest::newRow("dollar and backtick") << "/tmp/$HOME`id`/Marrowgate"
                                         << "\"/tmp/\\\\$HOME\\\\`id\\\\`/Marrowgate\"";
    QTest::newRow("percent") << "/tmp/100%u/Marrowgate"
                             << "\"/tmp/100%%u/Marrowgate\"";
    QTest::newRow("single quote and semicolon") << "/tmp/it's;ok/Marrowgate"
                                                << "\"/tmp/it's;ok/Marrowgate\"";
    QTest::newRow("tab and newline") << "/tmp/a\tb\nc/Marrowgate"
                                     << "\"/tmp/a\\tb\\nc/Marrowgate\"";
    QTest::newRow("chinese") << "/home/用户/程序/Marrowgate"
                             << "\"/home/用户/程序/Marrowgate\"";
}

void TestStartAtLogin::execLineQuotesThePath()
{
    QFETCH(QString, path);
    QFETCH(QString, exec);

    const QString entry = StartAtLogin::desktopEntry(path);
    QCOMPARE(execLine(entry), exec);
    const QStringList lines = entry.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.first(), QStringLiteral("[Desktop Entry]"));
    QVERIFY(lines.contains(QStringLiteral("Type=Application")));
    QVERIFY(lines.contains(QStringLiteral("Name=Marrowgate")));
}

void TestStartAtLogin::entryIsWrittenRewrittenAndRemoved()
{
    const QString path = StartAtLogin::entryPath();
    QCOMPARE(path, expectedEntryPath());
    QVERIFY2(path.startsWith(TestSupport::sandboxPath()), qPrintable(path));
    const QByteArray expected = StartAtLogin::desktopEntry(QCoreApplication::applicationFilePath()).toUtf8();

    // The autostart folder does not exist yet.
    StartAtLogin::setEnabled(true);
    QCOMPARE(readFile(path), expected);
    validate(path);

    QFile stale(path);
    QVERIFY(stale.open(QIODevice::WriteOnly | QIODevice::Truncate));
    stale.write("[Desktop Entry]\nType=Application\nName=Marrowgate\nExec=/old/place/Marrowgate\n");
    stale.close();
    StartAtLogin::setEnabled(true);
    QCOMPARE(readFile(path), expected);

    StartAtLogin::setEnabled(false);
    QVERIFY(!QFile::exists(path));
    StartAtLogin::setEnabled(false);
    QVERIFY(!QFile::exists(path));
}

void TestStartAtLogin::entryNamesTheRunningCopy_data()
{
    QTest::addColumn<QString>("folder");
    QTest::newRow("spaces") << "My Programs/Marrowgate 1.0";
    QTest::newRow("characters the Exec line escapes") << "it's \"$HOME\" `x` 100% \\ here";
}

void TestStartAtLogin::entryNamesTheRunningCopy()
{
    QFETCH(QString, folder);

    const QString copyFolder = TestSupport::sandboxPath() + QLatin1Char('/') + folder;
    const QString copy = copyFolder + QStringLiteral("/tst_startatlogin");
    QVERIFY(QDir().mkpath(copyFolder));
    QFile::remove(copy);
    QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), copy));

    QCOMPARE(runChild(copy, QStringLiteral("on")), expectedEntryPath());
    const QString entry = QString::fromUtf8(readFile(expectedEntryPath()));
    QCOMPARE(entry, StartAtLogin::desktopEntry(copy));
    QVERIFY(execLine(entry).contains(QLatin1String(" ")));
    validate(expectedEntryPath());

    QCOMPARE(runChild(copy, QStringLiteral("off")), expectedEntryPath());
    QVERIFY(!QFile::exists(expectedEntryPath()));
}

void TestStartAtLogin::entryGoesUnderHomeWithoutXdgConfigHome()
{
    const QString home = TestSupport::sandboxPath() + QStringLiteral("/home");
    QVERIFY(QDir().mkpath(home));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("XDG_CONFIG_HOME"));
    environment.insert(QStringLiteral("HOME"), home);

    const QString expected = home + QStringLiteral("/.config/autostart/Marrowgate.desktop");
    QCOMPARE(runChild(QCoreApplication::applicationFilePath(), QStringLiteral("on"), environment), expected);
    QVERIFY(QFile::exists(expected));
    QCOMPARE(runChild(QCoreApplication::applicationFilePath(), QStringLiteral("off"), environment), expected);
    QVERIFY(!QFile::exists(expected));
}

// Like MARROWGATE_TEST_MAIN, plus a child mode that switches the login entry of the running copy.
// The child inherits the parent's sandbox and refuses to run without one.
int main(int argc, char *argv[])
{
    if (argc == 3 && qstrcmp(argv[1], CHILD_ARGUMENT) == 0) {
        if (TestSupport::sandboxPath().isEmpty())
            return 4;
        QCoreApplication app(argc, argv);
        StartAtLogin::setEnabled(qstrcmp(argv[2], "on") == 0);
        QFile out;
        if (!out.open(stdout, QIODevice::WriteOnly))
            return 3;
        out.write(StartAtLogin::entryPath().toUtf8());
        return 0;
    }

    QTemporaryDir sandbox;
    if (!sandbox.isValid())
        return 1;
    TestSupport::isolateUserFiles(sandbox.path());
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Halvorn"));
    QCoreApplication::setApplicationName(QStringLiteral("Quorvane"));
    TestStartAtLogin tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_startatlogin.moc"
