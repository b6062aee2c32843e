// SPDX-License-Identifier: Apache-2.0
// The log dialog: what a message looks like once it is in the view (timestamp, hidden secrets), how
// the view scrolls, clearing and closing, and the two themes.
#include "gui/logwindow.h"
#include "testsupport.h"

#include <QBoxLayout>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>

namespace {

QTextEdit *logView(LogWindow &window)
{
    return window.findChild<QTextEdit *>();
}

QPushButton *button(LogWindow &window, const QString &text)
{
    for (QPushButton *b : window.findChildren<QPushButton *>()) {
        if (b->text() == text)
            return b;
    }
    return nullptr;
}

// The lines the log keeps, shown or not.
QStringList paragraphs(LogWindow &window)
{
    return window.lines();
}

// The paragraphs of the view of an open window.
QStringList shownParagraphs(LogWindow &window)
{
    QStringList lines;
    const QTextDocument *document = logView(window)->document();
    if (document->isEmpty())
        return lines;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next())
        lines.append(block.text());
    return lines;
}

// The message part of a log line, after "[yyyy-MM-dd HH:mm:ss] ".
QString messageOf(const QString &line)
{
    return line.mid(22);
}

QColor colourAt(QWidget *widget, const QPoint &pos)
{
    return widget->grab().toImage().pixelColor(pos);
}

} // namespace

class TestLogWindow : public QObject
{
    Q_OBJECT

private slots:
    void filterHidesSecrets_data();
    void filterHidesSecrets();
    void lineCarriesTimestampAndFilteredMessage();
    void messageIsShownLiterally_data();
    void messageIsShownLiterally();
    void eachMessageIsOneParagraph();
    void burstIsInTheDocumentAtOnce();
    void clearEmptiesTheView();
    void clearDuringABurstKeepsLaterLines();
    void viewShowsTheEndAndTheStartOfLines();
    void viewReturnsToTheEndForNewLines();
    void linesCollectedWhileHiddenAreShownFromTheEnd_data();
    void linesCollectedWhileHiddenAreShownFromTheEnd();
    void dialogIsBuiltAsDescribed();
    void themeColours_data();
    void themeColours();
    void closeHidesAndKeepsContent();
};

