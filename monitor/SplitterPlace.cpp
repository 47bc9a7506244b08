#include "monitor/SplitterPlace.h"

#include <QEvent>
#include <QSplitter>
#include <algorithm>

namespace morvane::monitor {

SplitterPlace::SplitterPlace(QSplitter* splitter) : QObject(splitter), m_splitter(splitter)
{
    splitter->installEventFilter(this);
    // Only a drag of the user's emits this; from then on the user's place is what shows.
    connect(splitter, &QSplitter::splitterMoved, this, [this] { m_wanted = -1; });
}

int SplitterPlace::Get() const
{
    if (m_wanted >= 0)
        return m_wanted;
    const QList<int> sizes = m_splitter->sizes();
    return sizes.isEmpty() ? 0 : sizes.front();
}

void SplitterPlace::Set(int size)
{
    if (size < 0)
        return;
    m_wanted = size;
    Apply();
}

bool SplitterPlace::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_splitter && (event->type() == QEvent::Resize || event->type() == QEvent::Show))
        Apply();
    return QObject::eventFilter(watched, event);
}

void SplitterPlace::Apply()
{
    // Before the splitter is shown its size is not the one it will have.
    if (m_wanted < 0 || !m_splitter->isVisible() || m_splitter->count() != 2)
        return;
    const QRect area = m_splitter->contentsRect();
    const int extent = m_splitter->orientation() == Qt::Horizontal ? area.width() : area.height();
    const int total = std::max(0, extent - m_splitter->handleWidth());
    const int first = std::min(m_wanted, total);
    m_splitter->setSizes({first, total - first});
}

} // namespace morvane::monitor
