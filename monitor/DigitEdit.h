#pragma once

#include <QLineEdit>
#include <optional>

class QAbstractButton;
class QWidget;

namespace morvane::monitor {

// A number field of the option dialogs: it takes only the digits 0 to 9, up to a fixed
// number of them (typed or pasted), and after every change replaces an empty text by
// EmptyText, a value below Minimum by the minimum and one above Maximum by the maximum.
// Main thread.
class DigitEdit : public QLineEdit
{
    Q_OBJECT
public:
    DigitEdit(int maxDigits, const QString& emptyText, QWidget* parent = nullptr);

    // Corrections applied after every change (none by default).
    void SetMinimum(int minimum) { m_minimum = minimum; }
    void SetMaximum(int maximum) { m_maximum = maximum; }

    // The field's number; nothing when the text is empty (an empty text counts as no
    // number, so a form can refuse it).
    std::optional<int> Value() const;
    // Shows value, or fallback when value is outside what the field can hold (a stored
    // value that cannot be typed here).
    void SetValue(long long value, int fallback);

private:
    void Correct();

    int m_maxDigits;
    QString m_emptyText;
    std::optional<int> m_minimum;
    std::optional<int> m_maximum;
};

// The font of a check box or radio button: bold when it is checked.
void MarkChecked(QAbstractButton* button);
// Bold for the checked radio buttons among the children of parent, regular for the rest.
void MarkRadioGroup(QWidget* parent);

} // namespace morvane::monitor
