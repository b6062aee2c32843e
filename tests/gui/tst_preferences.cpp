// SPDX-License-Identifier: Apache-2.0
#include "testsupport.h"

#include "core/serverconfig.h"
#include "gui/logwindow.h"
#include "gui/mainwindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSpinBox>

#include <algorithm>

namespace {

// One rule of a style sheet: its selector and its declarations in order, whitespace normalised.
struct SheetRule
{
    QString selector;
    QList<QPair<QString, QString>> declarations;

    bool operator==(const SheetRule &other) const
    {
        return selector == other.selector && declarations == other.declarations;
    }
};

QString normalised(const QString &text)
{
    QString result = text.simplified();
    result.replace(QRegularExpression(QStringLiteral("\\s*,\\s*")), QStringLiteral(", "));
    return result;
}

QList<SheetRule> parseSheet(const QString &sheet)
{
    QList<SheetRule> rules;
    const QStringList blocks = sheet.split(QLatin1Char('}'), Qt::SkipEmptyParts);
    for (const QString &block : blocks) {
        if (block.trimmed().isEmpty())
            continue;
        const int brace = block.indexOf(QLatin1Char('{'));
        SheetRule rule;
        rule.selector = normalised(block.left(brace));
        const QStringList declarations = block.mid(brace + 1).split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (const QString &declaration : declarations) {
            if (declaration.trimmed().isEmpty())
                continue;
            const int colon = declaration.indexOf(QLatin1Char(':'));
            rule.declarations.append(
                { normalised(declaration.left(colon)), normalised(declaration.mid(colon + 1)) });
        }
        rules.append(rule);
    }
    return rules;
}

// The window sheets as a table: the shared declarations with * where a theme colour goes, and
// for each theme the values of those * in the form "property value".
struct TableRow
{
    const char *selector;
    const char *declarations;
    const char *light;
    const char *dark;
};

const TableRow THEME_TABLE[] = {
    { "QMainWindow", "background-color: *", "background-color #F5F6FA", "background-color #1E2636" },
    { "QWidget",
      "background-color: *; color: *; font-family: \"Microsoft YaHei UI\", \"微软雅黑\"; font-size: 10pt",
      "background-color #F5F6FA; color #2C3E50", "background-color #1E2636; color #E8EAF0" },
    { "QLabel", "background: transparent; border: none", "", "" },
    { "QSpinBox",
      "background-color: *; border: *; border-radius: 6px; padding: 6px 12px; min-height: 28px; color: *",
      "background-color #FFFFFF; border 1px solid #DFE6E9; color #2C3E50",
      "background-color #2C3546; border 1px solid #3D4759; color #E8EAF0" },
    { "QSpinBox:hover", "border-color: *", "border-color #3498DB", "border-color #5B8DEE" },
    { "QSpinBox::up-button, QSpinBox::down-button", "background-color: *; border: none; width: 18px",
      "background-color #ECF0F1", "background-color #3D4759" },
    { "QSpinBox::up-button:hover, QSpinBox::down-button:hover", "background-color: *",
      "background-color #BDC3C7", "background-color #4E5D73" },
    { "QPushButton",
      "background-color: *; color: white; border: none; border-radius: 6px; padding: 4px 12px; font-weight: "
      "bold; "
      "min-height: 24px; font-size: 9pt",
      "background-color #3498DB", "background-color #5B8DEE" },
    { "QPushButton:hover", "background-color: *", "background-color #2E86DE", "background-color #7DA3F3" },
    { "QPushButton:pressed", "background-color: *", "background-color #2574C7", "background-color #4A7BDB" },
    { "QPushButton:disabled", "background-color: *; color: *; border: *",
      "background-color #E8EBF0; color #B0B7C3; border 1px solid #D5D9E0",
      "background-color #2C3546; color #6B7280; border 1px solid #3D4759" },
    { "QCheckBox", "spacing: 8px; color: *", "color #2C3E50", "color #E8EAF0" },
    { "QCheckBox::indicator", "width: 18px; height: 18px; border: *; border-radius: 4px; background-color: *",
      "border 2px solid #BDC3C7; background-color #FFFFFF",
      "border 2px solid #3D4759; background-color #2C3546" },
    { "QCheckBox::indicator:hover", "border-color: *", "border-color #3498DB", "border-color #5B8DEE" },
    { "QCheckBox::indicator:checked",
      "background-color: *; border-color: *; image: url(:/resources/check.png)",
      "background-color #3498DB; border-color #3498DB", "background-color #5B8DEE; border-color #5B8DEE" },
    { "QComboBox",
      "background-color: *; border: *; border-radius: 6px; padding: 6px 12px; min-height: 28px; color: *",
      "background-color #FFFFFF; border 1px solid #DFE6E9; color #2C3E50",
      "background-color #2C3546; border 1px solid #3D4759; color #E8EAF0" },
    { "QComboBox:hover", "border-color: *; background-color: *",
      "border-color #3498DB; background-color #F8F9FA", "border-color #5B8DEE; background-color #343E52" },
    { "QComboBox:focus", "border-color: *; outline: none", "border-color #3498DB", "border-color #5B8DEE" },
    { "QComboBox::drop-down", "border: none; width: 24px; padding-right: 4px", "", "" },
    { "QComboBox::down-arrow", "image: *; width: 10px; height: 6px; margin-right: 6px",
      "image url(:/arrows/down-2C3E50.png)", "image url(:/arrows/down-E8EAF0.png)" },
    { "QComboBox::down-arrow:hover", "image: *", "image url(:/arrows/down-3498DB.png)",
      "image url(:/arrows/down-5B8DEE.png)" },
    { "QComboBox QAbstractItemView",
      "background-color: *; border: *; border-radius: 6px; selection-background-color: *; selection-color: "
      "white; "
      "color: *; padding: 4px; outline: none",
      "background-color #FFFFFF; border 1px solid #DFE6E9; selection-background-color #3498DB; color #2C3E50",
      "background-color #2C3546; border 1px solid #3D4759; selection-background-color #5B8DEE; color "
      "#E8EAF0" },
    { "QComboBox QAbstractItemView::item", "height: 32px; padding-left: 12px; border-radius: 4px; color: *",
      "color #2C3E50", "color #E8EAF0" },
    { "QComboBox QAbstractItemView::item:hover", "background-color: *; color: *",
      "background-color #EBF5FB; color #2C3E50", "background-color #3D4759; color #E8EAF0" },
    { "QComboBox QAbstractItemView::item:selected", "background-color: *; color: white",
      "background-color #3498DB", "background-color #5B8DEE" },
    { "QScrollBar:vertical", "background-color: *; width: 12px; border-radius: 6px",
      "background-color #ECF0F1", "background-color #2C3546" },
    { "QScrollBar::handle:vertical", "background-color: *; border-radius: 6px; min-height: 30px",
      "background-color #BDC3C7", "background-color #3D4759" },
    { "QScrollBar::handle:vertical:hover", "background-color: *", "background-color #95A5A6",
      "background-color #4E5D73" },
    { "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical", "height: 0px", "", "" },
};

QList<SheetRule> expectedSheet(bool dark)
{
    QList<SheetRule> rules;
    for (const TableRow &row : THEME_TABLE) {
        QHash<QString, QString> colours;
        const QStringList entries = QString::fromUtf8(dark ? row.dark : row.light).split(QLatin1Char(';'));
        for (const QString &entry : entries) {
            const QString trimmed = entry.trimmed();
            if (!trimmed.isEmpty())
                colours.insert(trimmed.section(QLatin1Char(' '), 0, 0), trimmed.section(QLatin1Char(' '), 1));
        }
        QString filled = QString::fromUtf8(row.declarations);
        const QStringList declarations = filled.split(QLatin1Char(';'));
        QStringList resolved;
        for (const QString &declaration : declarations) {
            const QString property = declaration.section(QLatin1Char(':'), 0, 0).trimmed();
            if (declaration.trimmed().endsWith(QLatin1Char('*')))
                resolved << property + QStringLiteral(": ")
                        + colours.value(property, QStringLiteral("MISSING"));
            else
                resolved << declaration;
        }
        rules += parseSheet(QString::fromUtf8(row.selector) + QStringLiteral(" { ")
                            + resolved.join(QLatin1Char(';')) + QStringLiteral(" }"));
    }
    return rules;
}

QString autostartEntryPath()
{
    return qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/autostart/Marrowgate.desktop");
}

// Row by row, the number of pixels that show colour in the right-hand quarter of image, away from
// the frame.
QList<int> pixelsPerRow(const QImage &image, const QColor &colour)
{
    const int frame = 8;
    QList<int> rows;
    for (int y = frame; y < image.height() - frame; ++y) {
        int count = 0;
        for (int x = image.width() * 3 / 4; x < image.width() - frame; ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (qAbs(pixel.red() - colour.red()) + qAbs(pixel.green() - colour.green())
                    + qAbs(pixel.blue() - colour.blue())
                < 24)
                ++count;
        }
        if (count > 0)
            rows.append(count);
    }
    return rows;
}

QString referenceLogSheet(bool dark)
{
    LogWindow reference;
    reference.applyTheme(dark);
    return reference.styleSheet();
}

} // namespace

