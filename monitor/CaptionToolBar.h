#pragma once

#include <QToolBar>

namespace morvane::monitor {

// A tool bar whose captions can be hidden, or placed beside or below the images. Both
// switches are properties, so the layout file carries them. Main thread only.
class CaptionToolBar : public QToolBar
{
    Q_OBJECT
    Q_PROPERTY(bool ShowCaptions READ ShowCaptions WRITE SetShowCaptions)
    Q_PROPERTY(bool List READ List WRITE SetList)

public:
    explicit CaptionToolBar(QWidget* parent = nullptr);

    bool ShowCaptions() const { return m_showCaptions; }
    void SetShowCaptions(bool on);
    // Captions beside the images (true) or below them.
    bool List() const { return m_list; }
    void SetList(bool on);

private:
    void ApplyStyle();

    bool m_showCaptions = true;
    bool m_list = true;
};

} // namespace morvane::monitor
