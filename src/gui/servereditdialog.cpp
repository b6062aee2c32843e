// SPDX-License-Identifier: Apache-2.0
// The dialog that adds or edits a server entry.
#include "gui/servereditdialog.h"

#include "core/serverconfig.h"
#include "gui/themestyles.h"

#include <QEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

ServerEditDialog::ServerEditDialog(int index, QWidget *parent)
    : QDialog(parent)
    , m_index(index)
{
    resize(400, 350);
    setAttribute(Qt::WA_DeleteOnClose);
    setupUI();
    retranslateUi();
}

void ServerEditDialog::retranslateUi()
{
    setWindowTitle(m_index == -1 ? tr("添加服务器") : tr("编辑服务器"));
    m_nameEdit->setPlaceholderText(tr("例如: 主服务器"));
    m_addrEdit->setPlaceholderText(tr("例如: 127.0.0.1"));
    m_tokenEdit->setPlaceholderText(tr("认证令牌"));
    const std::pair<QWidget *, QString> labels[] = {
        { m_nameEdit, tr("配置名称:") },        { m_addrEdit, tr("服务器地址:") },
        { m_portSpin, tr("服务器端口:") },      { m_tokenEdit, tr("Token:") },
        { m_webPortSpin, tr("Web API 端口:") },
    };
    for (const auto &[field, text] : labels) {
        if (auto *label = qobject_cast<QLabel *>(m_form->labelForField(field)))
            label->setText(text);
    }
    m_saveBtn->setText(tr("保存"));
    m_cancelBtn->setText(tr("取消"));
}

void ServerEditDialog::changeEvent(QEvent *event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::LanguageChange)
        retranslateUi();
}

void ServerEditDialog::setupUI()
{
    auto *mainLayout = new QVBoxLayout(this);
    mainLayout->setContentsMargins(20, 20, 20, 20);
    mainLayout->setSpacing(15);
    auto *formLayout = new QFormLayout;
    m_form = formLayout;
    // Each field's label names it (its buddy); the texts come with the language.
    const auto addRow = [this, formLayout](QWidget *field) {
        auto *label = new QLabel(this);
        label->setBuddy(field);
        formLayout->addRow(label, field);
    };
    formLayout->setSpacing(12);

    const QString lineEditSheet = ThemeStyles::lineEditSheet();

    m_nameEdit = new QLineEdit(this);
    m_nameEdit->setStyleSheet(lineEditSheet);
    addRow(m_nameEdit);

    m_addrEdit = new QLineEdit(this);
    m_addrEdit->setStyleSheet(lineEditSheet);
    addRow(m_addrEdit);

    m_portSpin = new QSpinBox(this);
    m_portSpin->setRange(1, 65535);
    m_portSpin->setValue(7000);
    m_portSpin->setButtonSymbols(QAbstractSpinBox::NoButtons);
    addRow(m_portSpin);

    m_tokenEdit = new QLineEdit(this);
    m_tokenEdit->setStyleSheet(lineEditSheet);
    addRow(m_tokenEdit);

    m_webPortSpin = new QSpinBox(this);
    m_webPortSpin->setRange(1, 65535);
    m_webPortSpin->setValue(7400);
    m_webPortSpin->setButtonSymbols(QAbstractSpinBox::NoButtons);
    addRow(m_webPortSpin);

    mainLayout->addLayout(formLayout);

    loadEntry();

    auto *btnLayout = new QHBoxLayout;
    btnLayout->addStretch();
    auto *saveBtn = new QPushButton(this);
    m_saveBtn = saveBtn;
    saveBtn->setFixedSize(70, 28);
    saveBtn->setStyleSheet(QStringLiteral("font-size: 9pt;"));
    auto *cancelBtn = new QPushButton(this);
    m_cancelBtn = cancelBtn;
    cancelBtn->setFixedSize(70, 28);
    cancelBtn->setStyleSheet(QStringLiteral("font-size: 9pt;"));
    btnLayout->addWidget(saveBtn);
    btnLayout->addWidget(cancelBtn);
    mainLayout->addLayout(btnLayout);

    connect(saveBtn, &QPushButton::clicked, this, &ServerEditDialog::onSave);
    connect(cancelBtn, &QPushButton::clicked, this, &QDialog::reject);
}

// An index outside the list leaves the fields at their initial values.
void ServerEditDialog::loadEntry()
{
    if (m_index == -1)
        return;
    const QList<ServerConfig> configs = ServerConfigManager::instance().getConfigs();
    if (m_index < 0 || m_index >= configs.size())
        return;
    const ServerConfig &config = configs.at(m_index);
    m_nameEdit->setText(config.name);
    m_addrEdit->setText(config.serverAddr);
    m_portSpin->setValue(config.serverPort);
    m_tokenEdit->setText(config.token);
    m_webPortSpin->setValue(config.webServerPort);
}

void ServerEditDialog::onSave()
{
    ServerConfig config;
    config.name = m_nameEdit->text().trimmed();
    config.serverAddr = m_addrEdit->text().trimmed();
    config.serverPort = m_portSpin->value();
    config.token = m_tokenEdit->text().trimmed();
    config.webServerPort = m_webPortSpin->value();
    config.isBuiltIn = false;

    QString problem;
    if (config.name.isEmpty())
        problem = tr("配置名称不能为空");
    else if (config.serverAddr.isEmpty())
        problem = tr("服务器地址不能为空");
    else if (config.token.isEmpty())
        problem = tr("Token 不能为空");
    if (!problem.isEmpty()) {
        QMessageBox::warning(this, tr("验证失败"), problem);
        return;
    }

    if (m_index == -1)
        ServerConfigManager::instance().addConfig(config);
    else
        ServerConfigManager::instance().updateConfig(m_index, config);
    accept();
    emit saved();
}