class TestPreferences : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void windowSheetsFollowTheTable_data();
    void windowSheetsFollowTheTable();
    void storedTheme_data();
    void storedTheme();
    void storedProtocol_data();
    void storedProtocol();
    void themeChangeRestylesCardsAndLogWindow();
    void showingTheLogAppliesTheTheme();
    void autoStartBoxWritesTheEntryAtOnce();
    void storedAutoStartRewritesTheEntry();
    void closingSavesThePreferences();
    void destroyingSavesTheLocalPort();
};

void TestPreferences::init()
{
    QSettings settings;
    settings.remove(QStringLiteral("theme"));
    settings.remove(QStringLiteral("autoStart"));
    settings.remove(QStringLiteral("autoConnect"));
    settings.remove(QStringLiteral("lastProtocol"));
    settings.sync();
    QFile::remove(autostartEntryPath());

    auto &store = ServerConfigManager::instance();
    while (store.getConfigs().size() > 1)
        store.removeConfig(store.getConfigs().size() - 1);
    store.setLastLocalPort(12345);
}

void TestPreferences::windowSheetsFollowTheTable_data()
{
    QTest::addColumn<int>("theme");
    QTest::addColumn<QColor>("arrow");
    QTest::addColumn<QColor>("hoveredArrow");
    QTest::newRow("light") << 0 << QColor(0x2C, 0x3E, 0x50) << QColor(0x34, 0x98, 0xDB);
    QTest::newRow("dark") << 1 << QColor(0xE8, 0xEA, 0xF0) << QColor(0x5B, 0x8D, 0xEE);
}