void TestLogWindow::filterHidesSecrets_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("expected");

    const QString path = QStringLiteral("[路径已隐藏]");
    const QString hidden = QStringLiteral("[已隐藏]");

    QTest::newRow("no secrets") << QStringLiteral("配置文件已生成") << QStringLiteral("配置文件已生成");
    QTest::newRow("address and port are no path")
        << QStringLiteral("连接服务器 127.0.0.1:7000, 时间 03:04:05")
        << QStringLiteral("连接服务器 127.0.0.1:7000, 时间 03:04:05");

    QTest::newRow("windows path in text")
        << QStringLiteral("配置文件: C:\\Users\\me\\AppData\\Local\\Temp\\frpc_1234.toml 已生成")
        << QStringLiteral("配置文件: ") + path + QStringLiteral(" 已生成");
    QTest::newRow("windows path in brackets")
        << QStringLiteral("start frpc service for config file [C:\\Temp\\frpc_1.toml]")
        << QStringLiteral("start frpc service for config file [") + path + QStringLiteral("]");
    QTest::newRow("forward slashes, lower-case drive")
        << QStringLiteral("open d:/frp/frpc.log;retry")
        << QStringLiteral("open ") + path + QStringLiteral(";retry");
    QTest::newRow("path ends at comma, quote, parenthesis, brace")
        << QStringLiteral("a C:\\x,b (D:\\y) {E:/z} 'F:\\w' \"G:\\v\"")
        << QStringLiteral("a %1,b (%1) {%1} '%1' \"%1\"").arg(path);
    QTest::newRow("two paths") << QStringLiteral("copy C:\\a.txt D:\\b.txt")
                               << QStringLiteral("copy %1 %1").arg(path);
    QTest::newRow("http url loses the scheme's last letter")
        << QStringLiteral("GET http://127.0.0.1:7400/api/status failed")
        << QStringLiteral("GET htt") + path + QStringLiteral(" failed");
    QTest::newRow("https url") << QStringLiteral("see https://example.com/docs")
                               << QStringLiteral("see http") + path;

    // The user's own folders are hidden with everything below them, wherever they stand.
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    QTest::newRow("client file in the runtime folder")
        << QStringLiteral("start frpc service for config file [%1/frpc_7.toml]").arg(runtime)
        << QStringLiteral("start frpc service for config file [%1]").arg(path);
    QTest::newRow("home, temporary and program folders")
        << QStringLiteral("%1/.config/a.conf;%2 %3/frpc")
               .arg(QDir::homePath(), QDir::tempPath(), QCoreApplication::applicationDirPath())
        << QStringLiteral("%1;%1 %1").arg(path);
    QTest::newRow("name that only begins like the home folder stays")
        << QDir::homePath() + QStringLiteral("x/a") << QDir::homePath() + QStringLiteral("x/a");

    QTest::newRow("token of 20 in quotes") << QStringLiteral("auth token = \"abcdefghij0123456789\"")
                                           << QStringLiteral("auth token: ") + hidden + QStringLiteral("\"");
    QTest::newRow("token of 16") << QStringLiteral("token=abcdefghij012345 ok")
                                 << QStringLiteral("token: ") + hidden + QStringLiteral(" ok");
    QTest::newRow("token of 15 stays")
        << QStringLiteral("token = \"abcdefghij01234\"") << QStringLiteral("token = \"abcdefghij01234\"");
    QTest::newRow("Token capitalised stays") << QStringLiteral("Token = \"abcdefghij0123456789\"")
                                             << QStringLiteral("Token = \"abcdefghij0123456789\"");
    QTest::newRow("TOKEN upper case stays")
        << QStringLiteral("TOKEN: abcdefghij0123456789") << QStringLiteral("TOKEN: abcdefghij0123456789");
    QTest::newRow("token in json") << QStringLiteral("{\"token\":\"a_b-c_d-e_f-g_h-i_j\"}")
                                   << QStringLiteral("{\"token: ") + hidden + QStringLiteral("\"}");
    QTest::newRow("token inside a longer word")
        << QStringLiteral("authtoken:abcdefghijklmnopqrstu") << QStringLiteral("authtoken: ") + hidden;
    QTest::newRow("token without separator stays")
        << QStringLiteral("tokenabcdefghijklmnopqrstu") << QStringLiteral("tokenabcdefghijklmnopqrstu");

    QTest::newRow("Password keeps its case")
        << QStringLiteral("Password: hunter2, next")
        << QStringLiteral("Password: ") + hidden + QStringLiteral(", next");
    QTest::newRow("PASSWD before a brace")
        << QStringLiteral("{PASSWD=s3cr3t}") << QStringLiteral("{PASSWD: ") + hidden + QStringLiteral("}");
    QTest::newRow("pwd quoted") << QStringLiteral("pwd \"abc\" rest")
                                << QStringLiteral("pwd: ") + hidden + QStringLiteral(" rest");
    QTest::newRow("mixed case password inside a word")
        << QStringLiteral("userPassWord=x]")
        << QStringLiteral("userPassWord: ") + hidden + QStringLiteral("]");

    QTest::newRow("api key of 19 stays")
        << QStringLiteral("apikey: abcdefghij012345678") << QStringLiteral("apikey: abcdefghij012345678");
    QTest::newRow("api key of 20") << QStringLiteral("apikey: abcdefghij0123456789")
                                   << QStringLiteral("apikey: ") + hidden;
    QTest::newRow("API_KEY keeps its case") << QStringLiteral("API_KEY=\"abcdefghij0123456789xyz\"")
                                            << QStringLiteral("API_KEY: ") + hidden + QStringLiteral("\"");
    QTest::newRow("Api-Key") << QStringLiteral("Api-Key abcdefghij0123456789 end")
                             << QStringLiteral("Api-Key: ") + hidden + QStringLiteral(" end");

    QTest::newRow("path is hidden before the token inside it")
        << QStringLiteral("C:\\token=abcdefghijklmnopqrstuvwxyz\\x ok") << path + QStringLiteral(" ok");
    QTest::newRow("all kinds in one line")
        << QStringLiteral("file C:\\f.toml token=abcdefghijklmnop password=x apikey=abcdefghijklmnopqrst")
        << QStringLiteral("file %1 token: %2 password: %2 apikey: %2").arg(path, hidden);
}

void TestLogWindow::filterHidesSecrets()
{
    QFETCH(QString, message);
    QFETCH(QString, expected);

    QCOMPARE(LogWindow::filterSensitiveInfo(message), expected);

    // The view shows the same text after the timestamp.
    LogWindow window;
    window.appendLog(message);
    const QStringList lines = paragraphs(window);
    QCOMPARE(lines.size(), 1);
    QCOMPARE(messageOf(lines.first()), expected);
    window.show();
    QCOMPARE(shownParagraphs(window), lines);
}

