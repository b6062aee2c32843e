// Figures of the whole program, measured in one run through the real window:
//   - cold start to the first painted main window, as a ratio to a bare QMainWindow of the same size;
//   - a click on "连接" until "address:port" is shown, and a click on "断开" until "未连接" is shown,
//     with the fake client beside this program and, when the real frpc and frps are at hand, the real one;
//   - timer wake-ups per second while stopped and while a tunnel runs;
//   - resident memory at idle and after 10,000 log lines.
//
// Run it from the build's tests folder, beside the fake frpc, under an X server for figures that match
// a desktop:
//     xvfb-run -a -s "-screen 0 1280x1024x24" build/tests/bench_app [--frp-dir <folder with frpc, frps>]
// The real client is looked for in --frp-dir, else in $MARROWGATE_FRP_DIR, else in <build>/frp.
//
// With --screenshots <folder> it drives the window through its states instead and saves pictures of the
// main window (light and dark), the connected state, the edit dialog, the log window, the server
// list's context menu, a UDP tunnel with the protocol selector and the tray's menu.
//
// Settings and the client configuration file go to a private folder: the user's own are not touched.
// Starting a tunnel ends every frpc process of the user, as the program does.

#include "frpcmanager.h"
#include "logwindow.h"
#include "mainwindow.h"
#include "serverconfig.h"
#include "singleinstance.h"
#include "trayicon.h"

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

namespace {

const int kColdStartRuns = 15;
const int kConnectRounds = 3;
const int kLogLines = 10000;
const int kWakeupSeconds = 10;

// Started first thing in main: the phases of a start are measured from it.
QElapsedTimer g_mainClock;
double g_appReadyMs = 0;

// The demonstration servers every mode puts into the store (addresses from the documentation ranges).
struct DemoServer
{
    const char *name;
    const char *address;
    int port;
};
const DemoServer kDemoServers[] = {
    { "香港节点", "203.0.113.10", 7000 },
    { "东京节点", "198.51.100.24", 7000 },
    { "家里的服务器", "frp.example.com", 7100 },
};
const int kDemoIndex = 1; // the first demonstration server; index 0 is the built-in entry

void say(const QString &line)
{
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

double median(QList<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const int n = int(values.size());
    return n % 2 ? values.at(n / 2) : (values.at(n / 2 - 1) + values.at(n / 2)) / 2;
}

QString joined(const QList<double> &values, int precision = 0)
{
    QStringList parts;
    for (double v : values)
        parts << QString::number(v, 'f', precision);
    return parts.join(QStringLiteral(" / "));
}

// Resident memory of this process in kB, from /proc; -1 where there is no /proc.
qint64 residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    // Files under /proc report a size of 0, so the text is read whole rather than line by line to end.
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

QString machineDescription()
{
    QString cpu;
    QFile info(QStringLiteral("/proc/cpuinfo"));
    if (info.open(QIODevice::ReadOnly | QIODevice::Text)) {
        while (!info.atEnd()) {
            const QString line = QString::fromUtf8(info.readLine());
            if (line.startsWith(QLatin1String("model name"))) {
                cpu = line.section(QLatin1Char(':'), 1).simplified();
                break;
            }
        }
    }
    return QStringLiteral("%1, %2 logical cores, %3, kernel %4, Qt %5, platform %6")
        .arg(cpu.isEmpty() ? QSysInfo::currentCpuArchitecture() : cpu)
        .arg(QThread::idealThreadCount())
        .arg(QSysInfo::prettyProductName(), QSysInfo::kernelVersion(), QString::fromLatin1(qVersion()),
             QGuiApplication::platformName());
}

// Runs the event loop for ms milliseconds.
void spin(int ms, QTimer *timer = nullptr)
{
    QTimer local;
    QTimer *t = timer ? timer : &local;
    QEventLoop loop;
    t->setSingleShot(true);
    QObject::connect(t, &QTimer::timeout, &loop, &QEventLoop::quit);
    t->start(ms);
    loop.exec();
    QObject::disconnect(t, nullptr, &loop, nullptr);
}

// Fills the store with the demonstration servers unless they are there already.
void prepareStore()
{
    ServerConfigManager &store = ServerConfigManager::instance();
    if (store.getConfigs().size() > 1)
        return;
    for (const DemoServer &demo : kDemoServers) {
        ServerConfig config;
        config.name = QString::fromUtf8(demo.name);
        config.serverAddr = QString::fromLatin1(demo.address);
        config.serverPort = demo.port;
        config.token = QStringLiteral("demo-token");
        store.addConfig(config);
    }
}

// --- Finding things in the real window ------------------------------------------------------------

QLabel *statusLabel(QWidget *window)
{
    for (QLabel *label : window->findChildren<QLabel *>()) {
        if (label->text().startsWith(QStringLiteral("连接状态")))
            return label;
    }
    return nullptr;
}

QPushButton *buttonWithText(QWidget *root, const QString &text)
{
    for (QPushButton *button : root->findChildren<QPushButton *>()) {
        if (button->text() == text)
            return button;
    }
    return nullptr;
}

// The button with the given caption on the card of one server.
QPushButton *cardButton(QWidget *window, int index, const QString &caption)
{
    for (ServerCardWidget *card : window->findChildren<ServerCardWidget *>()) {
        if (card->getIndex() == index && card->isVisible()) {
            if (QPushButton *button = buttonWithText(card, caption))
                return button;
        }
    }
    return nullptr;
}

// Notes when a label is first painted showing a text, so that "shown" means painted, not merely set.
class PaintWatch : public QObject
{
public:
    PaintWatch(QLabel *label, const QString &text)
        : m_label(label)
        , m_text(text)
    {
        label->installEventFilter(this);
        m_clock.start();
    }
    qint64 shownNs() const { return m_shownNs; }
    qint64 nowNs() const { return m_clock.nsecsElapsed(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (m_shownNs < 0 && watched == m_label && event->type() == QEvent::Paint
            && m_label->text().contains(m_text))
            m_shownNs = m_clock.nsecsElapsed();
        return false;
    }

private:
    QLabel *m_label;
    QString m_text;
    QElapsedTimer m_clock;
    qint64 m_shownNs = -1;
};

// Closes any message box that turns up (it would block the measurement in its own event loop) and
// keeps its text.
class BoxWatchdog : public QObject
{
public:
    BoxWatchdog()
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                m_text = box->windowTitle() + QStringLiteral(": ") + box->text();
                box->close();
            }
        });
        m_timer.start(200);
    }
    QString text() const { return m_text; }

