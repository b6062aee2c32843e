// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QMessageBox>

// A modal message box whose text is shown as typed: names and paths may hold markup characters.
inline void showPlainMessage(QWidget *parent, QMessageBox::Icon icon, const QString &title,
                             const QString &text)
{
    QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}
