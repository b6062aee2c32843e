// SPDX-License-Identifier: Apache-2.0
// The whole program in real windows under an X server: start, the single-instance guard, a start after
// a crash, an ordinary close, the end by a signal or a kill with a tunnel up (real frp client and
// server), another user beside. Windows are found and driven with xdotool, as a person would.
#include "core/platform/frpcprocesses.h"
#include "core/platform/localports.h"
#include "gui/mainwindow.h"
#include "testsupport.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLibrary>
#include <QMessageBox>
#include <QProcess>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>

#include <csignal>
#include <memory>
#include <unistd.h>

#if __has_include(<xcb/xcb.h>)
#include <xcb/xcb.h>
#define MARROWGATE_HAVE_XCB 1
#endif

using TestSupport::processGone;

namespace {

const QString kMainTitle = QStringLiteral("Marrowgate v1.0.0");
const QString kNoticeText = QStringLiteral("程序已经在运行中！\n\n如果看不到窗口，请检查任务栏或系统托盘。");
const int kWindowTimeoutMs = 20000;
// The real server assigns remote ports from this range only, so that the test knows where to look.
const int kFirstRemotePort = 7601;
const int kRemotePorts = 10;
const uint kOtherUser = TestSupport::otherUserId();

// Runs xdotool; its standard output, trimmed, goes to output.
bool xdotool(const QStringList &arguments, QString *output = nullptr)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    if (output)
        *output = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// The visible top-level windows of one process (xdotool reads _NET_WM_PID, which the toolkit sets).
QStringList visibleWindowsOf(qint64 pid)
{
    QString out;
    xdotool({ QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible"),
              QStringLiteral("--pid"), QString::number(pid), QStringLiteral("--name"), QStringLiteral(".*") },
            &out);
    return out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString windowName(const QString &window)
{
    QString name;
    xdotool({ QStringLiteral("getwindowname"), window }, &name);
    return name;
}

// Waits until the process shows a window with the given title; returns its id or an empty string.
QString waitForWindow(QProcess &process, const QString &title, int timeoutMs = kWindowTimeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs && process.state() == QProcess::Running) {
        for (const QString &window : visibleWindowsOf(process.processId())) {
            if (windowName(window) == title)
                return window;
        }
        QTest::qWait(100);
    }
    return {};
}

// What another process shows in a window, as on the screen.
QImage grabWindow(const QString &window)
{
    return QGuiApplication::primaryScreen()
        ->grabWindow(window.toULongLong())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

// The refusal box as this process draws it with the given text (same style, fonts and screen).
QImage renderNotice(const QString &text)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("提示"), text, QMessageBox::Ok);
    box.move(0, 0);
    box.show();
    if (!QTest::qWaitForWindowExposed(&box))
        return {};
    QTest::qWait(50);
    QImage image = QGuiApplication::primaryScreen()
                       ->grabWindow(box.winId())
                       .toImage()
                       .convertToFormat(QImage::Format_RGB32);
    box.hide();
    return image;
}

// Pixels that differ between two pictures, leaving out the button row (its look depends on focus);
// pictures of different sizes differ everywhere.
int differingPixels(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return a.width() * a.height() + 1;
    const int rows = a.height() * 3 / 5;
    int count = 0;
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < a.width(); ++x)
            count += a.pixel(x, y) != b.pixel(x, y);
    return count;
}

// Gives a window the keyboard focus and types a key into it, like a person at the keyboard.
bool pressKey(const QString &window, const QString &key)
{
    if (!xdotool({ QStringLiteral("windowfocus"), QStringLiteral("--sync"), window }))
        return false;
    QTest::qWait(100);
    return xdotool({ QStringLiteral("key"), QStringLiteral("--clearmodifiers"), key });
}

// Clicks at a point of a window, like a person with the mouse.
bool clickAt(const QString &window, const QPoint &point)
{
    const bool clicked = xdotool({ QStringLiteral("mousemove"), QStringLiteral("--window"), window,
                                   QString::number(point.x()), QString::number(point.y()),
                                   QStringLiteral("click"), QStringLiteral("1") });
    QTest::qWait(100);
    return clicked;
}

QString clientFileOf(qint64 programPid)
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation)
        + QStringLiteral("/frpc_%1.toml").arg(programPid);
}

// The running child processes of a process.
QList<qint64> childrenOf(qint64 pid)
{
    QList<qint64> children;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields.at(1).toLongLong() == pid && !processGone(entry.toLongLong()))
            children.append(entry.toLongLong());
    }
    return children;
}