private:
    QTimer m_timer;
    QString m_text;
};

// Clicks a button and returns the milliseconds until the status line shows text and has been painted
// with it; -1 on time-out or when a message box turned up (its text goes to problem).
double clickUntilShown(QPushButton *button, QLabel *status, const QString &text, QString *problem = nullptr,
                       int timeoutMs = 30000)
{
    BoxWatchdog watchdog;
    PaintWatch watch(status, text);
    const qint64 start = watch.nowNs();
    QTest::mouseClick(button, Qt::LeftButton);
    while ((watch.nowNs() - start) / 1000000 < timeoutMs && watchdog.text().isEmpty()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (watch.shownNs() >= 0)
            return (watch.shownNs() - start) / 1e6;
        QThread::usleep(200);
    }
    if (problem)
        *problem = watchdog.text().isEmpty()
            ? QStringLiteral("\"%1\" was never shown (status line: %2)").arg(text, status->text())
            : QStringLiteral("a message box turned up: ") + watchdog.text();
    return -1;
}

// Counts timer events delivered anywhere in the application, by receiver.
class TimerCounter : public QObject
{
public:
    explicit TimerCounter(QObject *ignored)
        : m_ignored(ignored)
    {
        qApp->installEventFilter(this);
    }
    ~TimerCounter() override { qApp->removeEventFilter(this); }

