#include "mainwindow.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QSharedMemory>

namespace {

// Where a named segment can outlive its creator (System V shared memory on Unix), a copy of the
// program that crashed leaves its guard segment behind with no process attached. Attaching and
// detaching again removes such a segment, because the last detach of an unattached segment deletes
// it; a running copy stays attached, so its segment survives and still refuses this start.
// On Windows the segment ends with its last process, so there is nothing to recognise.
void releaseAbandonedSegment([[maybe_unused]] QSharedMemory &sharedMemory)
{
#ifndef Q_OS_WIN
    if (sharedMemory.attach(QSharedMemory::ReadOnly))
        sharedMemory.detach();
#endif
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);

    QSharedMemory sharedMemory(QStringLiteral("Quorvane_SingleInstance"));
    releaseAbandonedSegment(sharedMemory);
    if (!sharedMemory.create(1, QSharedMemory::ReadWrite)) {
        QMessageBox::warning(nullptr, QStringLiteral("提示"),
                             QStringLiteral("程序已经在运行中！\n\n如果看不到窗口，请检查任务栏或系统托盘。"));
        return 0;
    }

    QApplication::setOrganizationName(QStringLiteral("Halvorn"));
    QApplication::setApplicationName(QStringLiteral("Quorvane"));
    QApplication::setApplicationVersion(QStringLiteral("1.0.0"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/main.png")));

    MainWindow window;
    window.show();
    return app.exec();
}