bool portAccepts(int port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, quint16(port));
    return socket.waitForConnected(500);
}

// The remote port the real server opened for a tunnel, or 0.
int openRemotePort()
{
    for (int port = kFirstRemotePort; port < kFirstRemotePort + kRemotePorts; ++port) {
        if (portAccepts(port))
            return port;
    }
    return 0;
}

// The UDP port the real server opened for a tunnel, or 0.
int boundRemoteUdpPort()
{
    for (int port = kFirstRemotePort; port < kFirstRemotePort + kRemotePorts; ++port) {
        if (LocalPorts::listeningPorts(true).value_or(QSet<int>()).contains(port))
            return port;
    }
    return 0;
}

#ifdef MARROWGATE_HAVE_XCB
// Asks a window to close the way a window manager does when its close button is clicked: a
// WM_DELETE_WINDOW client message. The X connection is the toolkit's own; libxcb is already loaded
// by the platform plugin, so its functions are looked up rather than linked.
bool requestClose(const QString &window)
{
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return false;
    xcb_connection_t *connection = x11->connection();

    QLibrary xcb(QStringLiteral("xcb"), 1);
    using InternAtom = xcb_intern_atom_cookie_t (*)(xcb_connection_t *, uint8_t, uint16_t, const char *);
    using InternAtomReply
        = xcb_intern_atom_reply_t *(*)(xcb_connection_t *, xcb_intern_atom_cookie_t, xcb_generic_error_t **);
    using SendEvent
        = xcb_void_cookie_t (*)(xcb_connection_t *, uint8_t, xcb_window_t, uint32_t, const char *);
    using Flush = int (*)(xcb_connection_t *);
    auto internAtom = reinterpret_cast<InternAtom>(xcb.resolve("xcb_intern_atom"));
    auto internAtomReply = reinterpret_cast<InternAtomReply>(xcb.resolve("xcb_intern_atom_reply"));
    auto sendEvent = reinterpret_cast<SendEvent>(xcb.resolve("xcb_send_event"));
    auto flush = reinterpret_cast<Flush>(xcb.resolve("xcb_flush"));
    if (!internAtom || !internAtomReply || !sendEvent || !flush)
        return false;

    auto atom = [&](const char *name) -> xcb_atom_t {
        const auto cookie = internAtom(connection, 0, uint16_t(qstrlen(name)), name);
        xcb_intern_atom_reply_t *reply = internAtomReply(connection, cookie, nullptr);
        const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        free(reply);
        return result;
    };
    const xcb_atom_t protocols = atom("WM_PROTOCOLS");
    const xcb_atom_t deleteWindow = atom("WM_DELETE_WINDOW");
    if (protocols == XCB_ATOM_NONE || deleteWindow == XCB_ATOM_NONE)
        return false;

    xcb_client_message_event_t event = {};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window.toUInt();
    event.type = protocols;
    event.data.data32[0] = deleteWindow;
    event.data.data32[1] = XCB_CURRENT_TIME;
    sendEvent(connection, 0, event.window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&event));
    flush(connection);
    return true;
}
#endif

} // namespace

// The real client and server are part of the test environment: missing under CI, or their ports taken,
// they fail the test.
#define REQUIRE_REAL_TUNNEL()                                                                                \
    do {                                                                                                     \
        if (m_realProgram.isEmpty()) {                                                                       \
            if (!qEnvironmentVariableIsEmpty("CI") || m_realPortsTaken)                                      \
                QFAIL(qPrintable(m_realMissing));                                                            \
            QSKIP(qPrintable(m_realMissing));                                                                \
        }                                                                                                    \
    } while (false)

class TestApp : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();
    void secondStartIsRefused();
    void startAfterCrash();
    void ordinaryCloseExitsWithZero();
    void signalEndsTheProgramInOrder_data();
    void signalEndsTheProgramInOrder();
    void killedProgramTakesItsClientAlong();
    void plantedClientFileIsLeftAlone();
    void anotherUserIsIndependent();
    void connectOption();
    void connectAtStart_data();
    void connectAtStart();