    int total() const
    {
        int sum = 0;
        for (int n : m_byReceiver)
            sum += n;
        return sum;
    }
    QString breakdown(double seconds) const
    {
        QStringList parts;
        for (auto it = m_byReceiver.cbegin(); it != m_byReceiver.cend(); ++it)
            parts << QStringLiteral("%1 %2/s").arg(it.key()).arg(it.value() / seconds, 0, 'f', 2);
        return parts.isEmpty() ? QStringLiteral("none") : parts.join(QStringLiteral(", "));
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if ((event->type() == QEvent::Timer || event->type() == QEvent::ZeroTimerEvent)
            && watched != m_ignored) {
            QString name = QString::fromLatin1(watched->metaObject()->className());
            if (QObject *parent = watched->parent())
                name += QStringLiteral(" in ") + QString::fromLatin1(parent->metaObject()->className());
            ++m_byReceiver[name];
        }
        return false;
    }

private:
    QObject *m_ignored;
    QMap<QString, int> m_byReceiver;
};

// Whether the counter sees timer events at all: a 100 ms timer over one second must be counted.
bool timerCounterWorks()
{
    QTimer measuring;
    TimerCounter counter(&measuring);
    QTimer ticking;
    ticking.start(100);
    spin(1050, &measuring);
    return counter.total() >= 9;
}

QString wakeups(int seconds)
{
    QTimer measuring;
    TimerCounter counter(&measuring);
    spin(seconds * 1000, &measuring);
    return QStringLiteral("%1/s (%2)")
        .arg(counter.total() / double(seconds), 0, 'f', 2)
        .arg(counter.breakdown(seconds));
}

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
    const double ratio = medianOf(program, &StartTiming::totalMs) / medianOf(bare, &StartTiming::totalMs);
    say(QStringLiteral("cold start to first painted window (median of %1): bare QMainWindow %2 ms, "
                       "Marrowgate %3 ms, ratio %4 (goal <= 1.3)")
            .arg(kColdStartRuns)
            .arg(medianOf(bare, &StartTiming::totalMs), 0, 'f', 1)
            .arg(medianOf(program, &StartTiming::totalMs), 0, 'f', 1)
            .arg(ratio, 0, 'f', 2));
    say(QStringLiteral("  for reference, a bare QMainWindow with one Chinese label: %1 ms (ratio %2)")
            .arg(medianOf(withText, &StartTiming::totalMs), 0, 'f', 1)
            .arg(medianOf(program, &StartTiming::totalMs) / medianOf(withText, &StartTiming::totalMs), 0, 'f',
                 2));
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

