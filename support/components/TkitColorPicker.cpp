#include "TkitColorPicker.h"

#include <QCursor>
#include <QGuiApplication>

namespace morvane {

namespace {

std::optional<Qt::CursorShape> ShapeOf(std::int16_t cursor)
{
    switch (cursor) {
    case crArrow:
        return Qt::ArrowCursor;
    case crCross:
        return Qt::CrossCursor;
    case crIBeam:
        return Qt::IBeamCursor;
    case crSizeNESW:
        return Qt::SizeBDiagCursor;
    case crSizeNS:
        return Qt::SizeVerCursor;
    case crSizeNWSE:
        return Qt::SizeFDiagCursor;
    case crSizeWE:
        return Qt::SizeHorCursor;
    case crUpArrow:
        return Qt::UpArrowCursor;
    case crHourGlass:
        return Qt::WaitCursor;
    case crNoDrop:
    case crNo:
        return Qt::ForbiddenCursor;
    case crHSplit:
        return Qt::SplitHCursor;
    case crVSplit:
        return Qt::SplitVCursor;
    case crAppStart:
        return Qt::BusyCursor;
    case crHelp:
        return Qt::WhatsThisCursor;
    case crHandPoint:
        return Qt::PointingHandCursor;
    case crSizeAll:
        return Qt::SizeAllCursor;
    default:
        return std::nullopt;
    }
}

} // namespace

TkitColorPicker::TkitColorPicker(QObject* owner) : TkitCustomTimer(owner)
{
    SetInterval(100);
}

TkitColorPicker::~TkitColorPicker()
{
    if (m_overriding && qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        QGuiApplication::restoreOverrideCursor();
}

void TkitColorPicker::SetCursor(std::int16_t value)
{
    if (value == m_cursor)
        return;
    m_cursor = value;
    // Back to no shape of its own: the pointer gets the application's again.
    if (m_cursor == crDefault && m_overriding) {
        m_overriding = false;
        QGuiApplication::restoreOverrideCursor();
    }
    UpdateCursor();
}

void TkitColorPicker::UpdateCursor()
{
    if (m_cursor == crDefault || !qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return;
    const auto shape = ShapeOf(m_cursor);
    if (!shape)
        return;
    // One entry of the application's cursor stack is ours; later shapes replace it.
    if (m_overriding) {
        QGuiApplication::changeOverrideCursor(QCursor(*shape));
    } else {
        QGuiApplication::setOverrideCursor(QCursor(*shape));
        m_overriding = true;
    }
}

void TkitColorPicker::DoTimer()
{
    TkitCustomTimer::DoTimer();
    UpdateCursor();
}

std::optional<TColor> TkitColorPicker::GetColor()
{
    return GetColorUnderCursor();
}

} // namespace morvane
