#pragma once

#include <QIcon>
#include <QObject>
#include <QVector>

namespace morvane {

// An ordered list of icons that components show by index. Changed is emitted after
// every change so that components showing one of the icons can reload it. Main thread.
class IconList : public QObject
{
    Q_OBJECT

public:
    explicit IconList(QObject* owner = nullptr);

    int Count() const { return static_cast<int>(m_icons.size()); }
    // The icon at index, or a null icon when index is out of range.
    QIcon GetIcon(int index) const;
    // Appends icon; returns its index.
    int Add(const QIcon& icon);
    void Clear();

signals:
    void Changed();

private:
    QVector<QIcon> m_icons;
};

} // namespace morvane