int childMemory(QApplication &app)
{
    SingleInstanceGuard guard;
    auto window = startLikeTheProgram(guard);
    whenFirstPainted(window.get(), [&] {
        spin(3000);
        say(QStringLiteral("idle_kb %1").arg(residentKb()));

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

void measureMemory()
{
    QProcess child;
    child.setStandardErrorFile(QProcess::nullDevice());
    child.start(QCoreApplication::applicationFilePath(), { QStringLiteral("--child-memory") });
    if (!child.waitForFinished(120000)) {
        child.kill();
        say(QStringLiteral("resident memory: the child did not finish"));
        return;
    }
    QMap<QString, double> mb;
    for (const QByteArray &line : child.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() == 2)
            mb[QString::fromLatin1(parts.at(0))] = parts.at(1).toLongLong() / 1024.0;
    }
    say(QStringLiteral("resident memory: idle %1 MB (goal <= 60 MB), after %2 log lines %3 MB, "
                       "with the log window shown %4 MB")
            .arg(mb.value(QStringLiteral("idle_kb")), 0, 'f', 1)
            .arg(kLogLines)
            .arg(mb.value(QStringLiteral("log_kb")), 0, 'f', 1)
            .arg(mb.value(QStringLiteral("log_shown_kb")), 0, 'f', 1));
}

// --- Connecting through the window ---------------------------------------------------------------

struct ConnectionFigures
{
    QList<double> connectMs;
    QList<double> disconnectMs;
    QString stoppedWakeups;
    QString runningWakeups;
    QString problem;
};

// Clicks "连接" and "断开" on the card of one server in rounds; optionally counts wake-ups while
// stopped and while running.
ConnectionFigures connectRounds(int index, const QString &shownAddress, bool countWakeups)
{
    ConnectionFigures figures;
    MainWindow window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        figures.problem = QStringLiteral("the window was not shown");
        return figures;
    }
    spin(1000);
    QLabel *status = statusLabel(&window);
    if (countWakeups && !timerCounterWorks()) {
        figures.problem = QStringLiteral("the timer counter does not see timer events");
        return figures;
    }
    if (countWakeups)
        figures.stoppedWakeups = wakeups(kWakeupSeconds);

    for (int round = 0; round < kConnectRounds; ++round) {
        QPushButton *connectButton = cardButton(&window, index, QStringLiteral("连接"));
        if (!connectButton || !status) {
            figures.problem = QStringLiteral("no \"连接\" button on the card");
            return figures;
        }
        const double up = clickUntilShown(connectButton, status, shownAddress, &figures.problem);
        if (up < 0)
            return figures;
        figures.connectMs << up;
        if (countWakeups && round == 0)
            figures.runningWakeups = wakeups(kWakeupSeconds);
        else
            spin(500);

        QPushButton *disconnectButton = cardButton(&window, index, QStringLiteral("断开"));
        if (!disconnectButton) {
            figures.problem = QStringLiteral("no \"断开\" button on the connected card");
            return figures;
        }
        const double down
            = clickUntilShown(disconnectButton, status, QStringLiteral("未连接"), &figures.problem);
        if (down < 0)
            return figures;
        figures.disconnectMs << down;
        spin(500);
    }
    return figures;
}

void reportConnection(const QString &client, const ConnectionFigures &figures, const QString &address)
{
    if (!figures.problem.isEmpty()) {
        say(QStringLiteral("connection with the %1 client: %2").arg(client, figures.problem));
        return;
    }
    say(QStringLiteral("click on \"连接\" to \"%1\" shown, %2 client: %3 ms (median %4 ms; goal <= 300 ms)")
            .arg(address, client, joined(figures.connectMs))
            .arg(median(figures.connectMs), 0, 'f', 0));
    say(QStringLiteral(
            "click on \"断开\" to \"未连接\" shown, %1 client: %2 ms (median %3 ms; goal <= 300 ms)")
            .arg(client, joined(figures.disconnectMs))
            .arg(median(figures.disconnectMs), 0, 'f', 0));
}

int childConnect(const QStringList &arguments)
{
    const int index = arguments.value(0).toInt();
    const QString address = arguments.value(1);
    prepareStore();
    const ConnectionFigures figures = connectRounds(index, address, false);
    if (!figures.problem.isEmpty()) {
        say(QStringLiteral("problem ") + figures.problem);
        return 1;
    }
    say(QStringLiteral("connect ") + joined(figures.connectMs, 1));
    say(QStringLiteral("disconnect ") + joined(figures.disconnectMs, 1));
    return 0;
}

int freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

// The same rounds with the real frpc against a local frps: a copy of this program with the real
// client beside it does the clicking, since the window looks for the client beside the executable.
void measureRealClient(const QString &frpDir)
{
    const QString frpc = frpDir + QStringLiteral("/frpc");
    const QString frps = frpDir + QStringLiteral("/frps");
    if (!QFileInfo(frpc).isExecutable() || !QFileInfo(frps).isExecutable()) {
        say(QStringLiteral("real client: not measured (no frpc and frps in %1)").arg(frpDir));
        return;
    }

    QTemporaryDir work;
    const int bindPort = freePort();
    const QString token = QStringLiteral("bench-token");
    QFile config(work.filePath(QStringLiteral("frps.toml")));
    config.open(QIODevice::WriteOnly | QIODevice::Text);
    config.write(QStringLiteral("bindAddr = \"127.0.0.1\"\nbindPort = %1\nproxyBindAddr = \"127.0.0.1\"\n"
                                "auth.token = \"%2\"\n")
                     .arg(bindPort)
                     .arg(token)
                     .toUtf8());
    config.close();
    QProcess server;
    server.setStandardOutputFile(QProcess::nullDevice());
    server.setStandardErrorFile(QProcess::nullDevice());
    server.start(frps, { QStringLiteral("-c"), config.fileName() });
    QElapsedTimer wait;
    wait.start();
    bool listening = false;
    while (!listening && wait.elapsed() < 10000) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, quint16(bindPort));
        listening = probe.waitForConnected(200);
        if (!listening)
            QThread::msleep(100);
    }
    if (!listening) {
        say(QStringLiteral("real client: frps did not start"));
        return;
    }

    ServerConfig local;
    local.name = QStringLiteral("本机 frps");
    local.serverAddr = QStringLiteral("127.0.0.1");
    local.serverPort = bindPort;
    local.token = token;
    local.webServerPort = freePort();
    ServerConfigManager::instance().addConfig(local);
    const int index = int(ServerConfigManager::instance().getConfigs().size()) - 1;

    const QString program = work.filePath(QStringLiteral("bench_app"));
    QFile::copy(QCoreApplication::applicationFilePath(), program);
    QFile::copy(frpc, work.filePath(QStringLiteral("frpc")));
    QByteArray output;
    for (int attempt = 0; attempt < 3; ++attempt) {
        QProcess child;
        child.setStandardErrorFile(QProcess::nullDevice());
        child.start(
            program,
            { QStringLiteral("--child-connect"), QString::number(index), QStringLiteral("127.0.0.1:") });
        if (!child.waitForFinished(180000))
            child.kill();
        output = child.readAllStandardOutput();
        if (!output.contains("problem "))
            break;
        say(QStringLiteral("(real client run disturbed: %1; repeating)")
                .arg(QString::fromUtf8(output).trimmed()));
    }
    ServerConfigManager::instance().removeConfig(index);
    server.terminate();
    if (!server.waitForFinished(5000))
        server.kill();

    ConnectionFigures figures;
    for (const QByteArray &raw : output.split('\n')) {
        const QString line = QString::fromUtf8(raw);
        auto values = [&line] {
            QList<double> list;
            for (const QString &v : line.section(QLatin1Char(' '), 1).split(QStringLiteral(" / ")))
                list << v.toDouble();
            return list;
        };
        if (line.startsWith(QLatin1String("connect ")))
            figures.connectMs = values();
        else if (line.startsWith(QLatin1String("disconnect ")))
            figures.disconnectMs = values();
        else if (line.startsWith(QLatin1String("problem ")))
            figures.problem = line.mid(8);
    }
    if (figures.connectMs.isEmpty() && figures.problem.isEmpty())
        figures.problem = QStringLiteral("the measuring copy reported nothing");
    reportConnection(QStringLiteral("real"), figures, QStringLiteral("127.0.0.1:<port>"));
}

