#include "TkitAutoRun.h"

#include <QCoreApplication>

namespace morvane {

TkitAutoRun::TkitAutoRun(QObject* owner) : TkitComponent(owner)
{
    if (QCoreApplication::instance())
        m_fileName = QCoreApplication::applicationFilePath().toStdString();
}

template <typename T>
void TkitAutoRun::Change(T& field, const T& value)
{
    if (field == value)
        return;
    RemoveAutoRun();
    field = value;
    ApplyAutoRun();
}

void TkitAutoRun::SetAutoRun(bool value)
{
    Change(m_autoRun, value);
}

void TkitAutoRun::SetFileName(const std::string& value)
{
    Change(m_fileName, value);
}

void TkitAutoRun::SetKind(TkitAutoExecKind value)
{
    Change(m_kind, value);
}

void TkitAutoRun::Loaded()
{
    ApplyAutoRun();
}

void TkitAutoRun::ApplyAutoRun()
{
    RemoveAutoRun();
    if (m_autoRun)
        AutoExecRegister(m_kind, m_fileName, &m_lastOutcome);
}

void TkitAutoRun::RemoveAutoRun()
{
    AutoExecUnregister(m_kind, m_fileName, &m_lastOutcome);
}

} // namespace morvane
