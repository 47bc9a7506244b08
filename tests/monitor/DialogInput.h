#pragma once

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>

namespace morvane::test {

// Types text into a field key by key, as a user would (each key passes the field's
// input rule on its own).
inline void TypeKeys(QLineEdit* edit, const QString& text)
{
    edit->setFocus();
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(edit, &press);
    }
}

inline void Backspaces(QLineEdit* edit, int count)
{
    edit->end(false);
    for (int i = 0; i < count; ++i) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
        QApplication::sendEvent(edit, &press);
    }
}

} // namespace morvane::test
