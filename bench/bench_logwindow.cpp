// SPDX-License-Identifier: Apache-2.0
// Log window throughput: how fast a burst of client output reaches the screen, and what it costs in
// memory. Run with QT_QPA_PLATFORM=offscreen (the default here) or under an X server.

#include "gui/logwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QScrollBar>
#include <QStringList>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>

#include <cstdio>
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

constexpr int BURST_LINES = 10000;
constexpr int FLOOD_LINES = 100000;
constexpr int LOG_LINE_LIMIT = 10000; // the log keeps this many of the latest lines

// Resident memory of this process in KiB, from /proc (0 where it is not available). Memory freed
// earlier is handed back first, so that the difference of two readings is what the burst holds.
qint64 residentKiB()
{
#ifdef __GLIBC__
    malloc_trim(0);
#endif
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

// What a chatty client prints: start-up, logins, proxies, connections, some with paths and secrets.
QStringList clientOutput(int count)
{
    const QStringList templates = {
        QStringLiteral("2026-01-02 03:04:05.%1 [I] [sub/root.go:142] start frpc service for config file "
                       "[C:\\Users\\operator\\AppData\\Local\\Temp\\frpc_%2.toml]"),
        QStringLiteral("2026-01-02 03:04:05.%1 [I] [client/service.go:295] try to connect to server %2..."),
        QStringLiteral("2026-01-02 03:04:05.%1 [I] [client/service.go:287] [9f3c2a71b04e%2] login to server "
                       "success, get run id [9f3c2a71b04e%2]"),
        QStringLiteral("2026-01-02 03:04:05.%1 [D] [client/control.go:170] auth token = "
                       "\"Zq8rT2mW5xK9pL3vN7bY%2\" accepted"),
        QStringLiteral("2026-01-02 03:04:05.%1 [I] [proxy/proxy_manager.go:173] [9f3c2a71b04e] proxy added: "
                       "[tcp_%2]"),
        QStringLiteral("2026-01-02 03:04:05.%1 [W] [proxy/proxy.go:204] [9f3c2a71b04e] [tcp_%2] connect to "
                       "local service [127.0.0.1:8080] error: dial tcp 127.0.0.1:8080: connect: connection "
                       "refused"),
        QStringLiteral("2026-01-02 03:04:05.%1 [D] [client/admin.go:61] GET http://127.0.0.1:7400/api/status "
                       "from 127.0.0.1:%2"),
        QStringLiteral("2026-01-02 03:04:05.%1 [I] [config/load.go:88] password=\"s3cr3t-%2\", apikey: "
                       "\"A1b2C3d4E5f6G7h8I9j0K1\", file D:/frp/logs/frpc-%2.log"),
        QStringLiteral("2026-01-02 03:04:05.%1 [I] [client/control.go:168] [9f3c2a71b04e] [tcp_%2] start "
                       "proxy success"),
        QStringLiteral("[frpc] 日志 %2: 隧道已建立，远程端口 %1"),
    };
    QStringList lines;
    lines.reserve(count);
    for (int i = 0; i < count; ++i) {
        const QString &pattern = templates.at(i % templates.size());
        lines.append(pattern.arg(i % 1000, 3, 10, QLatin1Char('0')).arg(10000 + i));
    }
    return lines;
}

void showAndWait(QWidget &window)
{
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        std::fprintf(stderr, "window not exposed\n");
}

void settle(QWidget &window)
{
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    window.repaint();
}

struct BurstResult
{
    double appendMs = 0;
    double onScreenMs = 0;
    qint64 memoryKiB = 0;
};

// One burst appended without returning to the event loop, then brought to the screen. The log holds
// `earlierLines` lines before the burst.
BurstResult runBurst(const QStringList &lines, int earlierLines)
{
    LogWindow window;
    showAndWait(window);
    for (int i = 0; i < earlierLines; ++i)
        window.appendLog(QStringLiteral("开始连接... %1").arg(i));
    settle(window);

    const qint64 rssBefore = residentKiB();
    QElapsedTimer timer;
    timer.start();
    for (const QString &line : lines)
        window.appendLog(line);
    BurstResult result;
    result.appendMs = timer.nsecsElapsed() / 1e6;
    settle(window);
    result.onScreenMs = timer.nsecsElapsed() / 1e6;
    result.memoryKiB = residentKiB() - rssBefore;

    // The view must show the end of the log and the start of the lines, and stay there.
    auto *view = window.findChild<QTextEdit *>();
    QTest::qWait(100);
    const QScrollBar *vBar = view->verticalScrollBar();
    if (view->document()->blockCount() != qMin(lines.size() + earlierLines, LOG_LINE_LIMIT)
        || view->horizontalScrollBar()->value() != 0 || vBar->value() != vBar->maximum()) {
        std::fprintf(stderr, "unexpected view state: %d paragraphs, horizontal %d, vertical %d of %d\n",
                     view->document()->blockCount(), view->horizontalScrollBar()->value(), vBar->value(),
                     vBar->maximum());
    }
    return result;
}

// The same lines arriving in small groups, each group handled (and painted) in its own event-loop pass.
double runTrickle(const QStringList &lines, int groupSize)
{
    LogWindow window;
    showAndWait(window);
    settle(window);

    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < lines.size(); ++i) {
        window.appendLog(lines.at(i));
        if ((i + 1) % groupSize == 0)
            QCoreApplication::processEvents();
    }
    settle(window);
    return timer.nsecsElapsed() / 1e6;
}

