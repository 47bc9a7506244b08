#pragma once

#include "engine/EngineHost.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <atomic>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace morvane::test {

// An engine host for tests: records every call, answers message boxes from a queue
// (a box with no queued answer gets No or Ok and counts as unexpected), and runs
// main-thread calls on the Qt event loop, as the agent does.
class ScriptedHost : public EngineHost
{
public:
    struct Box
    {
        BoxKind Kind;
        std::string Text;
        BoxButtons Buttons;
    };

    void ShowMainWindow() override { Record("ShowMainWindow"); }
    void BringMainWindowToFront() override { Record("BringMainWindowToFront"); }
    void HideMainWindow() override { Record("HideMainWindow"); }
    void SetBalloonTitle(const std::string& title) override
    {
        Record("SetBalloonTitle");
        std::lock_guard lock(m_mutex);
        m_balloonTitle = title;
    }
    void SetBalloonText(const std::string& text) override
    {
        Record("SetBalloonText");
        std::lock_guard lock(m_mutex);
        m_balloonText = text;
    }
    void ShowBalloon() override { Record("ShowBalloon"); }
    void SetTrayImage(int index) override { Record("SetTrayImage " + std::to_string(index)); }

    BoxAnswer ShowMessage(BoxKind kind, const std::string& text, BoxButtons buttons) override
    {
        Record("ShowMessage");
        // What the user does while the box is open.
        if (m_whileShown)
            std::exchange(m_whileShown, nullptr)();
        std::lock_guard lock(m_mutex);
        m_boxes.push_back({kind, text, buttons});
        if (m_answers.empty()) {
            ++m_unexpectedBoxes;
            return buttons == BoxButtons::YesNo ? BoxAnswer::No : BoxAnswer::Ok;
        }
        const BoxAnswer answer = m_answers.front();
        m_answers.pop_front();
        return answer;
    }

    void PostToMainThread(std::function<void()> fn) override
    {
        QMetaObject::invokeMethod(qApp, std::move(fn), Qt::QueuedConnection);
    }
    bool IsMainThread() const override { return QThread::currentThread() == qApp->thread(); }

    // Scripting and inspection (any thread).
    void WhileNextBoxIsShown(std::function<void()> action) { m_whileShown = std::move(action); }
    void QueueAnswer(BoxAnswer answer)
    {
        std::lock_guard lock(m_mutex);
        m_answers.push_back(answer);
    }
    std::vector<std::string> Calls() const
    {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }
    int CountOf(const std::string& call) const
    {
        std::lock_guard lock(m_mutex);
        int n = 0;
        for (const auto& c : m_calls)
            n += c == call;
        return n;
    }
    std::vector<Box> Boxes() const
    {
        std::lock_guard lock(m_mutex);
        return m_boxes;
    }
    std::string BalloonTitle() const
    {
        std::lock_guard lock(m_mutex);
        return m_balloonTitle;
    }
    std::string BalloonText() const
    {
        std::lock_guard lock(m_mutex);
        return m_balloonText;
    }
    int UnexpectedBoxes() const
    {
        std::lock_guard lock(m_mutex);
        return m_unexpectedBoxes;
    }
    // Host calls that came on a thread other than the main one (each one a fault).
    int OffMainThreadCalls() const { return m_offMain.load(); }
    void Clear()
    {
        std::lock_guard lock(m_mutex);
        m_calls.clear();
        m_boxes.clear();
    }

private:
    void Record(const std::string& call)
    {
        if (!IsMainThread())
            ++m_offMain;
        std::lock_guard lock(m_mutex);
        m_calls.push_back(call);
    }

    mutable std::mutex m_mutex;
    std::vector<std::string> m_calls;
    std::vector<Box> m_boxes;
    std::deque<BoxAnswer> m_answers;
    std::function<void()> m_whileShown;
    std::string m_balloonTitle;
    std::string m_balloonText;
    int m_unexpectedBoxes = 0;
    std::atomic<int> m_offMain{0};
};

} // namespace morvane::test
