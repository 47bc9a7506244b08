#pragma once

// The reading of the desktop's date patterns, shared by the INI date text and the display
// format codes. Internal to the date texts.
#include <QChar>
#include <QString>
#include <vector>

namespace morvane::datetext {

// A run of one pattern letter, or literal text (Letter 0).
struct PatternToken
{
    char Letter = 0; // 0: Literal
    int Count = 0;
    QString Literal;
};

// Splits a QLocale pattern into letter runs and literal text; '...' quotes, '' is a quote.
std::vector<PatternToken> TokenizePattern(const QString& pattern);
bool IsSeparatorChar(QChar c);
// Monday 1 ... Sunday 7.
int IsoWeekday(double date);

} // namespace morvane::datetext
