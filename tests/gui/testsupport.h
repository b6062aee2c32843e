// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "coretestsupport.h"

#include <QApplication>
#include <QPushButton>

namespace TestSupport {

// The push button below parent that reads text, as a person finds it.
inline QPushButton *buttonWithText(QWidget *parent, const QString &text)
{
    const QList<QPushButton *> buttons = parent->findChildren<QPushButton *>();
    for (QPushButton *button : buttons) {
        if (button->text() == text)
            return button;
    }
    return nullptr;
}

} // namespace TestSupport

// For tests of the window and its parts.
#define MARROWGATE_TEST_MAIN(TestObject) MARROWGATE_TEST_MAIN_WITH(QApplication, TestObject)
