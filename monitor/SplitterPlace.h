#pragma once

#include <QObject>

class QSplitter;

namespace morvane::monitor {

// The size of a splitter's first pane as the layout file keeps it. A size given by Set
// holds until the user drags the handle, whatever size the window gets meanwhile (it
// may be given its final size only after it is shown), so the panes come back as they
// were left; the other pane takes the rest. Main thread only.
class SplitterPlace : public QObject
{
public:
    explicit SplitterPlace(QSplitter* splitter);

    // The size asked for while it holds, else the size the first pane shows.
    int Get() const;
    // A negative size is left out.
    void Set(int size);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Apply();

    QSplitter* m_splitter;
    int m_wanted = -1;
};

} // namespace morvane::monitor