void TestPreferences::windowSheetsFollowTheTable()
{
    QFETCH(int, theme);
    MainWindow window;
    auto *combo = window.findChild<QComboBox *>(QStringLiteral("themeCombo"));
    // Pass through the other theme so that the sheet under test is the one the switch set.
    combo->setCurrentIndex(1 - theme);
    combo->setCurrentIndex(theme);

    const QList<SheetRule> actual = parseSheet(window.styleSheet());
    const QList<SheetRule> expected = expectedSheet(theme == 1);
    QCOMPARE(expected.size(), 29);
    QCOMPARE(actual.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        QCOMPARE(actual.at(i).selector, expected.at(i).selector);
        QCOMPARE(actual.at(i).declarations, expected.at(i).declarations);
    }

    // The selector's arrow is drawn as a triangle pointing down, not as a bar: its rows narrow
    // towards the tip, in the text colour and, under the mouse, in the accent colour.
    QFETCH(QColor, arrow);
    QFETCH(QColor, hoveredArrow);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    for (const bool hovered : { false, true }) {
        // The mouse over the arrow.
        combo->setAttribute(Qt::WA_UnderMouse, hovered);
        const QPointF arrowPos(combo->width() - 16, combo->height() / 2);
        QHoverEvent hover(hovered ? QEvent::HoverMove : QEvent::HoverLeave, arrowPos,
                          combo->mapToGlobal(arrowPos), arrowPos);
        QCoreApplication::sendEvent(combo, &hover);
        const QList<int> rows = pixelsPerRow(combo->grab().toImage(), hovered ? hoveredArrow : arrow);
        QVERIFY2(rows.size() >= 4, qPrintable(QStringLiteral("arrow rows: %1").arg(rows.size())));
        QVERIFY2(rows.first() >= rows.last() + 4,
                 qPrintable(QStringLiteral("%1 to %2").arg(rows.first()).arg(rows.last())));
        QVERIFY(std::is_sorted(rows.rbegin(), rows.rend()));
    }
}

void TestPreferences::storedTheme_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<bool>("dark");
    QTest::addColumn<int>("comboIndex");
    QTest::addColumn<QVariant>("storedAfterStart");

    QTest::newRow("nothing stored") << QVariant() << false << 0 << QVariant();
    QTest::newRow("light") << QVariant(0) << false << 0 << QVariant(0);
    QTest::newRow("dark") << QVariant(1) << true << 1 << QVariant(1);
    QTest::newRow("7 means dark without a selection") << QVariant(7) << true << -1 << QVariant(1);
    QTest::newRow("-3 means dark without a selection") << QVariant(-3) << true << -1 << QVariant(1);
    QTest::newRow("not a number reads as light")
        << QVariant(QStringLiteral("abc")) << false << 0 << QVariant(QStringLiteral("abc"));
}

