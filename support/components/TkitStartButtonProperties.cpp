#include "TkitStartButtonProperties.h"

namespace morvane {

TkitStartButtonProperties::TkitStartButtonProperties(QObject* owner) : TkitComponent(owner)
{
    UpdateButtonBounds();
}

TkitStartButtonProperties::~TkitStartButtonProperties()
{
    m_startButton = 0;
}

void TkitStartButtonProperties::UpdateButtonBounds()
{
    // No button to read: the caches keep what they hold.
}

void TkitStartButtonProperties::SetButtonBounds(int left, int top, int width, int height)
{
    if (left == m_cachedLeft && top == m_cachedTop && width == m_cachedWidth && height == m_cachedHeight)
        return;
    // There is no button to move; a desktop's panels are never touched.
}

int TkitStartButtonProperties::ButtonLeft()
{
    UpdateButtonBounds();
    return m_cachedLeft;
}

int TkitStartButtonProperties::ButtonTop()
{
    UpdateButtonBounds();
    return m_cachedTop;
}

int TkitStartButtonProperties::ButtonWidth()
{
    UpdateButtonBounds();
    return m_cachedWidth;
}

int TkitStartButtonProperties::ButtonHeight()
{
    UpdateButtonBounds();
    return m_cachedHeight;
}

void TkitStartButtonProperties::SetButtonLeft(int value)
{
    SetButtonBounds(value, m_cachedTop, m_cachedWidth, m_cachedHeight);
}

void TkitStartButtonProperties::SetButtonTop(int value)
{
    SetButtonBounds(m_cachedLeft, value, m_cachedWidth, m_cachedHeight);
}

void TkitStartButtonProperties::SetButtonWidth(int value)
{
    SetButtonBounds(m_cachedLeft, m_cachedTop, value, m_cachedHeight);
}

void TkitStartButtonProperties::SetButtonHeight(int value)
{
    SetButtonBounds(m_cachedLeft, m_cachedTop, m_cachedWidth, value);
}

bool TkitStartButtonProperties::Enabled() const
{
    return false;
}

void TkitStartButtonProperties::SetEnabled(bool) {}

bool TkitStartButtonProperties::Visible() const
{
    return false;
}

void TkitStartButtonProperties::SetVisible(bool) {}

} // namespace morvane
