#pragma once

#include <QWidget>

class QLabel;

namespace morvane::monitor {

// The splash window shown while the monitor starts: the program's name, its version and
// a progress line the start-up rewrites. Main thread only.
class TForm4 : public QWidget
{
    Q_OBJECT
public:
    explicit TForm4(QWidget* parent = nullptr);

    // Rewrites the progress line and lets the window paint.
    void SetProgress(const QString& text);

private:
    QLabel* m_label1;
    QLabel* m_label2;
};

} // namespace morvane::monitor
