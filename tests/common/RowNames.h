#pragma once

// Names for the rows of parameterized suites that are the same in every build, so that
// one row can be run alone by name (gtest's own and CTest's would show raw bytes).

#include <QString>
#include <QStringList>
#include <cstddef>
#include <gtest/gtest.h>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

namespace morvane::test {

namespace rownames {

inline std::string Text(const std::string& s)
{
    return s;
}
inline std::string Text(const char* s)
{
    return s ? s : "";
}
inline std::string Text(const QString& s)
{
    return s.toStdString();
}
inline std::string Text(bool b)
{
    return b ? "Yes" : "No";
}
template <class T>
requires std::is_arithmetic_v<T> || std::is_enum_v<T> std::string Text(T v)
{
    return std::to_string(static_cast<long long>(v));
}
inline std::string Text(const QStringList& list)
{
    return list.join(' ').toStdString();
}
template <class T>
std::string Text(const std::vector<T>& list)
{
    std::string out;
    for (const T& item : list)
        out += Text(item) + " ";
    return out;
}
template <class... T>
std::string Text(const std::tuple<T...>& row)
{
    return std::apply([](const T&... part) { return ((Text(part) + " ") + ...); }, row);
}

} // namespace rownames

// The letters and digits of the parts, every other run of characters as one "_", cut
// short, then the row's index, which keeps rows apart whose texts come out alike.
template <class... Parts>
std::string RowName(std::size_t index, const Parts&... parts)
{
    std::string text;
    ((text += rownames::Text(parts) + " "), ...);
    std::string name;
    bool gap = false;
    for (const char c : text) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
            if (gap && !name.empty())
                name += '_';
            gap = false;
            name += c;
        } else {
            gap = true;
        }
        if (name.size() >= 40)
            break;
    }
    return (name.empty() ? "Row" : name + "_") + std::to_string(index);
}

// A generator for rows of plain values: strings, numbers, tuples of them.
struct ValueRowName
{
    template <class T>
    std::string operator()(const ::testing::TestParamInfo<T>& info) const
    {
        return RowName(info.index, info.param);
    }
};

// A generator that names the rows in order, for rows that have no text to show.
class RowNames
{
public:
    RowNames(std::initializer_list<const char*> names) : m_names(names.begin(), names.end()) {}
    template <class T>
    std::string operator()(const ::testing::TestParamInfo<T>& info) const
    {
        return m_names.at(info.index);
    }

private:
    std::vector<std::string> m_names;
};

} // namespace morvane::test
