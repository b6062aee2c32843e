// SPDX-License-Identifier: Apache-2.0
// The whole-program benchmark: cold start to the first painted window, and resident memory.
#include "appbench.h"

#include "core/frpcmanager.h"
#include "core/platform/singleinstance.h"
#include "core/serverconfig.h"
#include "gui/logwindow.h"
#include "gui/mainwindow.h"
#include "gui/tunneltrayicon.h"

#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCursor>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QMainWindow>
#include <QMap>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSysInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTextDocumentFragment>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <QtTest/QTest>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

namespace AppBench {

// --- Cold start ----------------------------------------------------------------------------------

// Reports once the window's first paint has been completed and flushed.
void whenFirstPainted(QWidget *window, std::function<void()> done)
{
    class Watch : public QObject
    {
    public:
        Watch(QWidget *w, std::function<void()> f)
            : QObject(w)
            , m_window(w)
            , m_done(std::move(f))
        {
            w->installEventFilter(this);
        }

    protected:
        bool eventFilter(QObject *watched, QEvent *event) override
        {
            if (watched == m_window && event->type() == QEvent::Paint && m_done) {
                auto done = std::move(m_done);
                m_done = nullptr;
                QTimer::singleShot(0, this, done);
            }
            return false;
        }

    private:
        QWidget *m_window;
        std::function<void()> m_done;
    };
    new Watch(window, std::move(done));
}

// The program's own start-up, as its main function does it.
std::unique_ptr<MainWindow> startLikeTheProgram(SingleInstanceGuard &guard)
{
    guard.tryAcquire();
    QApplication::setOrganizationName(QStringLiteral("Halvorn"));
    QApplication::setApplicationName(QStringLiteral("Quorvane"));
    QApplication::setApplicationVersion(QStringLiteral("1.0.0"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/main.png")));
    auto window = std::make_unique<MainWindow>();
    window->show();
    return window;
}

int childStart(QApplication &app, const QString &kind)
{
    SingleInstanceGuard guard;
    std::unique_ptr<QWidget> window;
    if (kind.startsWith(QLatin1String("bare"))) {
        auto bare = std::make_unique<QMainWindow>();
        // "bare-text" adds one Chinese label: the cost of loading fonts, which the bare window skips.
        if (kind == QLatin1String("bare-text"))
            bare->setCentralWidget(new QLabel(QStringLiteral("本地端口")));
        else
            bare->setCentralWidget(new QWidget);
        bare->resize(750, 650);
        bare->show();
        window = std::move(bare);
    } else {
        window = startLikeTheProgram(guard);
    }
    const double builtMs = g_mainClock.nsecsElapsed() / 1e6;
    whenFirstPainted(window.get(), [&app, builtMs] {
        say(QStringLiteral("painted %1 %2 %3")
                .arg(g_appReadyMs, 0, 'f', 2)
                .arg(builtMs, 0, 'f', 2)
                .arg(g_mainClock.nsecsElapsed() / 1e6, 0, 'f', 2));
        app.exit(0);
    });
    return app.exec();
}

// One start of a child, timed from the outside, with the phases the child reports (milliseconds since
// its main function began): the application object made, the window built and shown, the first paint.
struct StartTiming
{
    double totalMs = -1;
    double appMs = 0;
    double builtMs = 0;
    double paintedMs = 0;
};

StartTiming coldStartOnce(const QString &kind)
{
    StartTiming timing;
    QProcess child;
    child.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    child.start(QCoreApplication::applicationFilePath(), { QStringLiteral("--child-start"), kind });
    QByteArray output;
    while (child.waitForReadyRead(30000)) {
        output += child.readAll();
        if (output.contains("painted") && output.endsWith('\n')) {
            timing.totalMs = clock.nsecsElapsed() / 1e6;
            break;
        }
    }
    const QList<QByteArray> parts = output.trimmed().split(' ');
    if (parts.size() == 4) {
        timing.appMs = parts.at(1).toDouble();
        timing.builtMs = parts.at(2).toDouble();
        timing.paintedMs = parts.at(3).toDouble();
    }
    if (!child.waitForFinished(10000))
        child.kill();
    return timing;
}

void measureColdStart()
{
    coldStartOnce(QStringLiteral("bare")); // warm the file cache for both
    coldStartOnce(QStringLiteral("program"));
    QList<StartTiming> bare, program, withText;
    for (int i = 0; i < kColdStartRuns; ++i) {
        bare << coldStartOnce(QStringLiteral("bare"));
        program << coldStartOnce(QStringLiteral("program"));
        withText << coldStartOnce(QStringLiteral("bare-text"));
    }
    auto medianOf = [](const QList<StartTiming> &runs, double StartTiming::*field) {
        QList<double> values;
        for (const StartTiming &run : runs)
            values << run.*field;
        return median(values);
    };
    for (const auto *runs : { &bare, &program, &withText }) {
        for (const StartTiming &run : *runs) {
            if (run.totalMs < 0) {
                say(QStringLiteral("cold start: a child did not report its first paint"));
                return;
            }
        }
    }
    // The goal compares with the bare window that holds one Chinese label: both load the CJK fonts.
    const double programMs = medianOf(program, &StartTiming::totalMs);
    const double withTextMs = medianOf(withText, &StartTiming::totalMs);
    auto spread = [](const QList<StartTiming> &runs) {
        QList<double> values;
        for (const StartTiming &run : runs)
            values << run.totalMs;
        std::sort(values.begin(), values.end());
        return QStringLiteral("%1-%2").arg(values.first(), 0, 'f', 1).arg(values.last(), 0, 'f', 1);
    };
    say(QStringLiteral("cold start to first painted window (median of %1): bare QMainWindow with one Chinese "
                       "label %2 ms (%3), Marrowgate %4 ms (%5), ratio %6 (goal <= 1.3)")
            .arg(kColdStartRuns)
            .arg(withTextMs, 0, 'f', 1)
            .arg(spread(withText))
            .arg(programMs, 0, 'f', 1)
            .arg(spread(program))
            .arg(programMs / withTextMs, 0, 'f', 2));
    say(QStringLiteral("  for reference, an empty bare QMainWindow: %1 ms (ratio %2)")
            .arg(medianOf(bare, &StartTiming::totalMs), 0, 'f', 1)
            .arg(programMs / medianOf(bare, &StartTiming::totalMs), 0, 'f', 2));
    for (const auto &[name, runs] : { std::pair { QStringLiteral("bare"), &bare },
                                      std::pair { QStringLiteral("with one label"), &withText },
                                      std::pair { QStringLiteral("Marrowgate"), &program } }) {
        const double app = medianOf(*runs, &StartTiming::appMs);
        const double built = medianOf(*runs, &StartTiming::builtMs);
        const double painted = medianOf(*runs, &StartTiming::paintedMs);
        say(QStringLiteral("  %1: to main %2 ms, application object %3 ms, window built and shown %4 ms, "
                           "first paint %5 ms")
                .arg(name)
                .arg(medianOf(*runs, &StartTiming::totalMs) - painted, 0, 'f', 1)
                .arg(app, 0, 'f', 1)
                .arg(built - app, 0, 'f', 1)
                .arg(painted - built, 0, 'f', 1));
    }
}

// --- Memory --------------------------------------------------------------------------------------

// A typical line of client output, varied a little.
QString clientLine(int i)
{
    return QStringLiteral("[frpc] 2026-01-01 12:%1:%2.%3 [I] [proxy/proxy.go:%4] [tunnel_%5] "
                          "get a user connection [127.0.0.1:%6]")
        .arg(i / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(i % 60, 2, 10, QLatin1Char('0'))
        .arg(i % 1000, 3, 10, QLatin1Char('0'))
        .arg(200 + i % 50)
        .arg(i % 7)
        .arg(40000 + i % 20000);
}

// "bare-text": the bare window with one Chinese label, measured at rest only; else the program, at rest
// and then with a full log, hidden and shown.
int childMemory(QApplication &app, const QString &kind)
{
    SingleInstanceGuard guard;
    std::unique_ptr<QWidget> window;
    if (kind == QLatin1String("bare-text")) {
        auto bare = std::make_unique<QMainWindow>();
        bare->setCentralWidget(new QLabel(QStringLiteral("本地端口")));
        bare->resize(750, 650);
        bare->show();
        window = std::move(bare);
    } else {
        window = startLikeTheProgram(guard);
    }
    whenFirstPainted(window.get(), [&] {
        spin(3000);
        say(QStringLiteral("idle_kb %1").arg(residentKb()));
        if (kind == QLatin1String("bare-text")) {
            app.exit(0);
            return;
        }

        // The lines travel the controller's own path: logMessage -> window -> log dialog.
        FrpcManager *manager = window->findChild<FrpcManager *>();
        for (int i = 0; i < kLogLines; ++i) {
            emit manager->logMessage(clientLine(i));
            if (i % 100 == 99)
                QCoreApplication::processEvents();
        }
        spin(1000);
        say(QStringLiteral("log_kb %1").arg(residentKb()));

        QTest::mouseClick(buttonWithText(window.get(), QStringLiteral("查看日志")), Qt::LeftButton);
        spin(1500);
        say(QStringLiteral("log_shown_kb %1").arg(residentKb()));
        app.exit(0);
    });
    return app.exec();
}

namespace {

// One child's readings in MB, by name; empty when it did not finish.
QMap<QString, double> memoryOnce(const QString &kind)
{
    QProcess child;
    child.setStandardErrorFile(QProcess::nullDevice());
    child.start(QCoreApplication::applicationFilePath(), { QStringLiteral("--child-memory"), kind });
    QMap<QString, double> mb;
    if (!child.waitForFinished(120000)) {
        child.kill();
        return mb;
    }
    for (const QByteArray &line : child.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() == 2)
            mb[QString::fromLatin1(parts.at(0))] = parts.at(1).toLongLong() / 1024.0;
    }
    return mb;
}

} // namespace

void measureMemory()
{
    QList<double> bareIdle, idle, log, logShown;
    for (int i = 0; i < kMemoryRuns; ++i) {
        const QMap<QString, double> bare = memoryOnce(QStringLiteral("bare-text"));
        const QMap<QString, double> program = memoryOnce(QStringLiteral("program"));
        if (!bare.contains(QStringLiteral("idle_kb")) || !program.contains(QStringLiteral("log_shown_kb"))) {
            say(QStringLiteral("resident memory: a child did not finish"));
            return;
        }
        bareIdle << bare.value(QStringLiteral("idle_kb"));
        idle << program.value(QStringLiteral("idle_kb"));
        log << program.value(QStringLiteral("log_kb"));
        logShown << program.value(QStringLiteral("log_shown_kb"));
    }
    say(QStringLiteral(
            "resident memory at rest (median of %1): bare QMainWindow with one Chinese label %2 MB "
            "(%3), Marrowgate %4 MB (%5), ratio %6 (goal <= 1.2)")
            .arg(kMemoryRuns)
            .arg(median(bareIdle), 0, 'f', 1)
            .arg(joined(bareIdle, 1))
            .arg(median(idle), 0, 'f', 1)
            .arg(joined(idle, 1))
            .arg(median(idle) / median(bareIdle), 0, 'f', 2));
    say(QStringLiteral("resident memory after %1 log lines %2 MB (+%3 MB, goal <= 3), with the log window "
                       "shown %4 MB (+%5 MB, goal <= 12)")
            .arg(kLogLines)
            .arg(median(log), 0, 'f', 1)
            .arg(median(log) - median(idle), 0, 'f', 1)
            .arg(median(logShown), 0, 'f', 1)
            .arg(median(logShown) - median(idle), 0, 'f', 1));
}

} // namespace AppBench
