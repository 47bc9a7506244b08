#include "TkitComponent.h"

#include <QDebug>

namespace morvane {

namespace {
TkitComponent::ExceptionHandler& Handler()
{
    static TkitComponent::ExceptionHandler handler;
    return handler;
}
} // namespace

TkitComponent::TkitComponent(QObject* owner) : QObject(owner) {}

void TkitComponent::SetExceptionHandler(ExceptionHandler handler)
{
    Handler() = std::move(handler);
}

void TkitComponent::HandleException(QObject* sender, const std::string& message)
{
    if (Handler()) {
        Handler()(sender, message);
        return;
    }
    qWarning().noquote() << (sender ? sender->objectName() : QString()) << QString::fromStdString(message);
}

} // namespace morvane