void TestLogWindow::lineCarriesTimestampAndFilteredMessage()
{
    LogWindow window;
    const QDateTime before = QDateTime::currentDateTime();
    window.appendLog(QStringLiteral("配置文件已生成"));
    const QDateTime after = QDateTime::currentDateTime();

    const QStringList lines = paragraphs(window);
    QCOMPARE(lines.size(), 1);
    static const QRegularExpression lineFormat(
        QStringLiteral(R"(^\[(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2})\] 配置文件已生成$)"));
    const QRegularExpressionMatch match = lineFormat.match(lines.first());
    QVERIFY2(match.hasMatch(), qPrintable(lines.first()));

    const QDateTime stamp = QDateTime::fromString(match.captured(1), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    QVERIFY(stamp.isValid());
    QVERIFY2(stamp.secsTo(before) <= 0 && stamp.secsTo(after) >= 0, qPrintable(match.captured(1)));
}

void TestLogWindow::messageIsShownLiterally_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("shownAs");

    const QString markup = QStringLiteral("<b>bold</b> &lt;nil&gt;");
    const QString placeholders = QStringLiteral("50%1 %2 done");
    QTest::newRow("markup") << markup << QStringList { markup };
    QTest::newRow("placeholders") << placeholders << QStringList { placeholders };
    QTest::newRow("empty") << QString() << QStringList { QString() };
    // One paragraph for each piece between line breaks, "\r\n" counting as one break.
    QTest::newRow("line breaks") << QStringLiteral("a\r\nb\rc\n\nd") + QChar(QChar::ParagraphSeparator)
            + QStringLiteral("e") << QStringList { QStringLiteral("a"), QStringLiteral("b"),
                                                   QStringLiteral("c"), QString(),
                                                   QStringLiteral("d"), QStringLiteral("e") };
}

void TestLogWindow::messageIsShownLiterally()
{
    QFETCH(QString, message);
    QFETCH(QStringList, shownAs);

    LogWindow window;
    window.appendLog(message);
    window.appendLog(QStringLiteral("next"));
    const QStringList lines = paragraphs(window);
    QCOMPARE(lines.size(), shownAs.size() + 1);
    QCOMPARE(lines.first().size(), 22 + shownAs.first().size());
    QCOMPARE(messageOf(lines.first()), shownAs.first());
    QCOMPARE(lines.mid(1, shownAs.size() - 1), shownAs.mid(1));
    QCOMPARE(messageOf(lines.last()), QStringLiteral("next"));
    window.show();
    QCOMPARE(shownParagraphs(window), lines);
}

void TestLogWindow::eachMessageIsOneParagraph()
{
    LogWindow window;
    window.appendLog(QStringLiteral("正在启动 frpc..."));
    QCoreApplication::processEvents();
    window.appendLog(QStringLiteral("配置文件: C:\\Temp\\frpc_1.toml"));
    window.appendLog(QStringLiteral("frpc 已启动"));

    const QStringList lines = paragraphs(window);
    QCOMPARE(lines.size(), 3);
    QCOMPARE(messageOf(lines.at(0)), QStringLiteral("正在启动 frpc..."));
    QCOMPARE(messageOf(lines.at(1)), QStringLiteral("配置文件: [路径已隐藏]"));
    QCOMPARE(messageOf(lines.at(2)), QStringLiteral("frpc 已启动"));
    window.show();
    QCOMPARE(logView(window)->toPlainText().count(QLatin1Char('\n')), 2);
}

void TestLogWindow::burstIsInTheDocumentAtOnce()
{
    LogWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    // No event-loop pass between the lines and the reading.
    for (int i = 0; i < 500; ++i)
        window.appendLog(QStringLiteral("line %1").arg(i));
    QStringList lines = shownParagraphs(window);
    QCOMPARE(lines.size(), 500);
    QCOMPARE(messageOf(lines.last()), QStringLiteral("line 499"));

    QCoreApplication::processEvents();
    window.appendLog(QStringLiteral("after the burst"));
    lines = shownParagraphs(window);
    QCOMPARE(lines.size(), 501);
    QCOMPARE(messageOf(lines.last()), QStringLiteral("after the burst"));
}

void TestLogWindow::clearEmptiesTheView()
{
    LogWindow window;
    window.appendLog(QStringLiteral("一"));
    window.show();
    window.appendLog(QStringLiteral("二"));
    QCoreApplication::processEvents();

    QPushButton *clearButton = button(window, QStringLiteral("清空日志"));
    QVERIFY(clearButton);
    clearButton->click();
    QVERIFY(logView(window)->toPlainText().isEmpty());
    QVERIFY(paragraphs(window).isEmpty());

    window.appendLog(QStringLiteral("三"));
    const QStringList lines = paragraphs(window);
    QCOMPARE(lines.size(), 1);
    QCOMPARE(messageOf(lines.first()), QStringLiteral("三"));
    QCOMPARE(shownParagraphs(window), lines);
}