// Closing and reopening a long log the way the main window does: the theme is applied on each show.
double runReopen(const QStringList &lines)
{
    LogWindow window;
    showAndWait(window);
    for (const QString &line : lines)
        window.appendLog(line);
    settle(window);
    window.hide();
    QCoreApplication::processEvents();

    QElapsedTimer timer;
    timer.start();
    window.applyTheme(true);
    window.show();
    window.raise();
    window.activateWindow();
    settle(window);
    return timer.nsecsElapsed() / 1e6;
}

struct KeptResult
{
    qint64 firstLineKiB = 0;
    qint64 hiddenKiB = 0;
    qint64 shownKiB = 0;
    double openMs = 0;
};

// What a full log costs while the window is hidden and once it is opened: the lines arrive in small
// groups, as a client writes them. The first line is measured apart: it sets up the redaction once.
KeptResult runKept(const QStringList &lines)
{
    KeptResult result;
    LogWindow window;
    QCoreApplication::processEvents();
    const qint64 empty = residentKiB();
    window.appendLog(lines.first());
    QCoreApplication::processEvents();
    const qint64 oneLine = residentKiB();
    result.firstLineKiB = oneLine - empty;
    for (int i = 1; i < lines.size(); ++i) {
        window.appendLog(lines.at(i));
        if (i % 20 == 0)
            QCoreApplication::processEvents();
    }
    QCoreApplication::processEvents();
    result.hiddenKiB = residentKiB() - oneLine;

    QElapsedTimer timer;
    timer.start();
    showAndWait(window);
    settle(window);
    result.openMs = timer.nsecsElapsed() / 1e6;
    QTest::qWait(200);
    result.shownKiB = residentKiB() - oneLine;
    if (window.lines().size() != qMin(int(lines.size()), LOG_LINE_LIMIT))
        std::fprintf(stderr, "the log keeps %d lines\n", int(window.lines().size()));
    return result;
}

// The same lines written into the open window, each group painted.
qint64 runKeptWhileOpen(const QStringList &lines)
{
    LogWindow window;
    showAndWait(window);
    window.appendLog(lines.first());
    settle(window);
    const qint64 oneLine = residentKiB();
    for (int i = 1; i < lines.size(); ++i) {
        window.appendLog(lines.at(i));
        if (i % 20 == 0) {
            QCoreApplication::processEvents();
            window.repaint();
        }
    }
    settle(window);
    return residentKiB() - oneLine;
}

// For comparison: a plain text view fed one line at a time with append() and a scroll per line.
double runPlainAppend(const QStringList &lines)
{
    QTextEdit view;
    view.setReadOnly(true);
    view.setLineWrapMode(QTextEdit::NoWrap);
    view.setFont(QFont(QStringLiteral("Consolas"), 9));
    view.resize(670, 420);
    showAndWait(view);
    settle(view);

    QElapsedTimer timer;
    timer.start();
    for (const QString &line : lines) {
        view.append(QStringLiteral("[2026-01-02 03:04:05] ") + LogWindow::filterSensitiveInfo(line));
        QTextCursor cursor = view.textCursor();
        cursor.movePosition(QTextCursor::End);
        view.setTextCursor(cursor);
        view.horizontalScrollBar()->setValue(0);
    }
    settle(view);
    return timer.nsecsElapsed() / 1e6;
}

double runFilterOnly(const QStringList &lines)
{
    QElapsedTimer timer;
    timer.start();
    qsizetype total = 0;
    for (const QString &line : lines)
        total += LogWindow::filterSensitiveInfo(line).size();
    const double ms = timer.nsecsElapsed() / 1e6;
    if (total == 0)
        std::fprintf(stderr, "filter produced nothing\n");
    return ms;
}

