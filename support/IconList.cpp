#include "IconList.h"

namespace morvane {

IconList::IconList(QObject* owner) : QObject(owner) {}

QIcon IconList::GetIcon(int index) const
{
    if (index < 0 || index >= Count())
        return {};
    return m_icons[index];
}

int IconList::Add(const QIcon& icon)
{
    m_icons.append(icon);
    emit Changed();
    return Count() - 1;
}

void IconList::Clear()
{
    m_icons.clear();
    emit Changed();
}

} // namespace morvane