void TestLogWindow::clearDuringABurstKeepsLaterLines()
{
    LogWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.appendLog(QStringLiteral("before"));
    window.clearLog();
    window.appendLog(QStringLiteral("after"));
    QCoreApplication::processEvents();

    QCOMPARE(paragraphs(window).size(), 1);
    QCOMPARE(messageOf(paragraphs(window).first()), QStringLiteral("after"));
    window.clearLog();
    QCoreApplication::processEvents();
    QVERIFY(logView(window)->toPlainText().isEmpty());
}

void TestLogWindow::viewShowsTheEndAndTheStartOfLines()
{
    LogWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTextEdit *view = logView(window);

    for (int i = 0; i < 300; ++i)
        window.appendLog(QStringLiteral("line %1 ").arg(i) + QString(400, QLatin1Char('x')));
    QTRY_VERIFY(view->horizontalScrollBar()->maximum() > 0);
    QTRY_VERIFY(view->verticalScrollBar()->maximum() > 0);

    QCOMPARE(view->horizontalScrollBar()->value(), 0);
    QCOMPARE(view->verticalScrollBar()->value(), view->verticalScrollBar()->maximum());
    QCOMPARE(view->lineWrapMode(), QTextEdit::NoWrap);
    QCOMPARE(view->document()->blockCount(), 300);
}

void TestLogWindow::viewReturnsToTheEndForNewLines()
{
    LogWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTextEdit *view = logView(window);
    for (int i = 0; i < 200; ++i)
        window.appendLog(QStringLiteral("line %1").arg(i));
    QTRY_VERIFY(view->verticalScrollBar()->maximum() > 0);

    // The reader scrolled to the top; a new line brings the last line into view, its start first.
    view->verticalScrollBar()->setValue(0);
    window.appendLog(QStringLiteral("the newest line ") + QString(400, QLatin1Char('y')));
    QTRY_VERIFY(view->horizontalScrollBar()->maximum() > 0);
    QCOMPARE(view->horizontalScrollBar()->value(), 0);

    // Scrolled to the right, the reader gets the start of the lines back with the next line.
    view->horizontalScrollBar()->setValue(view->horizontalScrollBar()->maximum());
    window.appendLog(QStringLiteral("one more"));
    QCoreApplication::processEvents();
    QCOMPARE(view->horizontalScrollBar()->value(), 0);

    const QRect lastLine = view->cursorRect();
    QVERIFY2(lastLine.top() >= 0 && lastLine.bottom() <= view->viewport()->height(),
             qPrintable(QStringLiteral("last line at %1..%2 of %3")
                            .arg(lastLine.top())
                            .arg(lastLine.bottom())
                            .arg(view->viewport()->height())));
}

void TestLogWindow::linesCollectedWhileHiddenAreShownFromTheEnd_data()
{
    // Lines written before the window is first opened, while it is open, and after it was closed.
    QTest::addColumn<int>("beforeOpening");
    QTest::addColumn<int>("whileOpen");
    QTest::addColumn<int>("whileClosed");

    QTest::newRow("opened and closed without new lines") << 100 << 0 << 0;
    QTest::newRow("more than the log keeps") << 10005 << 0 << 0;
    QTest::newRow("lines in every state") << 30 << 30 << 30;
    QTest::newRow("the oldest dropped while open and while closed") << 5000 << 5003 << 20;
}

void TestLogWindow::linesCollectedWhileHiddenAreShownFromTheEnd()
{
    QFETCH(int, beforeOpening);
    QFETCH(int, whileOpen);
    QFETCH(int, whileClosed);
    const auto line = [](int i) {
        return QStringLiteral("line %1 ").arg(i) + QString(300, QLatin1Char('z'));
    };

    LogWindow window;
    int total = 0;
    const auto write = [&](int count) {
        for (const int end = total + count; total < end; ++total)
            window.appendLog(line(total));
        QCoreApplication::processEvents();
    };
    write(beforeOpening);
    window.show();
    write(whileOpen);
    window.hide();
    write(whileClosed);

    // The latest lines, in order, each once, and the view shows exactly them.
    const QStringList lines = paragraphs(window);
    QCOMPARE(lines.size(), qMin(total, 10000));
    for (int i = 0; i < lines.size(); ++i)
        QCOMPARE(messageOf(lines.at(i)), line(total - int(lines.size()) + i));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(shownParagraphs(window), lines);

    QTextEdit *view = logView(window);
    QTRY_VERIFY(view->horizontalScrollBar()->maximum() > 0);
    QCOMPARE(view->horizontalScrollBar()->value(), 0);

    // Scrolled to the right, the reader gets the start of the lines back with the next line.
    view->horizontalScrollBar()->setValue(view->horizontalScrollBar()->maximum());
    window.appendLog(QStringLiteral("one more"));
    QCoreApplication::processEvents();
    QCOMPARE(view->horizontalScrollBar()->value(), 0);
    QCOMPARE(view->verticalScrollBar()->value(), view->verticalScrollBar()->maximum());
}