struct FloodResult
{
    qint64 memoryAtLimitKiB = 0;
    qint64 memoryAfterFloodKiB = 0;
    double burstMs = 0;
};

// A client that writes without end (every visit to a tunnel whose local port is closed makes a line):
// output arrives in groups, each handled in its own event-loop pass, first up to the log's line limit,
// then ten times as much. Then one burst of the whole flood at once, until painted.
FloodResult runFlood(const QStringList &lines)
{
    FloodResult result;
    {
        LogWindow window;
        showAndWait(window);
        const int groupSize = 500;
        for (int i = 0; i < lines.size(); ++i) {
            window.appendLog(lines.at(i));
            if ((i + 1) % groupSize == 0)
                QCoreApplication::processEvents();
            if (i + 1 == LOG_LINE_LIMIT) {
                settle(window);
                result.memoryAtLimitKiB = residentKiB();
            }
        }
        settle(window);
        result.memoryAfterFloodKiB = residentKiB();
        const int kept = window.findChild<QTextEdit *>()->document()->blockCount();
        if (kept != LOG_LINE_LIMIT)
            std::fprintf(stderr, "the log holds %d lines after the flood\n", kept);
    }
    {
        LogWindow window;
        showAndWait(window);
        settle(window);
        QElapsedTimer timer;
        timer.start();
        for (const QString &line : lines)
            window.appendLog(line);
        settle(window);
        result.burstMs = timer.nsecsElapsed() / 1e6;
    }
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    const QStringList lines = clientOutput(BURST_LINES);
    runBurst(clientOutput(200), 200); // warm up fonts, style sheets and the expressions

    const double filterMs = runFilterOnly(lines);
    std::printf("filter only:                %8.1f ms for %d lines (%.2f us a line)\n", filterMs, BURST_LINES,
                filterMs * 1000.0 / BURST_LINES);

    const auto reportBurst = [&lines](const char *what, int earlierLines) {
        const BurstResult burst = runBurst(lines, earlierLines);
        std::printf("%s: appended in %.1f ms, on screen after %.1f ms (goal 500 ms), %.0f lines/s, "
                    "memory held %lld KiB (%.0f bytes a line)\n",
                    what, burst.appendMs, burst.onScreenMs, BURST_LINES * 1000.0 / burst.onScreenMs,
                    static_cast<long long>(burst.memoryKiB), burst.memoryKiB * 1024.0 / BURST_LINES);
    };
    reportBurst("burst of 10000 lines into a log of 200 lines", 200);
    reportBurst("burst of 10000 lines into an empty log     ", 0);

    const double trickleMs = runTrickle(lines, 20);
    std::printf("groups of 20 lines:         %8.1f ms, %.0f lines/s\n", trickleMs,
                BURST_LINES * 1000.0 / trickleMs);

    const KeptResult kept = runKept(lines);
    std::printf("a full log of %d lines in groups of 20: %.1f MB while hidden (goal 3 MB), %.1f MB once "
                "opened (goal 12 MB), opened in %.1f ms; the first line %.1f MB\n",
                BURST_LINES, kept.hiddenKiB / 1024.0, kept.shownKiB / 1024.0, kept.openMs,
                kept.firstLineKiB / 1024.0);

    const qint64 whileOpenKiB = runKeptWhileOpen(lines);
    std::printf("the same lines written into the open window: %.1f MB (goal 12 MB)\n", whileOpenKiB / 1024.0);

    const double reopenMs = runReopen(lines);
    std::printf("reopening a log of %d lines: %.1f ms\n", BURST_LINES, reopenMs);

    const FloodResult flood = runFlood(clientOutput(FLOOD_LINES));
    std::printf("resident memory after %d lines: %.1f MB, after %d lines: %.1f MB (goal: within 5 MB)\n",
                LOG_LINE_LIMIT, flood.memoryAtLimitKiB / 1024.0, FLOOD_LINES,
                flood.memoryAfterFloodKiB / 1024.0);
    std::printf("burst of %d lines until painted: %.0f ms (%.0f lines/s)\n", FLOOD_LINES, flood.burstMs,
                FLOOD_LINES * 1000.0 / flood.burstMs);

    if (app.arguments().contains(QStringLiteral("--compare"))) {
        const double plainMs = runPlainAppend(lines);
        std::printf("plain append per line:      %8.1f ms, %.0f lines/s\n", plainMs,
                    BURST_LINES * 1000.0 / plainMs);
    }
    return 0;
}
