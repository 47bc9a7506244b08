#include "monitor/CaptionToolBar.h"

namespace morvane::monitor {

CaptionToolBar::CaptionToolBar(QWidget* parent) : QToolBar(parent)
{
    ApplyStyle();
}

void CaptionToolBar::SetShowCaptions(bool on)
{
    m_showCaptions = on;
    ApplyStyle();
}

void CaptionToolBar::SetList(bool on)
{
    m_list = on;
    ApplyStyle();
}

void CaptionToolBar::ApplyStyle()
{
    if (!m_showCaptions)
        setToolButtonStyle(Qt::ToolButtonIconOnly);
    else
        setToolButtonStyle(m_list ? Qt::ToolButtonTextBesideIcon : Qt::ToolButtonTextUnderIcon);
}

} // namespace morvane::monitor
