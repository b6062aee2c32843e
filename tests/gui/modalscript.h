// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QtTest>

#include <functional>

// Plays the person in front of the modal windows: every step waits until a modal window of its
// kind is on top, then acts on it. Buttons are pressed through the event loop, so that a box the
// press opens runs its own loop outside the step. A modal window nobody expects is recorded and
// closed after a second, so that a wrong turn fails the test instead of hanging it.
class ModalScript : public QObject
{
public:
    ModalScript()
    {
        connect(&m_timer, &QTimer::timeout, this, &ModalScript::poll);
        m_timer.start(10);
    }

    void onMessageBox(std::function<void(QMessageBox *)> step)
    {
        m_steps.append([step](QWidget *widget) {
            auto *box = qobject_cast<QMessageBox *>(widget);
            if (box)
                step(box);
            return box != nullptr;
        });
    }
    void onDialog(std::function<void(QDialog *)> step)
    {
        m_steps.append([step](QWidget *widget) {
            auto *dialog = qobject_cast<QDialog *>(widget);
            if (!dialog || qobject_cast<QMessageBox *>(widget))
                return false;
            step(dialog);
            return true;
        });
    }
    // Answers the next message box with `button` and records its title and text.
    void answer(QMessageBox::StandardButton button)
    {
        onMessageBox([this, button](QMessageBox *box) {
            boxes << box->windowTitle() + QLatin1Char('|') + box->text();
            press(box->button(button));
        });
    }

    static void press(QAbstractButton *button)
    {
        QVERIFY(button);
        QTimer::singleShot(0, button, [button] { button->click(); });
    }

    bool finished() const { return m_steps.isEmpty(); }
    QStringList boxes;
    QStringList unexpected;

private:
    void poll()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible()) {
            m_unexpectedSince.invalidate();
            return;
        }
        if (!m_steps.isEmpty() && m_lastActedOn != modal) {
            if (m_steps.first()(modal)) {
                m_steps.removeFirst();
                m_lastActedOn = modal;
                m_unexpectedSince.invalidate();
                // A dialog that comes back after a message box is a new occasion to act on.
                QTimer::singleShot(50, this, [this] { m_lastActedOn = nullptr; });
            }
            return;
        }
        if (!m_unexpectedSince.isValid()) {
            m_unexpectedSince.start();
        } else if (m_unexpectedSince.elapsed() > 1000) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            unexpected << modal->windowTitle() + (box ? QLatin1Char('|') + box->text() : QString());
            m_unexpectedSince.invalidate();
            if (auto *dialog = qobject_cast<QDialog *>(modal))
                dialog->reject();
            else
                modal->close();
        }
    }

    QTimer m_timer;
    QList<std::function<bool(QWidget *)>> m_steps;
    QPointer<QWidget> m_lastActedOn;
    QElapsedTimer m_unexpectedSince;
};

// Ends a script: the test fails when a modal window came that nobody expected, or one that the
// script waited for never came.
inline void finishModalScript(ModalScript *&script)
{
    const QStringList unexpected = script->unexpected;
    const bool finished = script->finished();
    delete script;
    script = nullptr;
    QVERIFY2(unexpected.isEmpty(),
             qPrintable(QStringLiteral("unexpected modal windows: ") + unexpected.join(u',')));
    QVERIFY2(finished, "a modal window the test waited for never appeared");
}
