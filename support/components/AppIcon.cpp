#include "AppIcon.h"

#include <QGuiApplication>

namespace morvane {

QIcon AppIcon()
{
    QIcon builtIn;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        builtIn.addFile(QStringLiteral(":/icons/morvane-%1.png").arg(size), QSize(size, size));
    return QIcon::fromTheme(QStringLiteral(MORVANE_APP_ID), builtIn);
}

void SetApplicationIcon()
{
    QGuiApplication::setDesktopFileName(QStringLiteral(MORVANE_APP_ID));
    QGuiApplication::setWindowIcon(AppIcon());
}

} // namespace morvane
