#pragma once

#include <QIcon>
#include <QPoint>
#include <QString>
#include <functional>

class QObject;

namespace morvane {

// Balloon icon; the ordinal is the value the shell expects.
enum TkitTrayIconInfoType
{
    tiiNone,
    tiiInfo,
    tiiWarning,
    tiiError
};

// Flags of one icon record.
inline constexpr unsigned kNifMessage = 0x1;
inline constexpr unsigned kNifIcon = 0x2;
inline constexpr unsigned kNifTip = 0x4;
inline constexpr unsigned kNifInfo = 0x10;

// What the tray component hands to the shell with every add, modify and delete.
struct TrayIconData
{
    unsigned id = 0;
    unsigned flags = 0;
    QIcon icon;
    QString tip;
};

struct TrayBalloon
{
    QString title;
    QString text;
    int timeoutMs = 0; // 0 or less: the desktop's own time
    TkitTrayIconInfoType type = tiiNone;
};

// What the shell reports about the icon.
enum class TrayNotification
{
    MouseMove,
    LeftButtonDown,
    LeftButtonUp,
    LeftButtonDoubleClick,
    RightButtonDown,
    RightButtonUp,
    RightButtonDoubleClick,
    MiddleButtonDown,
    MiddleButtonUp,
    MiddleButtonDoubleClick,
    BalloonShow,
    BalloonHide,
    BalloonTimeout,
    BalloonUserClick,
    // The desktop's notification area came (back): every icon must be added again.
    TaskbarCreated,
};

// The desktop behind a tray component: the notification area, menus, the owner window
// and the application's windows. The component talks only to this, so that it can run
// against the real desktop (over QSystemTrayIcon) or against a recording fake. Results
// of icon operations are not reported: a failed add or modify has no effect. Every call
// is made on the main thread.
class TrayShell
{
public:
    virtual ~TrayShell() = default;

    // Where the shell delivers mouse and balloon notifications.
    virtual void SetNotificationSink(std::function<void(TrayNotification)> sink) = 0;

    virtual void AddIcon(const TrayIconData& data) = 0;
    virtual void ModifyIcon(const TrayIconData& data) = 0;
    virtual void DeleteIcon(const TrayIconData& data) = 0;
    virtual void ShowBalloon(const TrayIconData& data, const TrayBalloon& balloon) = 0;

    // Cursor position on the screen when a notification is handled.
    virtual QPoint CursorPos() = 0;
    // Lets pending events run before a menu opens.
    virtual void ProcessPendingEvents() = 0;

    // Menus are QObjects of the widget layer; the shell knows how to use them.
    virtual bool MenuAutoPopup(QObject* menu) = 0;
    // Clicks the first top-level item marked default; false when there is none.
    virtual bool ClickDefaultItem(QObject* menu) = 0;
    // Pops the menu up at pos and returns when it has closed.
    virtual void PopupMenu(QObject* menu, const QPoint& pos) = 0;
    // The icon's menu, for desktops that show it themselves (a panel of the D-Bus kind
    // reads it over the bus); nullptr takes it back.
    virtual void SetIconMenu(QObject*) {}

    // The component's owner: only a window (a widget) counts as a windowed control.
    virtual bool IsWindowedControl(QObject* owner) = 0;
    virtual bool IsVisible(QObject* owner) = 0;
    virtual void MakeVisible(QObject* owner) = 0;
    virtual void BringToFront(QObject* owner) = 0;

    // The application as a whole.
    virtual void ShowApplication() = 0;
    virtual void HideApplication() = 0;
    virtual void SetShowMainForm(bool show) = 0;
    // onMinimized runs whenever a window of the application is minimized, until unhooked.
    virtual void HookApplication(std::function<void()> onMinimized) = 0;
    virtual void UnhookApplication() = 0;
};

} // namespace morvane
