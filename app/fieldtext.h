// Setting a QLineEdit's text lays out and repaints the field even when the
// text is the one it already shows. Most fields keep their text from one
// poll to the next, so the slots set a field only when its text changes.
#pragma once

#include <QLineEdit>
#include <QString>

namespace quelmar {

inline void setTextIfChanged(QLineEdit *field, const QString &text)
{
    if (field->text() != text)
        field->setText(text);
}

} // namespace quelmar