void TestPreferences::storedTheme()
{
    QFETCH(QVariant, stored);
    QFETCH(bool, dark);
    QFETCH(int, comboIndex);
    QFETCH(QVariant, storedAfterStart);

    if (stored.isValid())
        QSettings().setValue(QStringLiteral("theme"), stored);
    ServerConfig user;
    user.name = QStringLiteral("user");
    user.serverAddr = QStringLiteral("10.0.0.1");
    user.token = QStringLiteral("t");
    ServerConfigManager::instance().addConfig(user);

    const QString logSheet = referenceLogSheet(dark);
    {
        MainWindow window;
        QCOMPARE(window.isDarkTheme(), dark);
        QCOMPARE(window.findChild<QComboBox *>(QStringLiteral("themeCombo"))->currentIndex(), comboIndex);
        const QList<SheetRule> sheet = parseSheet(window.styleSheet());
        QCOMPARE(sheet, expectedSheet(dark));

        const auto cards = window.findChildren<ServerCardWidget *>();
        QCOMPARE(cards.size(), 2);
        for (ServerCardWidget *card : cards)
            QVERIFY(card->styleSheet().contains(dark ? QLatin1String("#2C3546") : QLatin1String("#FFFFFF")));
        if (dark)
            QCOMPARE(window.findChild<LogWindow *>()->styleSheet(), logSheet);

        // Written during construction only when the selector changed.
        QCOMPARE(QSettings().value(QStringLiteral("theme")), storedAfterStart);
    }
    QCOMPARE(QSettings().value(QStringLiteral("theme")).toInt(), dark ? 1 : 0);
}

void TestPreferences::storedProtocol_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QString>("shown");

    QTest::newRow("nothing stored") << QVariant() << QStringLiteral("TCP");
    QTest::newRow("udp") << QVariant(QStringLiteral("udp")) << QStringLiteral("UDP");
    QTest::newRow("tcp") << QVariant(QStringLiteral("tcp")) << QStringLiteral("TCP");
    QTest::newRow("unknown") << QVariant(QStringLiteral("sctp")) << QStringLiteral("TCP");
}

// The window shows the stored protocol; a value it does not know reads as TCP and is written back so.
void TestPreferences::storedProtocol()
{
    QFETCH(QVariant, stored);
    QFETCH(QString, shown);
    if (stored.isValid())
        QSettings().setValue(QStringLiteral("lastProtocol"), stored);
    {
        MainWindow window;
        QCOMPARE(window.findChild<QComboBox *>(QStringLiteral("protocolCombo"))->currentText(), shown);
    }
    QCOMPARE(QSettings().value(QStringLiteral("lastProtocol")).toString(), shown.toLower());
}

void TestPreferences::themeChangeRestylesCardsAndLogWindow()
{
    for (const QString &name : { QStringLiteral("first"), QStringLiteral("second") }) {
        ServerConfig user;
        user.name = name;
        user.serverAddr = QStringLiteral("10.0.0.1");
        user.token = QStringLiteral("t");
        ServerConfigManager::instance().addConfig(user);
    }
    const QString darkLog = referenceLogSheet(true);
    const QString lightLog = referenceLogSheet(false);

    MainWindow window;
    auto *combo = window.findChild<QComboBox *>(QStringLiteral("themeCombo"));
    auto *logWindow = window.findChild<LogWindow *>();
    QVERIFY(!logWindow->isVisible());
    const auto cards = window.findChildren<ServerCardWidget *>();
    QCOMPARE(cards.size(), 3);

    combo->setCurrentIndex(1);
    QVERIFY(window.isDarkTheme());
    QCOMPARE(parseSheet(window.styleSheet()), expectedSheet(true));
    for (ServerCardWidget *card : cards)
        QVERIFY(card->styleSheet().contains(QLatin1String("background-color: #2C3546;")));
    QCOMPARE(logWindow->styleSheet(), darkLog);
    QVERIFY(!logWindow->isVisible());
    QCOMPARE(QSettings().value(QStringLiteral("theme")).toInt(), 1);

    combo->setCurrentIndex(0);
    QVERIFY(!window.isDarkTheme());
    QCOMPARE(parseSheet(window.styleSheet()), expectedSheet(false));
    for (ServerCardWidget *card : cards)
        QVERIFY(card->styleSheet().contains(QLatin1String("background-color: #FFFFFF;")));
    QCOMPARE(logWindow->styleSheet(), lightLog);
    QCOMPARE(QSettings().value(QStringLiteral("theme")).toInt(), 0);
}