int orchestrate(const QString &frpDir)
{
    say(QStringLiteral("Marrowgate whole-program figures"));
    say(QStringLiteral("machine: ") + machineDescription());
    prepareStore();

    measureColdStart();

    const QString demoAddress = QStringLiteral("%1:46000").arg(QLatin1String(kDemoServers[0].address));
    if (QFileInfo(QCoreApplication::applicationDirPath() + QStringLiteral("/frpc")).isExecutable()) {
        // Tests running at the same time end every frpc of the user; such a disturbed run is repeated.
        ConnectionFigures fake = connectRounds(kDemoIndex, demoAddress, true);
        for (int attempt = 1; attempt < 3 && !fake.problem.isEmpty(); ++attempt) {
            say(QStringLiteral("(fake client run disturbed: %1; repeating)").arg(fake.problem));
            fake = connectRounds(kDemoIndex, demoAddress, true);
        }
        reportConnection(QStringLiteral("fake"), fake, demoAddress);
        if (fake.problem.isEmpty())
            say(QStringLiteral(
                    "timer wake-ups while stopped: %1\ntimer wake-ups while running, port known: %2 "
                    "(goal: none)")
                    .arg(fake.stoppedWakeups, fake.runningWakeups));
    } else {
        say(QStringLiteral("fake client: not beside this program; run it from the build's tests folder"));
    }
    measureRealClient(frpDir);

    measureMemory();
    return 0;
}

// --- Screenshots ---------------------------------------------------------------------------------

bool save(QWidget *widget, const QString &folder, const QString &name)
{
    const QString path = folder + QLatin1Char('/') + name;
    const bool ok = widget->grab().save(path);
    say(QStringLiteral("%1 %2").arg(ok ? QStringLiteral("saved") : QStringLiteral("could not save"), path));
    return ok;
}