private:
    std::unique_ptr<QProcess> startProgram(const QStringList &arguments = {},
                                           const QString &program = QStringLiteral(MARROWGATE_EXECUTABLE));
    std::unique_ptr<QProcess> startAsOtherUser();
    void setUpRealTunnel();
    QString connectedRealProgram(std::unique_ptr<QProcess> &program, qint64 *client, int *remotePort);

    // Where a person clicks in the main window, found in the same window built here.
    QPoint m_connectSpot;
    QPoint m_autoStartSpot;
    // A copy of the program with the real client beside it, and the real server it reaches; empty
    // when the real frp programs are missing.
    QString m_realProgram;
    QString m_realMissing;
    bool m_realPortsTaken = false;
    QProcess m_frps;
    std::unique_ptr<QTemporaryDir> m_otherUserHome;

    std::vector<std::unique_ptr<QProcess>> m_processes;
};

void TestApp::initTestCase()
{
    QString missing;
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        missing = QStringLiteral("no X server (DISPLAY is not set); run the tests under xvfb-run");
    else if (QGuiApplication::platformName() != QLatin1String("xcb"))
        missing = QStringLiteral("the test must run on the xcb platform");
    else if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        missing = QStringLiteral("xdotool is not installed");
    if (!missing.isEmpty()) {
        if (!qEnvironmentVariableIsEmpty("CI"))
            QFAIL(qPrintable(missing));
        QSKIP(qPrintable(missing));
    }
    QVERIFY2(QFileInfo(QStringLiteral(MARROWGATE_EXECUTABLE)).isExecutable(), MARROWGATE_EXECUTABLE);

    {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        for (ServerCardWidget *card : window.findChildren<ServerCardWidget *>()) {
            QPushButton *connect = TestSupport::buttonWithText(card, QStringLiteral("连接"));
            if (card->getIndex() == 0 && connect)
                m_connectSpot = connect->mapTo(&window, connect->rect().center());
        }
        for (QCheckBox *box : window.findChildren<QCheckBox *>()) {
            if (box->text() == QStringLiteral("开机自启动"))
                m_autoStartSpot = box->mapTo(&window, box->rect().center());
        }
        QVERIFY(!m_connectSpot.isNull() && !m_autoStartSpot.isNull());
    }
    setUpRealTunnel();
}

void TestApp::setUpRealTunnel()
{
    const QString frpDir = QStringLiteral(MARROWGATE_FRP_DIR);
    const QString frpc = frpDir + QStringLiteral("/frpc");
    const QString frps = frpDir + QStringLiteral("/frps");
    if (!QFileInfo(frpc).isExecutable() || !QFileInfo(frps).isExecutable()) {
        m_realMissing = QStringLiteral("the real frpc and frps are not in %1").arg(frpDir);
        return;
    }
    // The built-in entry's server, 127.0.0.1:7000, and its client's web API on port 7500.
    m_realMissing = TestSupport::portsTaken({ 7000, 7500 });
    if (!m_realMissing.isEmpty()) {
        m_realPortsTaken = true;
        return;
    }
    // The server has the built-in token, and ends with the test.
    const QString config = TestSupport::sandboxPath() + QStringLiteral("/frps.toml");
    QFile file(config);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral("bindAddr = \"127.0.0.1\"\nbindPort = 7000\nproxyBindAddr = \"127.0.0.1\"\n"
                              "auth.token = \"tQenvobRxaL\"\nallowPorts = [{ start = %1, end = %2 }]\n")
                   .arg(kFirstRemotePort)
                   .arg(kFirstRemotePort + kRemotePorts - 1)
                   .toUtf8());
    file.close();
    m_frps.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_frps.setStandardOutputFile(QProcess::nullDevice());
    FrpcProcesses::bindToProgram(m_frps);
    m_frps.start(frps, { QStringLiteral("-c"), config });
    QVERIFY(m_frps.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(portAccepts(7000), kWindowTimeoutMs);

    const QString folder = TestSupport::sandboxPath() + QStringLiteral("/real");
    QVERIFY(QDir().mkpath(folder));
    m_realProgram = folder + QStringLiteral("/Marrowgate");
    QVERIFY(QFile::copy(QStringLiteral(MARROWGATE_EXECUTABLE), m_realProgram));
    QVERIFY(QFile::copy(frpc, folder + QStringLiteral("/frpc")));
}

