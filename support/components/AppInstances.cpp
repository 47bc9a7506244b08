#include "AppInstances.h"

#include "AppWindows.h"
#include "platform/MessageAtoms.h"
#include "platform/MessageWindow.h"
#include "platform/Paths.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStyle>
#include <memory>
#include <unistd.h>

namespace morvane {

namespace {

constexpr const char* kActivateMessage = "MorvaneActivateApplication";

std::unique_ptr<MessageWindow> g_window;
QString g_windowFile;

QString InstancePrefix()
{
    QString name = QCoreApplication::applicationName();
    name.replace('/', '_');
    return "app-" + name + ".";
}

QString RuntimeFolder()
{
    return QString::fromStdString(RuntimeDir());
}

} // namespace

std::uint32_t PublishApplicationWindow()
{
    if (g_window)
        return g_window->Handle();
    const std::uint32_t activate = RegisterWindowMessage(kActivateMessage);
    auto window = std::make_unique<MessageWindow>();
    window->SetHandler([activate](const WindowMessage& m) {
        if (m.Msg == activate)
            ShowApplication();
    });
    const QString file = RuntimeFolder() + InstancePrefix() + QString::number(::getpid()) + ".wnd";
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(QByteArray::number(window->Handle(), 16)) < 0 ||
        !out.commit())
        throw std::system_error(EIO, std::generic_category(), "cannot write " + file.toStdString());
    g_window = std::move(window);
    g_windowFile = file;
    return g_window->Handle();
}

void WithdrawApplicationWindow()
{
    if (!g_windowFile.isEmpty())
        QFile::remove(g_windowFile);
    g_windowFile.clear();
    g_window.reset();
}

std::uint32_t FindOtherInstanceWindow()
{
    const QString own = InstancePrefix() + QString::number(::getpid()) + ".wnd";
    QDir folder(RuntimeFolder());
    const QStringList files = folder.entryList({InstancePrefix() + "*.wnd"}, QDir::Files, QDir::Name);
    for (const QString& name : files) {
        if (name == own)
            continue;
        QFile file(folder.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        bool ok = false;
        const std::uint32_t handle = file.read(16).trimmed().toUInt(&ok, 16);
        // A file left by an instance that died names a window nobody reads: a post fails.
        if (ok && handle != 0 && (!g_window || handle != g_window->Handle()) && PostMessage(handle, 0, 0, 0))
            return handle;
    }
    return 0;
}

bool ActivateOtherInstance()
{
    const std::uint32_t handle = FindOtherInstanceWindow();
    if (handle == 0)
        return false;
    return PostMessage(handle, RegisterWindowMessage(kActivateMessage), 0, 0);
}

void ExtractShell32Icon(int index, QIcon* large, QIcon* small)
{
    struct Stock
    {
        int Index;
        const char* Theme;
        QStyle::StandardPixmap Fallback;
    };
    static const Stock kStock[] = {
        {0, "text-x-generic", QStyle::SP_FileIcon},
        {1, "x-office-document", QStyle::SP_FileIcon},
        {2, "application-x-executable", QStyle::SP_DesktopIcon},
        {3, "folder", QStyle::SP_DirClosedIcon},
        {4, "folder-open", QStyle::SP_DirOpenIcon},
        {8, "drive-harddisk", QStyle::SP_DriveHDIcon},
        {11, "media-optical", QStyle::SP_DriveCDIcon},
        {15, "computer", QStyle::SP_ComputerIcon},
        {31, "user-trash", QStyle::SP_TrashIcon},
    };
    const Stock* found = &kStock[0];
    for (const Stock& stock : kStock)
        if (stock.Index == index)
            found = &stock;
    QIcon icon;
    if (qobject_cast<QApplication*>(QCoreApplication::instance()))
        icon = QIcon::fromTheme(QString::fromLatin1(found->Theme),
                                QApplication::style()->standardIcon(found->Fallback));
    if (large)
        *large = icon;
    if (small)
        *small = icon;
}

} // namespace morvane