void TestLogWindow::dialogIsBuiltAsDescribed()
{
    LogWindow window;
    QCOMPARE(window.windowTitle(), QStringLiteral("连接日志"));
    QCOMPARE(window.size(), QSize(700, 500));
    QVERIFY(!window.isModal());
    QCOMPARE(window.metaObject()->className(), "LogWindow");

    // The view and the buttons are built when the window is first shown.
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.size(), QSize(700, 500));
    auto *mainLayout = qobject_cast<QVBoxLayout *>(window.layout());
    QVERIFY(mainLayout);
    QCOMPARE(mainLayout->contentsMargins(), QMargins(15, 15, 15, 15));
    QCOMPARE(mainLayout->spacing(), 10);

    QTextEdit *view = logView(window);
    QVERIFY(view->isReadOnly());
    QCOMPARE(view->font().pointSize(), 9);
    QCOMPARE(mainLayout->stretch(mainLayout->indexOf(view)), 1);

    QPushButton *clearButton = button(window, QStringLiteral("清空日志"));
    QPushButton *closeButton = button(window, QStringLiteral("关闭"));
    QVERIFY(clearButton && closeButton);
    // The theme's minimum height and padding make the buttons taller than 28 px; the widths stay.
    QCOMPARE(clearButton->width(), 90);
    QCOMPARE(closeButton->width(), 70);

    // The buttons sit at the right under the view, clear before close.
    QVERIFY(clearButton->geometry().right() < closeButton->geometry().left());
    QCOMPARE(closeButton->geometry().right(), window.width() - 15 - 1);
    QVERIFY(clearButton->geometry().top() > view->geometry().bottom());
}

void TestLogWindow::themeColours_data()
{
    QTest::addColumn<bool>("dark");
    QTest::addColumn<QColor>("dialogColour");
    QTest::addColumn<QColor>("viewColour");
    QTest::addColumn<QColor>("buttonColour");

    QTest::newRow("dark") << true << QColor(0x1E2636) << QColor(0x2C3546) << QColor(0x5B8DEE);
    QTest::newRow("light") << false << QColor(0xF5F6FA) << QColor(0xFFFFFF) << QColor(0x3498DB);
}

void TestLogWindow::themeColours()
{
    QFETCH(bool, dark);
    QFETCH(QColor, dialogColour);
    QFETCH(QColor, viewColour);
    QFETCH(QColor, buttonColour);

    // A new window is dark; switching to light and back must restore the dark look.
    LogWindow window;
    if (!dark)
        window.applyTheme(false);
    else {
        window.applyTheme(false);
        window.applyTheme(true);
    }
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QCOMPARE(colourAt(&window, QPoint(5, 5)), dialogColour);
    QTextEdit *view = logView(window);
    QCOMPARE(colourAt(view->viewport(), view->viewport()->rect().center()), viewColour);
    QPushButton *clearButton = button(window, QStringLiteral("清空日志"));
    QCOMPARE(colourAt(clearButton, QPoint(8, clearButton->height() / 2)), buttonColour);
}

void TestLogWindow::closeHidesAndKeepsContent()
{
    QWidget parent;
    QPointer<LogWindow> window = new LogWindow(&parent);
    window->appendLog(QStringLiteral("保留的日志"));
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));

    QPushButton *closeButton = button(*window, QStringLiteral("关闭"));
    QVERIFY(closeButton);
    closeButton->click();
    QVERIFY(!window->isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(window);
    QCOMPARE(messageOf(paragraphs(*window).value(0)), QStringLiteral("保留的日志"));

    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QCOMPARE(shownParagraphs(*window), paragraphs(*window));
}

MARROWGATE_TEST_MAIN(TestLogWindow)
#include "tst_logwindow.moc"