// Starts the copy with the real client, checks the start-at-login box and connects the built-in
// entry; returns the main window once the tunnel is up.
QString TestApp::connectedRealProgram(std::unique_ptr<QProcess> &program, qint64 *client, int *remotePort)
{
    if (m_realProgram.isEmpty())
        return {};
    program = startProgram({}, m_realProgram);
    const QString window = waitForWindow(*program, kMainTitle);
    if (window.isEmpty() || !clickAt(window, m_autoStartSpot) || !clickAt(window, m_connectSpot))
        return {};
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < kWindowTimeoutMs && (*remotePort = openRemotePort()) == 0)
        QTest::qWait(200);
    const QList<qint64> clients = childrenOf(program->processId());
    *client = clients.size() == 1 ? clients.first() : 0;
    return *remotePort > 0 && *client > 0 ? window : QString();
}

void TestApp::cleanup()
{
    for (auto &process : m_processes) {
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished(5000);
        }
    }
    m_processes.clear();
}

void TestApp::cleanupTestCase()
{
    cleanup();
    if (m_frps.state() != QProcess::NotRunning) {
        m_frps.kill();
        m_frps.waitForFinished(5000);
    }
}

std::unique_ptr<QProcess> TestApp::startProgram(const QStringList &arguments, const QString &program)
{
    auto process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(program, arguments);
    process->waitForStarted(10000);
    return process;
}

