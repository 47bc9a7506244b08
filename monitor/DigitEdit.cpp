#include "monitor/DigitEdit.h"

#include <QAbstractButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>

namespace morvane::monitor {

DigitEdit::DigitEdit(int maxDigits, const QString& emptyText, QWidget* parent)
    : QLineEdit(parent), m_maxDigits(maxDigits), m_emptyText(emptyText)
{
    setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]{0,%1}").arg(maxDigits)), this));
    setMaxLength(maxDigits);
    connect(this, &QLineEdit::textChanged, this, &DigitEdit::Correct);
}

void DigitEdit::Correct()
{
    const QString current = text();
    QString wanted = current;
    if (wanted.isEmpty()) {
        wanted = m_emptyText;
    } else {
        bool ok = false;
        const int value = wanted.toInt(&ok);
        if (ok && m_minimum && value < *m_minimum)
            wanted = QString::number(*m_minimum);
        if (ok && m_maximum && value > *m_maximum)
            wanted = QString::number(*m_maximum);
    }
    if (wanted != current)
        setText(wanted);
}

std::optional<int> DigitEdit::Value() const
{
    bool ok = false;
    const int value = text().toInt(&ok);
    if (!ok || text().size() > m_maxDigits)
        return std::nullopt;
    return value;
}

void DigitEdit::SetValue(long long value, int fallback)
{
    long long limit = 1;
    for (int i = 0; i < m_maxDigits; ++i)
        limit *= 10;
    if (value < 0 || value >= limit)
        value = fallback;
    setText(QString::number(value));
}

void MarkChecked(QAbstractButton* button)
{
    QFont font = button->font();
    font.setBold(button->isChecked());
    button->setFont(font);
}

void MarkRadioGroup(QWidget* parent)
{
    for (QRadioButton* radio : parent->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly))
        MarkChecked(radio);
}

} // namespace morvane::monitor
