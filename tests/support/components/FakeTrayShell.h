#pragma once

#include "support/TrayShell.h"

#include <QObject>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

namespace morvane::test {

// A desktop that records what a tray component asks of it and answers from fields the
// test sets. Keeps a pointer to its state so that the test can read it after handing
// the shell to the component.
struct FakeTrayState
{
    // Answers.
    QPoint cursor{10, 20};
    bool autoPopup = true;
    bool hasDefaultItem = false;
    bool ownerIsWindow = true;
    bool ownerVisible = false;
    // Runs inside PopupMenu / ClickDefaultItem, as a menu's own handlers would.
    std::function<void()> duringPopup;
    std::function<void()> onDefaultClick;

    // Records.
    QStringList calls;
    std::vector<TrayIconData> icons; // every add/modify/delete, in order
    std::vector<TrayBalloon> balloons;
    std::function<void(TrayNotification)> sink;
    std::function<void()> onMinimized;
    bool showMainForm = true;

    int Count(const QString& call) const { return static_cast<int>(calls.count(call)); }
    void Send(TrayNotification n) const
    {
        if (sink)
            sink(n);
    }
};

class FakeTrayShell : public TrayShell
{
public:
    explicit FakeTrayShell(FakeTrayState* state) : m_s(state) {}

    void SetNotificationSink(std::function<void(TrayNotification)> sink) override
    {
        m_s->sink = std::move(sink);
    }
    void AddIcon(const TrayIconData& data) override { Icon("Add", data); }
    void ModifyIcon(const TrayIconData& data) override { Icon("Modify", data); }
    void DeleteIcon(const TrayIconData& data) override { Icon("Delete", data); }
    void ShowBalloon(const TrayIconData& data, const TrayBalloon& balloon) override
    {
        Icon("Balloon", data);
        m_s->balloons.push_back(balloon);
    }
    QPoint CursorPos() override { return m_s->cursor; }
    void ProcessPendingEvents() override { m_s->calls << "ProcessEvents"; }
    bool MenuAutoPopup(QObject*) override { return m_s->autoPopup; }
    bool ClickDefaultItem(QObject*) override
    {
        if (!m_s->hasDefaultItem)
            return false;
        m_s->calls << "ClickDefault";
        if (m_s->onDefaultClick)
            m_s->onDefaultClick();
        return true;
    }
    void PopupMenu(QObject*, const QPoint& pos) override
    {
        m_s->calls << QString("Popup %1,%2").arg(pos.x()).arg(pos.y());
        if (m_s->duringPopup)
            m_s->duringPopup();
    }
    bool IsWindowedControl(QObject* owner) override { return owner && m_s->ownerIsWindow; }
    bool IsVisible(QObject*) override { return m_s->ownerVisible; }
    void MakeVisible(QObject*) override
    {
        m_s->calls << "MakeVisible";
        m_s->ownerVisible = true;
    }
    void BringToFront(QObject*) override { m_s->calls << "BringToFront"; }
    void ShowApplication() override { m_s->calls << "ShowApplication"; }
    void HideApplication() override { m_s->calls << "HideApplication"; }
    void SetShowMainForm(bool show) override { m_s->showMainForm = show; }
    void HookApplication(std::function<void()> onMinimized) override
    {
        m_s->calls << "Hook";
        m_s->onMinimized = std::move(onMinimized);
    }
    void UnhookApplication() override
    {
        m_s->calls << "Unhook";
        m_s->onMinimized = {};
    }

private:
    void Icon(const char* what, const TrayIconData& data)
    {
        m_s->calls << what;
        m_s->icons.push_back(data);
    }

    FakeTrayState* m_s;
};

} // namespace morvane::test