// The tray's menu as it pops up under a panel: a tray icon of the window's (this virtual screen has no
// tray to show it in) in the window's state, the panel with its icon painted above the grabbed menu.
bool saveTrayMenu(QWidget *window, QLabel *status, const QString &address, const QString &path)
{
    TunnelTrayIcon tray(window);
    tray.setState(TunnelTrayIcon::Connected, QTextDocumentFragment::fromHtml(status->text()).toPlainText(),
                  address);
    QMenu *menu = tray.menu();
    menu->popup(QPoint(40, 60));
    spin(300);
    if (!menu->isVisible())
        return false;
    menu->setActiveAction(menu->actions().first());
    spin(100);
    const QRect area = menu->frameGeometry();
    const QPixmap grabbed = QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(),
                                                                         area.height());
    menu->close();

    const int margin = 40;
    const int panelHeight = 32;
    QPixmap picture(area.width() + 2 * margin, panelHeight + 6 + area.height() + margin);
    picture.fill(QColor(0xDF, 0xE6, 0xE9));
    QPainter painter(&picture);
    painter.fillRect(0, 0, picture.width(), panelHeight, QColor(0x2C, 0x3E, 0x50));
    const int iconSize = 22;
    TunnelTrayIcon::iconFor(TunnelTrayIcon::Connected)
        .paint(&painter, QRect(margin + 4, (panelHeight - iconSize) / 2, iconSize, iconSize));
    painter.drawPixmap(margin, panelHeight + 6, grabbed);
    painter.end();
    const bool saved = picture.save(path);
    say(QStringLiteral("%1 %2").arg(saved ? QStringLiteral("saved") : QStringLiteral("could not save"), path));
    return saved;
}