// The program as another user of the same machine and display, with folders of that user's own.
std::unique_ptr<QProcess> TestApp::startAsOtherUser()
{
    if (!m_otherUserHome) {
        m_otherUserHome = std::make_unique<QTemporaryDir>(QStringLiteral("/tmp/marrowgate-other-XXXXXX"));
        const QString home = m_otherUserHome->path();
        for (const char *folder : { "runtime", "config", "tmp" })
            QDir(home).mkpath(QString::fromLatin1(folder));
        QFile::setPermissions(home + QStringLiteral("/runtime"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile::copy(qEnvironmentVariable("XAUTHORITY"), home + QStringLiteral("/Xauthority"));
        QProcess::execute(QStringLiteral("chown"),
                          { QStringLiteral("-R"), QStringLiteral("%1:%1").arg(kOtherUser), home });
    }
    const QString home = m_otherUserHome->path();
    QProcessEnvironment environment;
    for (const char *name : { "DISPLAY", "PATH", "QT_QPA_PLATFORM", "LANG" })
        environment.insert(QString::fromLatin1(name), qEnvironmentVariable(name));
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("XAUTHORITY"), home + QStringLiteral("/Xauthority"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home + QStringLiteral("/runtime"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
    environment.insert(QStringLiteral("TMPDIR"), home + QStringLiteral("/tmp"));
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(environment);
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(QStringLiteral("setpriv"),
                   { QStringLiteral("--reuid=%1").arg(kOtherUser),
                     QStringLiteral("--regid=%1").arg(kOtherUser), QStringLiteral("--clear-groups"),
                     QStringLiteral(MARROWGATE_EXECUTABLE) });
    process->waitForStarted(10000);
    return process;
}

void TestApp::secondStartIsRefused()
{
    auto first = startProgram();
    QVERIFY(first->state() == QProcess::Running);
    const QString mainWindow = waitForWindow(*first, kMainTitle);
    QVERIFY2(!mainWindow.isEmpty(), "the first copy shows no main window");

    // A second copy asked to connect is refused all the same, and the first one is not changed.
    auto second = startProgram({ QStringLiteral("--connect"), QStringLiteral("HalvornMarrowgate服务器"),
                                 QStringLiteral("--port"), QStringLiteral("8080") });
    const QString notice = waitForWindow(*second, QStringLiteral("提示"));
    QVERIFY2(!notice.isEmpty(), "the second copy shows no notice");
    QCOMPARE(visibleWindowsOf(second->processId()).size(), 1); // no main window of its own

    // The box's text: on screen it must look exactly like a warning box with the expected two lines,
    // and unlike one with any other text.
    const QImage shown = grabWindow(notice);
    QVERIFY(!shown.isNull());
    QCOMPARE(differingPixels(shown, renderNotice(kNoticeText)), 0);
    QVERIFY(differingPixels(shown, renderNotice(QStringLiteral("程序已经在运行中！"))) > 0);

    // Enter presses OK; the second copy then ends with 0 and the first keeps running.
    QVERIFY(second->state() == QProcess::Running);
    QVERIFY(pressKey(notice, QStringLiteral("Return")));
    QVERIFY2(second->waitForFinished(10000), "the notice did not close on Enter");
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);

    QTest::qWait(300);
    QCOMPARE(first->state(), QProcess::Running);
    QCOMPARE(visibleWindowsOf(first->processId()), QStringList { mainWindow });

    // A second start with a link hands it to the first copy, which opens its join dialog, and ends
    // without a window of its own.
    auto link = startProgram({ QStringLiteral("marrowgate://join/not-a-code") });
    QVERIFY2(link->waitForFinished(10000), "the second start with a link did not end");
    QCOMPARE(link->exitCode(), 0);
    const QString dialog = waitForWindow(*first, QStringLiteral("加入好友的隧道"));
    QVERIFY2(!dialog.isEmpty(), "the first copy opened no join dialog");
    QVERIFY(pressKey(dialog, QStringLiteral("Escape")));
    QTRY_COMPARE(visibleWindowsOf(first->processId()), QStringList { mainWindow });

    m_processes.push_back(std::move(first));
    m_processes.push_back(std::move(second));
    m_processes.push_back(std::move(link));
}

void TestApp::startAfterCrash()
{
    auto crashed = startProgram();
    QVERIFY2(!waitForWindow(*crashed, kMainTitle).isEmpty(), "the program shows no main window");
    crashed->kill(); // SIGKILL: no clean-up of any kind
    QVERIFY(crashed->waitForFinished(5000));
    QCOMPARE(crashed->exitStatus(), QProcess::CrashExit);

    auto next = startProgram();
    const QString window = waitForWindow(*next, kMainTitle);
    QVERIFY2(!window.isEmpty(), "after a crash the next start shows no main window");
    for (const QString &w : visibleWindowsOf(next->processId()))
        QVERIFY2(windowName(w) != QStringLiteral("提示"), "after a crash the next start was refused");

    // And the guard of the new copy works again.
    auto refused = startProgram();
    const QString notice = waitForWindow(*refused, QStringLiteral("提示"));
    QVERIFY2(!notice.isEmpty(), "beside the new copy a further start was not refused");
    QVERIFY(pressKey(notice, QStringLiteral("Return")));
    QVERIFY(refused->waitForFinished(10000));
    QCOMPARE(refused->exitCode(), 0);

    m_processes.push_back(std::move(crashed));
    m_processes.push_back(std::move(next));
    m_processes.push_back(std::move(refused));
}

void TestApp::ordinaryCloseExitsWithZero()
{
#ifndef MARROWGATE_HAVE_XCB
    QSKIP("the X C binding headers (libxcb1-dev) are missing; cannot ask a window to close");
#else
    QSettings stored; // the program's own store: the sandbox is shared with it
    stored.clear();
    stored.sync();

    auto program = startProgram();
    const QString window = waitForWindow(*program, kMainTitle);
    QVERIFY2(!window.isEmpty(), "the program shows no main window");

    QVERIFY(requestClose(window));
    QVERIFY2(program->waitForFinished(10000), "the window did not close");
    QCOMPARE(program->exitStatus(), QProcess::NormalExit);
    QCOMPARE(program->exitCode(), 0);

    // On the way out the preferences were saved.
    stored.sync();
    QVERIFY(stored.contains(QStringLiteral("theme")));
    QCOMPARE(stored.value(QStringLiteral("theme")).toInt(), 0);
    QCOMPARE(stored.value(QStringLiteral("autoStart")).toBool(), false);
    QVERIFY(stored.contains(QStringLiteral("autoStart")));
    QCOMPARE(stored.value(QStringLiteral("lastLocalPort")).toInt(), 12345);

    // The closed copy released its guard: the next start is not refused.
    auto next = startProgram();
    QVERIFY2(!waitForWindow(*next, kMainTitle).isEmpty(), "a start after an ordinary close was refused");
    QVERIFY(requestClose(waitForWindow(*next, kMainTitle)));
    QVERIFY(next->waitForFinished(10000));
    QCOMPARE(next->exitCode(), 0);

    m_processes.push_back(std::move(program));
    m_processes.push_back(std::move(next));
#endif
}

void TestApp::signalEndsTheProgramInOrder_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM (logout, shutdown, kill)") << int(SIGTERM);
    QTest::newRow("SIGHUP (terminal closed)") << int(SIGHUP);
}

void TestApp::signalEndsTheProgramInOrder()
{
    QFETCH(int, signalNumber);
    REQUIRE_REAL_TUNNEL();
    QSettings stored;
    stored.clear();
    stored.sync();

    std::unique_ptr<QProcess> program;
    qint64 client = 0;
    int remotePort = 0;
    QVERIFY2(!connectedRealProgram(program, &client, &remotePort).isEmpty(), "no tunnel came up");
    const QString clientFile = clientFileOf(program->processId());
    QVERIFY(QFile::exists(clientFile));

    ::kill(pid_t(program->processId()), signalNumber);
    QVERIFY2(program->waitForFinished(10000), "the program did not end on the signal");
    QCOMPARE(program->exitStatus(), QProcess::NormalExit);
    QCOMPARE(program->exitCode(), 0);
    QVERIFY(processGone(client));
    QVERIFY(!QFile::exists(clientFile));
    QTRY_VERIFY_WITH_TIMEOUT(!portAccepts(remotePort), 5000);
    stored.sync();
    QCOMPARE(stored.value(QStringLiteral("autoStart")).toBool(), true);
    // The tunnel ended with the program: its server is the one to connect at the next start.
    QCOMPARE(stored.value(QStringLiteral("lastServer")).toString(),
             QStringLiteral("HalvornMarrowgate服务器"));
    m_processes.push_back(std::move(program));
}

void TestApp::killedProgramTakesItsClientAlong()
{
    REQUIRE_REAL_TUNNEL();
    std::unique_ptr<QProcess> program;
    qint64 client = 0;
    int remotePort = 0;
    QVERIFY2(!connectedRealProgram(program, &client, &remotePort).isEmpty(), "no tunnel came up");
    const QString clientFile = clientFileOf(program->processId());

    program->kill();
    QVERIFY(program->waitForFinished(5000));
    QTRY_VERIFY_WITH_TIMEOUT(processGone(client), 1000);
    QTRY_VERIFY_WITH_TIMEOUT(!portAccepts(remotePort), 5000);

    // Nothing could delete the client file; the next start does.
    QVERIFY(QFile::exists(clientFile));
    auto next = startProgram({}, m_realProgram);
    QVERIFY(!waitForWindow(*next, kMainTitle).isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(clientFile), 5000);
    m_processes.push_back(std::move(program));
    m_processes.push_back(std::move(next));
}

void TestApp::plantedClientFileIsLeftAlone()
{
    auto program = startProgram();
    const QString window = waitForWindow(*program, kMainTitle);
    QVERIFY(!window.isEmpty());
    const QString clientFile = clientFileOf(program->processId());
    const QByteArray planted = "serverAddr = \"203.0.113.9\"\n";
    {
        QFile file(clientFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(planted);
    }
    if (::chown(QFile::encodeName(clientFile).constData(), kOtherUser, kOtherUser) != 0)
        QSKIP("handing a file to another user needs root");

    QVERIFY(clickAt(window, m_connectSpot));
    const QString box = waitForWindow(*program, QStringLiteral("错误"));
    QVERIFY2(!box.isEmpty(), "no error shown");
    QVERIFY(childrenOf(program->processId()).isEmpty());
    QFile file(clientFile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), planted);
    QCOMPARE(QFileInfo(clientFile).ownerId(), kOtherUser);
    // A request to end while the box is open ends the program in order all the same.
    ::kill(pid_t(program->processId()), SIGTERM);
    QVERIFY(program->waitForFinished(10000));
    QCOMPARE(program->exitStatus(), QProcess::NormalExit);
    QCOMPARE(program->exitCode(), 0);
    QVERIFY(QFile::exists(clientFile));
    m_processes.push_back(std::move(program));
}

void TestApp::anotherUserIsIndependent()
{
    if (::geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
        QSKIP("running the program as another user needs root and setpriv");
    auto first = startProgram();
    QVERIFY(!waitForWindow(*first, kMainTitle).isEmpty());

    auto other = startAsOtherUser();
    QVERIFY2(!waitForWindow(*other, kMainTitle).isEmpty(), "another user's start beside ours was refused");
    other->terminate();
    QVERIFY(other->waitForFinished(10000));
    QCOMPARE(other->exitCode(), 0);

    first->kill();
    QVERIFY(first->waitForFinished(5000));
    auto again = startAsOtherUser();
    QVERIFY2(!waitForWindow(*again, kMainTitle).isEmpty(),
             "after our crash another user's start was refused");
    m_processes.push_back(std::move(first));
    m_processes.push_back(std::move(other));
    m_processes.push_back(std::move(again));
}

// --connect against the real client: an unknown name shows the box naming it and starts no client;
// the built-in entry's tunnel comes up on the given local port, which is stored as the last one, and
// with --protocol udp as a UDP tunnel.
void TestApp::connectOption()
{
    REQUIRE_REAL_TUNNEL();
    QSettings stored;
    stored.clear();
    stored.sync();

    auto refused = startProgram({ QStringLiteral("--connect"), QStringLiteral("nobody") }, m_realProgram);
    const QString box = waitForWindow(*refused, QStringLiteral("无法连接"));
    QVERIFY2(!box.isEmpty(), "an unknown name shows no box");
    QVERIFY(pressKey(box, QStringLiteral("Return")));
    QTest::qWait(500);
    QVERIFY(childrenOf(refused->processId()).isEmpty());
    refused->terminate();
    QVERIFY(refused->waitForFinished(10000));
    QCOMPARE(refused->exitCode(), 0);
    m_processes.push_back(std::move(refused));

    auto program = startProgram({ QStringLiteral("--connect"), QStringLiteral("HalvornMarrowgate服务器"),
                                  QStringLiteral("--port"), QStringLiteral("23456") },
                                m_realProgram);
    QVERIFY(!waitForWindow(*program, kMainTitle).isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(openRemotePort() > 0, kWindowTimeoutMs);
    QCOMPARE(childrenOf(program->processId()).size(), 1);
    program->terminate();
    QVERIFY(program->waitForFinished(10000));
    QCOMPARE(program->exitCode(), 0);
    stored.sync();
    QCOMPARE(stored.value(QStringLiteral("lastLocalPort")).toInt(), 23456);
    m_processes.push_back(std::move(program));

    // Over UDP the server opens a UDP port, and the choice is stored like the port.
    auto udp = startProgram({ QStringLiteral("--connect"), QStringLiteral("HalvornMarrowgate服务器"),
                              QStringLiteral("--protocol"), QStringLiteral("udp") },
                            m_realProgram);
    QVERIFY(!waitForWindow(*udp, kMainTitle).isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(boundRemoteUdpPort() > 0, kWindowTimeoutMs);
    udp->terminate();
    QVERIFY(udp->waitForFinished(10000));
    QCOMPARE(udp->exitCode(), 0);
    stored.sync();
    QCOMPARE(stored.value(QStringLiteral("lastProtocol")).toString(), QStringLiteral("udp"));
    m_processes.push_back(std::move(udp));
}

void TestApp::connectAtStart_data()
{
    QTest::addColumn<bool>("autoConnect");
    QTest::newRow("on: the last tunnel comes up without a click") << true;
    QTest::newRow("off: nothing connects") << false;
}

// A start of the whole program (at login or by hand) after one that ended with the built-in entry's
// tunnel up.
void TestApp::connectAtStart()
{
    QFETCH(bool, autoConnect);
    REQUIRE_REAL_TUNNEL();
    QSettings stored;
    stored.clear();
    stored.setValue(QStringLiteral("autoConnect"), autoConnect);
    stored.setValue(QStringLiteral("lastServer"), QStringLiteral("HalvornMarrowgate服务器"));
    stored.sync();

    auto program = startProgram({}, m_realProgram);
    QVERIFY(!waitForWindow(*program, kMainTitle).isEmpty());
    if (autoConnect) {
        QTRY_VERIFY_WITH_TIMEOUT(openRemotePort() > 0, kWindowTimeoutMs);
        QCOMPARE(childrenOf(program->processId()).size(), 1);
    } else {
        QTest::qWait(2000);
        QVERIFY(childrenOf(program->processId()).isEmpty());
    }
    program->terminate();
    QVERIFY(program->waitForFinished(10000));
    QCOMPARE(program->exitCode(), 0);
    m_processes.push_back(std::move(program));
}

// Like MARROWGATE_TEST_MAIN, except that without an X server the test starts offscreen so that it can
// say why it does not run instead of failing to connect.
int main(int argc, char *argv[])
{
    QTemporaryDir sandbox;
    if (!sandbox.isValid())
        return 1;
    TestSupport::isolateUserFiles(sandbox.path());
    if (qEnvironmentVariableIsEmpty("DISPLAY") || qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", qEnvironmentVariableIsEmpty("DISPLAY") ? "offscreen" : "xcb");
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Halvorn"));
    QApplication::setApplicationName(QStringLiteral("Quorvane"));
    QApplication::setApplicationVersion(QStringLiteral("1.0.0"));
    TestApp tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_app.moc"
