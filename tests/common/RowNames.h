#pragma once

// Names for the rows of parameterized suites that are the same in every build, so that
// one row can be run alone by name (gtest's own and CTest's would show raw bytes).

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
std::string RowText(const T& v)
{
    if constexpr (std::is_same_v<T, bool>)
        return v ? "Yes" : "No";
    else if constexpr (std::is_arithmetic_v<T> || std::is_enum_v<T>)
        return std::to_string(static_cast<long long>(v));
    else if constexpr (std::is_convertible_v<const T&, QString>)
        return QString(v).toStdString();
    else if constexpr (std::is_convertible_v<const T&, std::string>)
        return v;
    else if constexpr (requires { std::tuple_size<T>::value; })
        return std::apply([](const auto&... part) { return ((RowText(part) + " ") + ... + std::string()); },
                          v);
    else
        return std::accumulate(
            v.begin(), v.end(), std::string(),
            [](const std::string& out, const auto& item) { return out + RowText(item) + " "; });
}

// The letters and digits of the parts, every other run of characters as one "_", cut
// short, then the row's index, which keeps rows apart whose texts come out alike.
template <class... Parts>
std::string RowName(std::size_t index, const Parts&... parts)
{
    std::string name;
    bool gap = false;
    for (const char c : ((RowText(parts) + " ") + ... + std::string())) {
        const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (kept)
            name += (gap && !name.empty() ? "_" : "") + std::string(1, c);
        gap = !kept;
        if (name.size() >= 40)
            break;
    }
    return (name.empty() ? "Row" : name + "_") + std::to_string(index);
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
