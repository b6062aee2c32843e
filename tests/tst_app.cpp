// The whole program in real windows under an X server: start, the single-instance guard, a start after
// a crash and an ordinary close. Windows are found and driven with xdotool, as a person would.
#include "testsupport.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLibrary>
#include <QMessageBox>
#include <QProcess>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>

#include <memory>

#if __has_include(<xcb/xcb.h>)
#include <xcb/xcb.h>
#define MARROWGATE_HAVE_XCB 1
#endif

namespace {

const QString kMainTitle = QStringLiteral("Marrowgate v1.0.0");
const QString kNoticeText = QStringLiteral("程序已经在运行中！\n\n如果看不到窗口，请检查任务栏或系统托盘。");
const int kWindowTimeoutMs = 20000;

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

private:
    std::unique_ptr<QProcess> startProgram(const QStringList &arguments = {});

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
}

std::unique_ptr<QProcess> TestApp::startProgram(const QStringList &arguments)
{
    auto process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(QStringLiteral(MARROWGATE_EXECUTABLE), arguments);
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

    m_processes.push_back(std::move(first));
    m_processes.push_back(std::move(second));
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
