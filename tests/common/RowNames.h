#pragma once

// Names for the rows of parameterized suites that are the same in every build, so that
// one row can be run alone by name (gtest's own and CTest's would show raw bytes).

#include <QRegularExpression>
#include <QStringList>
#include <gtest/gtest.h>
#include <numeric>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

namespace morvane::test {

// A value's text: numbers, strings of any kind, tuples and lists of them.
template <class T>
QString RowText(const T& v)
{
    if constexpr (std::is_same_v<T, bool>)
        return v ? "Yes" : "No";
    else if constexpr (std::is_arithmetic_v<T> || std::is_enum_v<T>)
        return QString::number(static_cast<long long>(v));
    else if constexpr (std::is_convertible_v<const T&, QString>)
        return v;
    else if constexpr (std::is_convertible_v<const T&, std::string>)
        return QString::fromStdString(v);
    else if constexpr (requires { std::tuple_size<T>::value; })
        return std::apply([](const auto&... part) { return QStringList{RowText(part)...}.join(' '); }, v);
    else
        return std::accumulate(v.begin(), v.end(), QString(), [](const QString& out, const auto& item) {
            return out + RowText(item) + ' ';
        });
}

// The letters and digits of the parts, every other run of characters as one "_", cut
// short, then the row's index, which keeps rows apart whose texts come out alike.
template <class... Parts>
std::string RowName(std::size_t index, const Parts&... parts)
{
    static const QRegularExpression gaps("[^A-Za-z0-9]+");
    QString name = QStringList{RowText(parts)...}.join(' ').replace(gaps, " ").simplified().replace(' ', '_');
    if (name.size() > 40) // cut after a letter or digit
        name.truncate(name[39] == '_' ? 41 : 40);
    return (name.isEmpty() ? "Row" : name.toStdString() + "_") + std::to_string(index);
}

// A generator that names the rows by the given fields of theirs.
template <class... Fields>
auto RowNamesBy(Fields... fields)
{
    return [=](const auto& info) {
        return RowName(info.index, (info.param.*fields)...);
    };
}

// A generator for rows of plain values: strings, numbers, tuples of them.
struct ValueRowName
{
    std::string operator()(const auto& info) const { return RowName(info.index, info.param); }
};

// A generator that names the rows in order, for rows that have no text to show.
struct RowNames
{
    RowNames(std::initializer_list<const char*> names) : m_names(names.begin(), names.end()) {}
    std::string operator()(const auto& info) const { return m_names.at(info.index); }
    std::vector<std::string> m_names;
};

} // namespace morvane::test
