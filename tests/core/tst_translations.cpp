// SPDX-License-Identifier: Apache-2.0
// The translation files against the sources: lupdate brings a copy of each file up to date with the
// texts the sources hold now, and every entry of the copy must then be finished, with the placeholders
// of its source text. A text added without a translation, or one whose source is gone, fails here.
#include "coretestsupport.h"

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QXmlStreamReader>

class TestTranslations : public QObject
{
    Q_OBJECT

private slots:
    void everyTextTranslated_data();
    void everyTextTranslated();
};

void TestTranslations::everyTextTranslated_data()
{
    QTest::addColumn<QString>("tsFile");
    for (const QString &file : QStringLiteral(TS_FILES).split(u';', Qt::SkipEmptyParts))
        QTest::newRow(qPrintable(QFileInfo(file).fileName())) << file;
}

void TestTranslations::everyTextTranslated()
{
    QFETCH(QString, tsFile);
    QTemporaryDir work;
    const QString copy = work.filePath(QFileInfo(tsFile).fileName());
    QVERIFY(QFile::copy(tsFile, copy));
    QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);

    QProcess lupdate;
    lupdate.setProcessChannelMode(QProcess::MergedChannels);
    lupdate.start(QStringLiteral(LUPDATE_EXECUTABLE),
                  { QStringLiteral("-locations"), QStringLiteral("none"), QStringLiteral("-source-language"),
                    QStringLiteral("zh_CN"), QStringLiteral(SOURCE_DIR "/src"), QStringLiteral("-ts"),
                    copy });
    QVERIFY(lupdate.waitForFinished(120000));
    QVERIFY2(lupdate.exitCode() == 0, lupdate.readAll().constData());

    QFile file(copy);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    const QRegularExpression placeholder(QStringLiteral("%\\d+"));
    const QRegularExpression chinese(
        QStringLiteral("[\\x{3000}-\\x{303F}\\x{4E00}-\\x{9FFF}\\x{FF00}-\\x{FFEF}]"));
    const auto placeholders = [&placeholder](const QString &text) {
        QStringList found;
        for (auto it = placeholder.globalMatch(text); it.hasNext();)
            found << it.next().captured();
        found.sort();
        return found;
    };
    QStringList problems;
    QString context;
    QString source;
    int messages = 0;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (xml.name() == QLatin1String("source")) {
            source = xml.readElementText();
        } else if (xml.name() == QLatin1String("translation")) {
            ++messages;
            const QString type = xml.attributes().value(QLatin1String("type")).toString();
            const QString translation = xml.readElementText();
            const QString entry = context + QLatin1String(": ") + source;
            if (!type.isEmpty())
                problems << type + QLatin1String(": ") + entry;
            else if (translation.isEmpty() || chinese.match(translation).hasMatch())
                problems << QLatin1String("not translated: ") + entry;
            else if (placeholders(translation) != placeholders(source))
                problems << QLatin1String("other placeholders: ") + entry;
        }
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QVERIFY(messages > 100);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u'\n')));
}

MARROWGATE_CORE_TEST_MAIN(TestTranslations)
#include "tst_translations.moc"
