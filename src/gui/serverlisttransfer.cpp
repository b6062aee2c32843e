// SPDX-License-Identifier: Apache-2.0
// Export and import of the server list, and the list's context menu.
#include "gui/serverlisttransfer.h"

#include "core/serverconfig.h"
#include "gui/plainmessagebox.h"
#include "gui/themestyles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>

namespace ServerListTransfer {

Action chooseFromMenu(QWidget *parent, const QPoint &globalPos, bool dark)
{
    QMenu menu(parent);
    menu.setStyleSheet(ThemeStyles::menuSheet(dark));
    QAction *exportAction
        = menu.addAction(QCoreApplication::translate("ServerListTransfer", "导出服务器列表..."));
    QAction *importAction
        = menu.addAction(QCoreApplication::translate("ServerListTransfer", "导入服务器列表..."));
    QAction *chosen = menu.exec(globalPos);
    if (chosen == exportAction)
        return Action::Export;
    if (chosen == importAction)
        return Action::Import;
    return Action::None;
}

void exportServers(QWidget *parent)
{
    const QString suggested = QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
                                  .filePath(QStringLiteral("servers.json"));
    const QString path = QFileDialog::getSaveFileName(
        parent, QCoreApplication::translate("ServerListTransfer", "导出服务器列表"), suggested,
        QCoreApplication::translate("ServerListTransfer", "JSON 文件 (*.json);;所有文件 (*)"));
    if (path.isEmpty())
        return;

    QString reason;
    if (!ServerConfigManager::instance().exportToFile(path, &reason)) {
        showPlainMessage(parent, QMessageBox::Warning,
                         QCoreApplication::translate("ServerListTransfer", "导出失败"),
                         QCoreApplication::translate("ServerListTransfer", "无法写入 %1\n\n%2")
                             .arg(QDir::toNativeSeparators(path), reason));
        return;
    }
    showPlainMessage(parent, QMessageBox::Information,
                     QCoreApplication::translate("ServerListTransfer", "导出完成"),
                     QCoreApplication::translate("ServerListTransfer",
                                                 "已将 %1 个服务器导出到 %2\n\n文件中含有令牌，请妥善保管。")
                         .arg(QString::number(ServerConfigManager::instance().getConfigs().size()),
                              QDir::toNativeSeparators(path)));
}

void importServers(QWidget *parent, bool tunnelRunning, const std::function<void()> &listChanged)
{
    const QString path = QFileDialog::getOpenFileName(
        parent, QCoreApplication::translate("ServerListTransfer", "导入服务器列表"),
        QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation),
        QCoreApplication::translate("ServerListTransfer", "JSON 文件 (*.json);;所有文件 (*)"));
    if (path.isEmpty())
        return;

    QMessageBox question(QMessageBox::Question,
                         QCoreApplication::translate("ServerListTransfer", "导入服务器列表"),
                         QCoreApplication::translate("ServerListTransfer",
                                                     "将 %1 中的服务器追加到列表末尾，还是替换现有的服务器？")
                             .arg(QDir::toNativeSeparators(path)),
                         QMessageBox::NoButton, parent);
    question.setTextFormat(Qt::PlainText);
    QPushButton *appendBtn = question.addButton(QCoreApplication::translate("ServerListTransfer", "追加"),
                                                QMessageBox::AcceptRole);
    QPushButton *replaceBtn = question.addButton(QCoreApplication::translate("ServerListTransfer", "替换"),
                                                 QMessageBox::DestructiveRole);
    question.addButton(QCoreApplication::translate("ServerListTransfer", "取消"), QMessageBox::RejectRole);
    question.setDefaultButton(appendBtn);
    question.exec();
    const bool append = question.clickedButton() == appendBtn;
    if (!append && question.clickedButton() != replaceBtn)
        return;

    // Replacing would take away the entry the running tunnel was started from.
    if (!append && tunnelRunning) {
        QMessageBox::warning(parent, QCoreApplication::translate("ServerListTransfer", "无法替换"),
                             QCoreApplication::translate("ServerListTransfer",
                                                         "隧道正在运行中，请先断开连接再替换服务器列表。"));
        return;
    }

    QString reason;
    int added = 0;
    int skipped = 0;
    ServerConfigManager &store = ServerConfigManager::instance();
    if (!store.importFromFile(path, append, &reason, &added, &skipped)) {
        showPlainMessage(parent, QMessageBox::Warning,
                         QCoreApplication::translate("ServerListTransfer", "导入失败"),
                         QCoreApplication::translate("ServerListTransfer", "无法导入 %1\n\n%2")
                             .arg(QDir::toNativeSeparators(path), reason));
        return;
    }
    // Reloading puts the built-in entry back in front after a replacing import, as the next start would.
    store.loadConfigs();
    listChanged();
    QMessageBox::information(
        parent, QCoreApplication::translate("ServerListTransfer", "导入完成"),
        QCoreApplication::translate("ServerListTransfer", "已添加 %1 个服务器，跳过 %2 个无效条目。")
            .arg(added)
            .arg(skipped));
}

} // namespace ServerListTransfer
