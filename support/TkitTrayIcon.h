#pragma once

#include "IconList.h"
#include "KitSysUtils.h"
#include "TkitCustomTimer.h"
#include "TrayShell.h"

#include <QIcon>
#include <QPointer>
#include <memory>
#include <stdexcept>

namespace morvane {

// Raised when the shell fails while the icon is added ("<Name>.InsertToTray failed")
// or removed ("<Name>.DeleteFromTray failed").
class EkitTrayIcon : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// One icon of its owner in the notification area. Turns the shell's notifications into
// mouse, click and balloon events, pops up PopupMenu, shows balloons, cycles the icon
// through ImageList on its timer, and minimizes the application into the icon and
// restores it. Its owner is its QObject parent (normally the form it sits on); its
// objectName is its Name. Everything runs on the main thread; other threads reach it
// through calls queued onto that thread.
//
// Events are signals, each carrying the component as sender; an event without a
// connected slot does nothing. Shell failures are not reported, except that an error
// raised by the shell while adding or removing the icon becomes EkitTrayIcon.
class TkitTrayIcon : public TkitCustomTimer
{
    Q_OBJECT
    Q_PROPERTY(QString Hint READ Hint WRITE SetHint)

public:
    static constexpr int kMaxHint = 63;
    static constexpr int kMaxTip = 127;
    static constexpr int kMaxInfoText = 255;
    static constexpr int kMaxInfoTitle = 63;

    // shell must not be null (std::invalid_argument); the component owns it.
    TkitTrayIcon(QObject* owner, std::unique_ptr<TrayShell> shell);
    // Removes a shown icon from the tray. No event fires and no window is touched,
    // because the owner may already be half destroyed.
    ~TkitTrayIcon() override;

    // Icon cycling: the timer's Enabled and Interval (ms).
    bool CycleIcons() const { return TkitCustomTimer::Enabled(); }
    void SetCycleIcons(bool value) { TkitCustomTimer::SetEnabled(value); }
    unsigned CycleInterval() const { return Interval(); }
    void SetCycleInterval(unsigned value) { SetInterval(value); }

    // Shell notifications are acted on only while Enabled.
    bool Enabled() const { return m_enabled; }
    void SetEnabled(bool value) { m_enabled = value; }

    // At most kMaxHint characters; a longer text is cut.
    QString Hint() const { return m_hint; }
    void SetHint(const QString& value);
    bool ShowHint() const { return m_showHint; }
    void SetShowHint(bool value);

    QIcon Icon() const { return m_icon; }
    void SetIcon(const QIcon& value);
    IconList* ImageList() const { return m_imageList; }
    void SetImageList(IconList* value);
    int ImageIndex() const { return m_imageIndex; }
    // Always reloads the icon from ImageList, also for the current index.
    void SetImageIndex(int value);
    int IconID() const { return m_iconId; }
    void SetIconID(int value);
    unsigned IconFlags() const { return m_iconFlags; }

    bool MinimizeToTray() const { return m_minimizeToTray; }
    void SetMinimizeToTray(bool value) { m_minimizeToTray = value; }
    // Acted on by Loaded.
    bool MinimizeOnStart() const { return m_minimizeOnStart; }
    void SetMinimizeOnStart(bool value) { m_minimizeOnStart = value; }

    // A QMenu (any QObject the shell can pop up); cleared when it is destroyed. The shell
    // also hands it to the desktop, where the desktop shows an icon's menu itself.
    QObject* PopupMenu() const { return m_popupMenu; }
    void SetPopupMenu(QObject* value);
    bool PopupByLeft() const { return m_popupByLeft; }
    void SetPopupByLeft(bool value) { m_popupByLeft = value; }

    bool Visible() const { return m_visible; }
    void SetVisible(bool value);

    // Balloon settings; they take effect at the next ShowBalloon.
    QString InfoText() const { return m_infoText; }
    void SetInfoText(const QString& value) { m_infoText = value; }
    QString InfoTitle() const { return m_infoTitle; }
    void SetInfoTitle(const QString& value) { m_infoTitle = value; }
    int InfoTimeout() const { return m_infoTimeout; }
    void SetInfoTimeout(int value) { m_infoTimeout = value; }
    TkitTrayIconInfoType InfoType() const { return m_infoType; }
    void SetInfoType(TkitTrayIconInfoType value) { m_infoType = value; }

    bool ClickPending() const { return m_clickPending; }
    // The record last prepared for the shell.
    const TrayIconData& IconData() const { return m_iconData; }

    // Call once the owner has set the properties: minimizes on start when asked and
    // shows the icon when Visible.
    void Loaded();
    // The notification area was re-created: a visible icon is hidden and shown again.
    void TaskbarCreated();
    // One notification from the shell.
    void HandleNotification(TrayNotification notification);

    virtual void ModifyIcon();
    virtual void ShowIcon();
    virtual void HideIcon();
    virtual void PopupAtCursor();
    virtual void RestoreApplication();
    virtual void MinimizeApplication();
    virtual void ShowBalloon();
    virtual void ShowInfoBalloon();

signals:
    void OnMinimize(QObject* sender);
    void OnMouseMove(QObject* sender, morvane::ShiftState shift, int x, int y);
    void OnMouseDown(QObject* sender, morvane::MouseButton button, morvane::ShiftState shift, int x, int y);
    void OnMouseUp(QObject* sender, morvane::MouseButton button, morvane::ShiftState shift, int x, int y);
    void OnClick(QObject* sender);
    void OnDblClick(QObject* sender);
    void OnPopupMenu(QObject* sender);
    void OnShow(QObject* sender);
    void OnHide(QObject* sender);
    void OnCycleIcons(QObject* sender);
    void OnBalloonShow(QObject* sender);
    void OnBalloonTimeout(QObject* sender);
    void OnBalloonClick(QObject* sender);

protected:
    void PrepareIconData();
    void InsertToTray();
    void DeleteFromTray();
    void UpdateFromImageList();
    void ImageListChange();
    void HookApplication();
    void UnhookApplication();
    // A window of the application was minimized.
    void AppMinimized();

    void DoTimer() override;
    virtual void DoMouseMove(ShiftState shift, int x, int y);
    virtual void DoMouseDown(MouseButton button, ShiftState shift, int x, int y);
    virtual void DoMouseUp(MouseButton button, ShiftState shift, int x, int y);
    virtual void DoClick();
    virtual void DoDblClick();
    virtual void DoMinimize();

private:
    QObject* Owner() const { return parent(); }
    bool OwnerIsWindow() const;

    std::unique_ptr<TrayShell> m_shell;
    bool m_enabled = true;
    QString m_hint;
    QIcon m_icon;
    unsigned m_iconFlags = kNifMessage | kNifTip;
    int m_iconId = 0;
    QPointer<IconList> m_imageList;
    int m_imageIndex = 0;
    bool m_minimizeOnStart = false;
    bool m_minimizeToTray = false;
    QPointer<QObject> m_popupMenu;
    bool m_popupByLeft = false;
    bool m_clickPending = false;
    bool m_showHint = true;
    bool m_visible = false;
    int m_infoTimeout = 10000;
    QString m_infoText;
    QString m_infoTitle;
    TkitTrayIconInfoType m_infoType = tiiNone;
    TrayIconData m_iconData;
    bool m_hooked = false;
};

} // namespace morvane
