// SPDX-License-Identifier: Apache-2.0
// The program: reads the options, guards the single instance, shows the window and ends in order on
// a termination request.
#include "core/commandline.h"
#include "core/platform/console.h"
#include "core/platform/singleinstance.h"
#include "core/platform/terminationrequests.h"
#include "core/serverconfig.h"
#include "gui/language.h"
#include "gui/mainwindow.h"

#include <QApplication>
#include <QCoreApplication>
#include <QIcon>
#include <QMessageBox>
#include <QTimer>

int main(int argc, char *argv[])
{
    // Read before anything else, so that help, version and a bad command line are answered without
    // a display, without touching the settings and even while another copy runs.
    const QStringList arguments = commandLineArguments(argc, argv);
    const CommandLineRequest request = parseCommandLine(arguments);
    if (request.action != CommandLineRequest::Run) {
        // Answered in the language asked for: the translations need an application object, though no
        // display.
        const QString language = languageArgument(arguments);
        if (Language::isKnown(language) && language != Language::codes().first()) {
            QCoreApplication answering(argc, argv);
            Language::apply(language);
            return answerCommandLine(parseCommandLine(arguments));
        }
        return answerCommandLine(request);
    }

    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Halvorn"));
    QApplication::setApplicationName(QStringLiteral("Quorvane"));
    QApplication::setApplicationVersion(QStringLiteral("1.0.0"));
    // The language of this run: the one asked for on the command line (not kept), else the one chosen.
    Language::apply(request.language.isEmpty() ? ServerConfigManager::instance().getLanguage()
                                               : request.language);

    SingleInstanceGuard instanceGuard;
    if (!instanceGuard.tryAcquire()) {
        QMessageBox::warning(nullptr, QCoreApplication::translate("main", "提示"),
                             QCoreApplication::translate(
                                 "main", "程序已经在运行中！\n\n如果看不到窗口，请检查任务栏或系统托盘。"));
        return 0;
    }

    // Logout, shutdown and kill end the program in order, like an ordinary quit without the question:
    // leaving the event loop destroys the window, which stops the tunnel and saves the preferences.
    TerminationRequests terminationRequests;
    QObject::connect(&terminationRequests, &TerminationRequests::requested, &app,
                     [] { QCoreApplication::exit(0); });

    QApplication::setWindowIcon(QIcon(QStringLiteral(":/main.png")));

    MainWindow window;
    window.show();
    if (!request.connectName.isEmpty()) {
        // Once the event loop runs, so that a refusal shows its box over the visible window.
        QTimer::singleShot(0, &window, [&window, &request] {
            window.setTunnels(request.tunnelsFor(window.tunnels()));
            window.connectServerByName(request.connectName);
        });
    } else {
        // Without --connect, the tunnel that was up when the program last ended, when so chosen.
        QTimer::singleShot(0, &window, [&window] { window.connectAtStart(); });
    }
    return app.exec();
}
