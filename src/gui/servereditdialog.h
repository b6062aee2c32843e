// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QDialog>

class QFormLayout;
class QLineEdit;
class QPushButton;
class QSpinBox;

// Adds a server to the store (index -1) or edits the stored server at `index`. Saving checks the
// fields, writes the entry, closes the dialog and then reports `saved`; cancelling changes nothing.
// The dialog deletes itself once closed.
class ServerEditDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ServerEditDialog(int index, QWidget *parent = nullptr);

signals:
    void saved();

protected:
    void changeEvent(QEvent *event) override;

private:
    void setupUI();
    // Sets the title, the labels, the hints and the buttons in the current language.
    void retranslateUi();
    void loadEntry();
    void onSave();

    int m_index;
    QLineEdit *m_nameEdit = nullptr;
    QLineEdit *m_addrEdit = nullptr;
    QSpinBox *m_portSpin = nullptr;
    QLineEdit *m_tokenEdit = nullptr;
    QSpinBox *m_webPortSpin = nullptr;
    QFormLayout *m_form = nullptr;
    QPushButton *m_saveBtn = nullptr;
    QPushButton *m_cancelBtn = nullptr;
};
