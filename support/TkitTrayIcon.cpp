#include "TkitTrayIcon.h"

namespace morvane {

namespace {

// The first max characters of text, never ending inside a surrogate pair.
QString Cut(const QString& text, int max)
{
    if (text.size() <= max)
        return text;
    int n = max;
    if (n > 0 && text.at(n - 1).isHighSurrogate())
        --n;
    return text.left(n);
}

} // namespace

TkitTrayIcon::TkitTrayIcon(QObject* owner, std::unique_ptr<TrayShell> shell)
    : TkitCustomTimer(owner), m_shell(std::move(shell))
{
    if (!m_shell)
        throw std::invalid_argument("TkitTrayIcon needs a shell");
    m_shell->SetNotificationSink([this](TrayNotification n) { HandleNotification(n); });
    // The timer runs only with a handler; ticks are consumed by DoTimer.
    SetOnTimer([](QObject*) {});
    SetCycleIcons(false);
    SetCycleInterval(200);
    HookApplication();
}

TkitTrayIcon::~TkitTrayIcon()
{
    if (m_visible) {
        m_visible = false;
        m_iconFlags &= ~kNifIcon;
        try {
            PrepareIconData();
            m_shell->DeleteIcon(m_iconData);
        } catch (...) {
            // Nothing can be reported from a destructor; the shell drops its icon anyway.
        }
    }
    UnhookApplication();
    m_shell->SetNotificationSink({});
}

bool TkitTrayIcon::OwnerIsWindow() const
{
    return Owner() && m_shell->IsWindowedControl(Owner());
}

void TkitTrayIcon::SetHint(const QString& value)
{
    if (value == m_hint)
        return;
    m_hint = Cut(value, kMaxHint);
    ModifyIcon();
}

void TkitTrayIcon::SetShowHint(bool value)
{
    if (value == m_showHint)
        return;
    m_showHint = value;
    ModifyIcon();
}

void TkitTrayIcon::SetIcon(const QIcon& value)
{
    m_icon = value;
    ModifyIcon();
}

void TkitTrayIcon::SetImageList(IconList* value)
{
    if (value == m_imageList)
        return;
    if (m_imageList)
        disconnect(m_imageList, &IconList::Changed, this, nullptr);
    m_imageList = value;
    if (m_imageList)
        connect(m_imageList, &IconList::Changed, this, [this] { ImageListChange(); });
    UpdateFromImageList();
}

void TkitTrayIcon::SetImageIndex(int value)
{
    m_imageIndex = value;
    UpdateFromImageList();
}

void TkitTrayIcon::SetIconID(int value)
{
    if (value == m_iconId)
        return;
    // The shell knows the icon by its id: take the old one away, add it back under the new.
    const bool wasVisible = m_visible;
    if (wasVisible)
        HideIcon();
    m_iconId = value;
    if (wasVisible)
        ShowIcon();
}

void TkitTrayIcon::SetPopupMenu(QObject* value)
{
    if (value == m_popupMenu)
        return;
    m_popupMenu = value;
    m_shell->SetIconMenu(value);
}

void TkitTrayIcon::SetVisible(bool value)
{
    if (value == m_visible)
        return;
    m_visible = value;
    if (value)
        ShowIcon();
    else
        HideIcon();
}

void TkitTrayIcon::PrepareIconData()
{
    m_iconData.id = static_cast<unsigned>(m_iconId);
    m_iconData.flags = m_iconFlags;
    m_iconData.icon = m_icon;
    m_iconData.tip = m_showHint ? Cut(m_hint, kMaxTip) : QString();
}

void TkitTrayIcon::InsertToTray()
{
    try {
        PrepareIconData();
        m_shell->AddIcon(m_iconData);
    } catch (...) {
        throw EkitTrayIcon(objectName().toStdString() + ".InsertToTray failed");
    }
}

void TkitTrayIcon::DeleteFromTray()
{
    try {
        PrepareIconData();
        m_shell->DeleteIcon(m_iconData);
    } catch (...) {
        throw EkitTrayIcon(objectName().toStdString() + ".DeleteFromTray failed");
    }
}

void TkitTrayIcon::ModifyIcon()
{
    PrepareIconData();
    m_shell->ModifyIcon(m_iconData);
}

void TkitTrayIcon::ShowIcon()
{
    m_iconFlags |= kNifIcon;
    InsertToTray();
    m_visible = true;
    emit OnShow(this);
}

void TkitTrayIcon::HideIcon()
{
    m_iconFlags &= ~kNifIcon;
    DeleteFromTray();
    m_visible = false;
    emit OnHide(this);
    if (m_minimizeToTray)
        RestoreApplication();
    // Without its icon a hidden owner could not be reached any more.
    if (OwnerIsWindow() && !m_shell->IsVisible(Owner()))
        m_shell->MakeVisible(Owner());
}

void TkitTrayIcon::UpdateFromImageList()
{
    if (!m_imageList)
        return;
    m_icon = m_imageList->GetIcon(m_imageIndex);
    ModifyIcon();
}

void TkitTrayIcon::ImageListChange()
{
    UpdateFromImageList();
}

void TkitTrayIcon::HookApplication()
{
    m_shell->HookApplication([this] { AppMinimized(); });
    m_hooked = true;
}

void TkitTrayIcon::UnhookApplication()
{
    if (m_hooked)
        m_shell->UnhookApplication();
    m_hooked = false;
}

void TkitTrayIcon::AppMinimized()
{
    if (m_minimizeToTray)
        DoMinimize();
}

void TkitTrayIcon::DoMinimize()
{
    MinimizeApplication();
    SetVisible(true);
    emit OnMinimize(this);
}

void TkitTrayIcon::Loaded()
{
    if (m_minimizeOnStart) {
        m_shell->SetShowMainForm(false);
        DoMinimize();
    }
    if (m_visible)
        ShowIcon();
}

void TkitTrayIcon::TaskbarCreated()
{
    if (!m_visible)
        return;
    HideIcon();
    ShowIcon();
}

void TkitTrayIcon::RestoreApplication()
{
    m_shell->ShowApplication();
}

void TkitTrayIcon::MinimizeApplication()
{
    m_shell->HideApplication();
}

void TkitTrayIcon::ShowBalloon()
{
    if (!IsNT5OrLater)
        return;
    PrepareIconData();
    m_iconData.flags = kNifInfo;
    TrayBalloon balloon;
    balloon.title = Cut(m_infoTitle, kMaxInfoTitle);
    balloon.text = Cut(m_infoText, kMaxInfoText);
    balloon.timeoutMs = m_infoTimeout;
    balloon.type = m_infoType;
    m_shell->ShowBalloon(m_iconData, balloon);
}

void TkitTrayIcon::ShowInfoBalloon()
{
    ShowBalloon();
}

void TkitTrayIcon::HandleNotification(TrayNotification notification)
{
    // The tray's return is no user's action: it is acted on also while not Enabled.
    if (notification == TrayNotification::TaskbarCreated) {
        TaskbarCreated();
        return;
    }
    if (!m_enabled)
        return;
    const QPoint pos = m_shell->CursorPos();
    const int x = pos.x();
    const int y = pos.y();
    switch (notification) {
    case TrayNotification::MouseMove:
        DoMouseMove(GetShiftState(), x, y);
        break;
    case TrayNotification::LeftButtonDown:
        DoMouseDown(MouseButton::mbLeft, GetShiftState() | ssLeft, x, y);
        m_clickPending = true;
        break;
    case TrayNotification::LeftButtonUp: {
        QPointer<TkitTrayIcon> self(this);
        DoMouseUp(MouseButton::mbLeft, GetShiftState() | ssLeft, x, y);
        if (self && m_clickPending)
            DoClick();
        if (self && m_popupByLeft)
            PopupAtCursor();
        if (self)
            m_clickPending = false;
        break;
    }
    case TrayNotification::LeftButtonDoubleClick:
        DoDblClick();
        break;
    case TrayNotification::RightButtonDown:
        DoMouseDown(MouseButton::mbRight, GetShiftState() | ssRight, x, y);
        break;
    case TrayNotification::RightButtonUp: {
        QPointer<TkitTrayIcon> self(this);
        DoMouseUp(MouseButton::mbRight, GetShiftState() | ssRight, x, y);
        if (self)
            PopupAtCursor();
        break;
    }
    case TrayNotification::MiddleButtonDown:
        DoMouseDown(MouseButton::mbMiddle, GetShiftState() | ssMiddle, x, y);
        break;
    case TrayNotification::MiddleButtonUp:
        DoMouseUp(MouseButton::mbMiddle, GetShiftState() | ssMiddle, x, y);
        break;
    case TrayNotification::BalloonShow:
        emit OnBalloonShow(this);
        break;
    case TrayNotification::BalloonTimeout:
        emit OnBalloonTimeout(this);
        break;
    case TrayNotification::BalloonUserClick:
        emit OnBalloonClick(this);
        break;
    case TrayNotification::RightButtonDoubleClick:
    case TrayNotification::MiddleButtonDoubleClick:
    case TrayNotification::BalloonHide:
    case TrayNotification::TaskbarCreated:
        break;
    }
}

void TkitTrayIcon::PopupAtCursor()
{
    QObject* menu = m_popupMenu;
    if (!menu || !m_shell->MenuAutoPopup(menu))
        return;
    const QPoint pos = m_shell->CursorPos();
    m_shell->ProcessPendingEvents();
    // Pending events or the menu's own actions may delete this component or the menu.
    QPointer<TkitTrayIcon> self(this);
    QPointer<QObject> guardedMenu(menu);
    if (!self || !guardedMenu)
        return;
    if (OwnerIsWindow())
        m_shell->BringToFront(Owner());
    m_shell->PopupMenu(guardedMenu, pos);
    if (self)
        emit OnPopupMenu(this);
}

void TkitTrayIcon::DoTimer()
{
    if (m_imageList)
        SetImageIndex(m_imageIndex < m_imageList->Count() - 1 ? m_imageIndex + 1 : 0);
    emit OnCycleIcons(this);
}

void TkitTrayIcon::DoMouseMove(ShiftState shift, int x, int y)
{
    emit OnMouseMove(this, shift, x, y);
}

void TkitTrayIcon::DoMouseDown(MouseButton button, ShiftState shift, int x, int y)
{
    emit OnMouseDown(this, button, shift, x, y);
}

void TkitTrayIcon::DoMouseUp(MouseButton button, ShiftState shift, int x, int y)
{
    if (OwnerIsWindow())
        m_shell->BringToFront(Owner());
    emit OnMouseUp(this, button, shift, x, y);
}

void TkitTrayIcon::DoClick()
{
    emit OnClick(this);
}

void TkitTrayIcon::DoDblClick()
{
    QPointer<TkitTrayIcon> self(this);
    QObject* menu = m_popupMenu;
    if (menu && m_shell->MenuAutoPopup(menu) && !m_popupByLeft) {
        if (m_shell->ClickDefaultItem(menu)) {
            if (!self)
                return;
            emit OnDblClick(this);
            if (self && OwnerIsWindow())
                m_shell->BringToFront(Owner());
            return;
        }
        if (!self)
            return;
    }
    if (OwnerIsWindow()) {
        if (m_minimizeToTray && m_shell->IsVisible(Owner()))
            MinimizeApplication();
        else
            RestoreApplication();
    }
    emit OnDblClick(this);
}

} // namespace morvane
