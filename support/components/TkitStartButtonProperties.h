#pragma once

#include "support/TkitComponent.h"

namespace morvane {

// The taskbar's Start button as properties: position, size, enabled and visible. A Linux
// desktop has no Start button that a program may read or change, so the component always
// finds none: reads give the cached bounds (0 from construction) and false, and writes
// change nothing on the desktop. Main thread.
class TkitStartButtonProperties : public TkitComponent
{
    Q_OBJECT
    Q_PROPERTY(int ButtonLeft READ ButtonLeft WRITE SetButtonLeft)
    Q_PROPERTY(int ButtonTop READ ButtonTop WRITE SetButtonTop)
    Q_PROPERTY(int ButtonWidth READ ButtonWidth WRITE SetButtonWidth)
    Q_PROPERTY(int ButtonHeight READ ButtonHeight WRITE SetButtonHeight)
    Q_PROPERTY(bool Enabled READ Enabled WRITE SetEnabled)
    Q_PROPERTY(bool Visible READ Visible WRITE SetVisible)

public:
    explicit TkitStartButtonProperties(QObject* owner = nullptr);
    ~TkitStartButtonProperties() override;

    // The button found at construction: always none here.
    bool HasStartButton() const { return m_startButton != 0; }

    int ButtonLeft();
    void SetButtonLeft(int value);
    int ButtonTop();
    void SetButtonTop(int value);
    int ButtonWidth();
    void SetButtonWidth(int value);
    int ButtonHeight();
    void SetButtonHeight(int value);
    bool Enabled() const;
    void SetEnabled(bool value);
    bool Visible() const;
    void SetVisible(bool value);

protected:
    // Refreshes the caches from the button; without one they keep their values.
    virtual void UpdateButtonBounds();
    // Moves the button when a value differs from its cache; the caches stay.
    virtual void SetButtonBounds(int left, int top, int width, int height);

private:
    int m_cachedHeight = 0;
    int m_cachedTop = 0;
    int m_cachedWidth = 0;
    int m_cachedLeft = 0;
    unsigned m_startButton = 0;
};

} // namespace morvane
