#pragma once

#include "engine/EngineHost.h"

#include <functional>
#include <string>

class QWidget;

namespace morvane::monitor {

// The engine host of the monitor's passive engine copy: boxes go through the one
// message-box road, main-thread calls are queued on the application, and a balloon (the
// monitor has no tray icon of its own) is handed to the window, which shows it in its
// status bar. Main thread, except PostToMainThread and IsMainThread.
class MonitorHost : public EngineHost
{
public:
    void SetWindow(QWidget* window) { m_window = window; }
    // Receives the balloon's title and text when it is shown.
    void SetBalloonSink(std::function<void(const std::string&, const std::string&)> sink)
    {
        m_sink = std::move(sink);
    }

    void ShowMainWindow() override;
    void BringMainWindowToFront() override;
    void HideMainWindow() override;
    void SetBalloonTitle(const std::string& title) override { m_title = title; }
    void SetBalloonText(const std::string& text) override { m_text = text; }
    void ShowBalloon() override;
    void SetTrayImage(int) override {}
    BoxAnswer ShowMessage(BoxKind kind, const std::string& text, BoxButtons buttons) override;
    void PostToMainThread(std::function<void()> fn) override;
    bool IsMainThread() const override;

private:
    QWidget* m_window = nullptr;
    std::string m_title;
    std::string m_text;
    std::function<void(const std::string&, const std::string&)> m_sink;
};

} // namespace morvane::monitor
