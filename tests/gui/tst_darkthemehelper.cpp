// SPDX-License-Identifier: Apache-2.0
// Switching the native title bar: harmless without a window, and without effect where the system
// draws no such title bar.
#include "gui/darkthemehelper.h"
#include "testsupport.h"

#include <QDialog>

class TestDarkThemeHelper : public QObject
{
    Q_OBJECT

private slots:
    void nullWindowIsIgnored_data();
    void nullWindowIsIgnored();
    void switchingLeavesTheWidgetAlone();
};

void TestDarkThemeHelper::nullWindowIsIgnored_data()
{
    QTest::addColumn<bool>("dark");
    QTest::newRow("dark") << true;
    QTest::newRow("light") << false;
}

void TestDarkThemeHelper::nullWindowIsIgnored()
{
    QFETCH(bool, dark);
    DarkThemeHelper::setDarkTitleBar(nullptr, dark);
}

void TestDarkThemeHelper::switchingLeavesTheWidgetAlone()
{
    QDialog dialog;
    dialog.setWindowTitle(QStringLiteral("标题"));
    DarkThemeHelper::setDarkTitleBar(&dialog, true);
    DarkThemeHelper::setDarkTitleBar(&dialog, false);
    DarkThemeHelper::setDarkTitleBar(&dialog, true);

    // Neither shown nor restyled by the call.
    QVERIFY(dialog.isHidden());
    QCOMPARE(dialog.windowTitle(), QStringLiteral("标题"));
    QVERIFY(dialog.styleSheet().isEmpty());
#ifdef Q_OS_WIN
    // The window manager needs the native window, which the call creates before the first show.
    QVERIFY(dialog.internalWinId() != 0);
#else
    // Elsewhere nothing is asked of the window system, not even a native window.
    QCOMPARE(dialog.internalWinId(), WId(0));
#endif

    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    DarkThemeHelper::setDarkTitleBar(&dialog, false);
    QVERIFY(dialog.isVisible());
}

MARROWGATE_TEST_MAIN(TestDarkThemeHelper)
#include "tst_darkthemehelper.moc"