void TestPreferences::showingTheLogAppliesTheTheme()
{
    QSettings().setValue(QStringLiteral("theme"), 1);
    const QString darkLog = referenceLogSheet(true);

    MainWindow window;
    window.show();
    auto *logWindow = window.findChild<LogWindow *>();
    logWindow->applyTheme(false);

    QPushButton *showLog = nullptr;
    for (QPushButton *button : window.findChildren<QPushButton *>()) {
        if (button->text() == QStringLiteral("查看日志"))
            showLog = button;
    }
    QVERIFY(showLog);
    QTest::mouseClick(showLog, Qt::LeftButton);
    QVERIFY(logWindow->isVisible());
    QVERIFY(!logWindow->isModal());
    QCOMPARE(logWindow->styleSheet(), darkLog);
    logWindow->hide();
}

void TestPreferences::autoStartBoxWritesTheEntryAtOnce()
{
    MainWindow window;
    auto *check = window.findChild<QCheckBox *>();
    QVERIFY(!check->isChecked());
    QVERIFY(!QFile::exists(autostartEntryPath()));

    check->setChecked(true);
    QVERIFY(QFile::exists(autostartEntryPath()));
    // The preference itself is stored only when the window saves its settings.
    QVERIFY(!QSettings().contains(QStringLiteral("autoStart")));

    check->setChecked(false);
    QVERIFY(!QFile::exists(autostartEntryPath()));
    QVERIFY(!QSettings().contains(QStringLiteral("autoStart")));
}

void TestPreferences::storedAutoStartRewritesTheEntry()
{
    // Stored on: the entry is written again at every start.
    QSettings().setValue(QStringLiteral("autoStart"), true);
    {
        MainWindow window;
        QVERIFY(window.findChild<QCheckBox *>()->isChecked());
        QVERIFY(QFile::exists(autostartEntryPath()));
    }

    // Stored off: an entry that exists is left alone.
    QSettings().setValue(QStringLiteral("autoStart"), false);
    QFile entry(autostartEntryPath());
    QVERIFY(entry.open(QIODevice::WriteOnly | QIODevice::Truncate));
    entry.write("left alone\n");
    entry.close();
    {
        MainWindow window;
        QVERIFY(!window.findChild<QCheckBox *>()->isChecked());
    }
    QVERIFY(entry.open(QIODevice::ReadOnly));
    QCOMPARE(entry.readAll(), QByteArray("left alone\n"));
}

void TestPreferences::closingSavesThePreferences()
{
    {
        MainWindow window;
        window.show();
        window.findChild<QSpinBox *>()->setValue(23456);
        window.findChild<QCheckBox *>()->setChecked(true);
        window.findChild<QCheckBox *>(QStringLiteral("autoConnectCheck"))->setChecked(true);
        window.findChild<QComboBox *>(QStringLiteral("themeCombo"))->setCurrentIndex(1);
        window.findChild<QComboBox *>(QStringLiteral("protocolCombo"))->setCurrentIndex(1);
        QVERIFY(window.close());
        QVERIFY(!window.isVisible());

        QSettings settings;
        QCOMPARE(settings.value(QStringLiteral("autoStart")).toBool(), true);
        QCOMPARE(settings.value(QStringLiteral("autoConnect")).toBool(), true);
        QCOMPARE(settings.value(QStringLiteral("theme")).toInt(), 1);
        QCOMPARE(ServerConfigManager::instance().getLastLocalPort(), 23456);
        QCOMPARE(settings.value(QStringLiteral("lastProtocol")).toString(), QStringLiteral("udp"));
    }

    MainWindow next;
    QCOMPARE(next.findChild<QSpinBox *>()->value(), 23456);
    QCOMPARE(next.findChild<QComboBox *>(QStringLiteral("protocolCombo"))->currentText(),
             QStringLiteral("UDP"));
    QVERIFY(next.findChild<QCheckBox *>()->isChecked());
    QVERIFY(next.findChild<QCheckBox *>(QStringLiteral("autoConnectCheck"))->isChecked());
    QVERIFY(next.isDarkTheme());
}

void TestPreferences::destroyingSavesTheLocalPort()
{
    {
        MainWindow window;
        window.findChild<QSpinBox *>()->setValue(4242);
    }
    QCOMPARE(ServerConfigManager::instance().getLastLocalPort(), 4242);
    QCOMPARE(QSettings().value(QStringLiteral("autoStart")).toBool(), false);
    QCOMPARE(QSettings().value(QStringLiteral("theme")).toInt(), 0);
}

MARROWGATE_TEST_MAIN(TestPreferences)
#include "tst_preferences.moc"