int takeScreenshots(const QString &folder)
{
    QDir().mkpath(folder);
    prepareStore();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/main.png")));
    if (!QFileInfo(QCoreApplication::applicationDirPath() + QStringLiteral("/frpc")).isExecutable()) {
        say(QStringLiteral("the fake frpc is not beside this program"));
        return 1;
    }
    // The pointer rests outside the window, so that no card shows its hover border.
    QCursor::setPos(QGuiApplication::primaryScreen()->geometry().bottomRight());
    MainWindow window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    auto *theme = window.findChild<QComboBox *>(QStringLiteral("themeCombo"));
    QLabel *status = statusLabel(&window);
    bool ok = true;
    const QString demoAddress = QStringLiteral("%1:46000").arg(QLatin1String(kDemoServers[0].address));

    auto connected = [&](const QString &name) {
        if (clickUntilShown(cardButton(&window, kDemoIndex, QStringLiteral("连接")), status, demoAddress) < 0)
            return false;
        spin(300);
        return save(&window, folder, name);
    };
    auto disconnect = [&] {
        return clickUntilShown(cardButton(&window, kDemoIndex, QStringLiteral("断开")), status,
                               QStringLiteral("未连接"))
            >= 0;
    };

    for (int dark = 0; dark < 2; ++dark) {
        theme->setCurrentIndex(dark);
        spin(500);
        const QString suffix = dark ? QStringLiteral("dark") : QStringLiteral("light");
        ok &= save(&window, folder, QStringLiteral("main-%1.png").arg(suffix));
        ok &= connected(QStringLiteral("connected-%1.png").arg(suffix));

        // The log window, with the lines of this connection.
        QTest::mouseClick(buttonWithText(&window, QStringLiteral("查看日志")), Qt::LeftButton);
        spin(500);
        if (auto *log = window.findChild<LogWindow *>(); log && log->isVisible()) {
            ok &= save(log, folder, QStringLiteral("log-%1.png").arg(suffix));
            log->hide();
        } else {
            ok = false;
        }
        ok &= disconnect();

        if (!dark) {
            // A UDP tunnel: the protocol selector beside the port, the status line marked, and the tray's
            // menu of the running tunnel.
            auto *protocol = window.findChild<QComboBox *>(QStringLiteral("protocolCombo"));
            protocol->setCurrentIndex(protocol->findText(QStringLiteral("UDP")));
            ok &= connected(QStringLiteral("protocol-%1.png").arg(suffix));
            ok &= saveTrayMenu(&window, status, demoAddress,
                               folder + QStringLiteral("/tray-menu-%1.png").arg(suffix));
            ok &= disconnect();
            protocol->setCurrentIndex(protocol->findText(QStringLiteral("TCP")));
        }

        // The edit dialog of the first demonstration server; it is modal, so it is grabbed from
        // inside its own event loop.
        QTimer::singleShot(800, &window, [&] {
            if (QWidget *dialog = QApplication::activeModalWidget()) {
                ok &= save(dialog, folder, QStringLiteral("edit-%1.png").arg(suffix));
                dialog->close();
            } else {
                ok = false;
            }
        });
        QTest::mouseClick(cardButton(&window, kDemoIndex, QStringLiteral("编辑")), Qt::LeftButton);
        spin(300);

        // The server list's context menu, opened by a right click on a card. The menu is a window of
        // its own, so the screen is grabbed where the main window and the menu lie.
        QTimer::singleShot(500, &window, [&] {
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            if (!menu || menu->actions().isEmpty()) {
                ok = false;
                return;
            }
            // The first entry highlighted, as under the pointer.
            menu->setActiveAction(menu->actions().first());
            spin(100);
            const QRect area = window.frameGeometry().united(menu->frameGeometry());
            const QString path = folder + QStringLiteral("/menu-%1.png").arg(suffix);
            const bool saved = QGuiApplication::primaryScreen()
                                   ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                                   .save(path);
            say(QStringLiteral("%1 %2").arg(
                saved ? QStringLiteral("saved") : QStringLiteral("could not save"), path));
            ok &= saved;
            menu->close();
        });
        QWidget *card = cardButton(&window, kDemoIndex, QStringLiteral("连接"));
        while (card && !qobject_cast<ServerCardWidget *>(card))
            card = card->parentWidget();
        if (card) {
            const QPoint pos(card->width() / 3, card->height() / 2);
            QContextMenuEvent event(QContextMenuEvent::Mouse, pos, card->mapToGlobal(pos));
            QApplication::sendEvent(card, &event);
        } else {
            ok = false;
        }
        spin(300);
    }
    theme->setCurrentIndex(0);
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    g_mainClock.start();
    // Private settings and temporary folder, shared with the children this program starts.
    std::unique_ptr<QTemporaryDir> sandbox;
    if (qEnvironmentVariableIsEmpty("MARROWGATE_BENCH_SANDBOX")) {
        sandbox = std::make_unique<QTemporaryDir>();
        QDir(sandbox->path()).mkpath(QStringLiteral("config"));
        QDir(sandbox->path()).mkpath(QStringLiteral("tmp"));
        qputenv("MARROWGATE_BENCH_SANDBOX", sandbox->path().toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", (sandbox->path() + QStringLiteral("/config")).toLocal8Bit());
        qputenv("TMPDIR", (sandbox->path() + QStringLiteral("/tmp")).toLocal8Bit());
        // A runtime folder of its own for the client file and the instance lock, and no session bus:
        // no desktop notification of a run reaches the desktop.
        const QString runtime = sandbox->path() + QStringLiteral("/runtime");
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime,
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit());
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    }

    QApplication app(argc, argv);
    g_appReadyMs = g_mainClock.nsecsElapsed() / 1e6;
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    const QString mode = arguments.value(0);
    if (mode == QLatin1String("--child-start"))
        return childStart(app, arguments.value(1));
    if (mode == QLatin1String("--child-memory"))
        return childMemory(app);

    QApplication::setOrganizationName(QStringLiteral("Halvorn"));
    QApplication::setApplicationName(QStringLiteral("Quorvane"));
    QApplication::setApplicationVersion(QStringLiteral("1.0.0"));
    if (mode == QLatin1String("--child-connect"))
        return childConnect(arguments.mid(1));
    if (mode == QLatin1String("--screenshots"))
        return takeScreenshots(arguments.value(1, QStringLiteral("screenshots")));

    QString frpDir = qEnvironmentVariable("MARROWGATE_FRP_DIR");
    const int frpArg = int(arguments.indexOf(QStringLiteral("--frp-dir")));
    if (frpArg >= 0)
        frpDir = arguments.value(frpArg + 1);
    if (frpDir.isEmpty())
        frpDir = QCoreApplication::applicationDirPath() + QStringLiteral("/../frp");
    return orchestrate(QDir::cleanPath(frpDir));
}
