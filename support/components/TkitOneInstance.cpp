#include "TkitOneInstance.h"

#include "MessageBoxes.h"
#include "platform/Log.h"
#include "platform/MessageWindow.h"
#include "platform/NamedMutex.h"
#include "platform/RuntimeNames.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QPointer>
#include <QSaveFile>
#include <QWidget>
#include <map>
#include <optional>
#include <stdexcept>

namespace morvane {

namespace {

// The one message an instance sends the first one.
constexpr std::uint32_t kBringForwardMessage = 0x4F4E;

// What this process holds, per instance name, for its whole life: the lock and the
// window the others post to.
struct HeldInstance
{
    NamedMutex Lock;
    std::unique_ptr<MessageWindow> Window;
};

std::map<std::string, HeldInstance>& HeldInstances()
{
    static auto* held = new std::map<std::string, HeldInstance>;
    return *held;
}

constexpr std::size_t kMaxLockName = 160;

} // namespace

std::string InstanceLockName(const std::string& instanceName)
{
    std::string name;
    for (const char c : instanceName) {
        if (c == '/')
            name += "%2F";
        else if (c == '%')
            name += "%25";
        else if (c == '\0')
            name += "%00";
        else
            name += c;
    }
    if (name == "." || name == "..")
        name = "%2E" + name.substr(1);
    if (name.size() > kMaxLockName) {
        const QByteArray digest =
            QCryptographicHash::hash(QByteArray::fromStdString(instanceName), QCryptographicHash::Sha1)
                .toHex();
        name = name.substr(0, kMaxLockName - 41) + "~" + digest.toStdString();
    }
    return name;
}

TkitOneInstance::TkitOneInstance(QObject* owner, std::unique_ptr<OneInstanceShell> shell)
    : TkitComponent(owner), m_shell(std::move(shell))
{
    if (!m_shell)
        throw std::invalid_argument("TkitOneInstance needs a shell");
}

TkitOneInstance::~TkitOneInstance() = default;

std::string TkitOneInstance::InstanceName() const
{
    QString base =
        m_exeNameAsIdentifier ? m_shell->ApplicationExeName().toUpper() : m_shell->ApplicationTitle();
    QString name = base + m_identifier + ".OneInstance.";
    name.replace('\\', '/');
    return (name + "Default").toStdString();
}

void TkitOneInstance::Check()
{
    if (IsAnotherInstance())
        DoAnotherInstance();
}

bool TkitOneInstance::IsAnotherInstance()
{
    const std::string lockName = InstanceLockName(InstanceName());
    m_lastError.clear();
    try {
        const std::string lockPath = RuntimeObjectPath(lockName, ".lock");
        if (HeldInstances().count(lockPath))
            return false; // this process is the instance
        // One atomic test-and-take: of two instances started at once exactly one wins,
        // and the lock of a crashed holder is free again.
        std::optional<NamedMutex> lock = NamedMutex::TryAcquire(lockName);
        if (!lock)
            return true;
        HeldInstance held{std::move(*lock), nullptr};
        try {
            held.Window = std::make_unique<MessageWindow>();
            OneInstanceShell* shell = m_shell.get();
            QPointer<TkitOneInstance> self(this);
            held.Window->SetHandler([self, shell](const WindowMessage& message) {
                if (self && message.Msg == kBringForwardMessage)
                    shell->BringToFront();
            });
            QSaveFile file(QString::fromStdString(RuntimeObjectPath(lockName, ".wnd")));
            const QByteArray handle = QByteArray::number(held.Window->Handle());
            if (!file.open(QIODevice::WriteOnly) || file.write(handle) != handle.size() || !file.commit())
                throw std::runtime_error("cannot publish the instance window: " +
                                         file.errorString().toStdString());
        } catch (const std::exception& e) {
            // The lock holds; only bringing this instance forward will not work.
            held.Window.reset();
            m_lastError = e.what();
            Log("Single instance: " + m_lastError);
        }
        HeldInstances().emplace(lockPath, std::move(held));
        return false;
    } catch (const std::exception& e) {
        // Better two instances than none: the program starts and says why.
        m_lastError = std::string("cannot check for another instance, starting anyway: ") + e.what();
        Log("Single instance: " + m_lastError);
        return false;
    }
}

void TkitOneInstance::DoAnotherInstance()
{
    bool terminate = true;
    const bool showMainForm = m_shell->ShowMainForm();
    m_shell->SetShowMainForm(false);
    if (m_showMessage) {
        if (m_onShowMessage) {
            m_onShowMessage(this, terminate);
        } else {
            const QString title = m_shell->ApplicationTitle();
            const QString text = m_message.isEmpty()
                                     ? QString("Application \"%1\" is already running.").arg(title)
                                     : m_message;
            m_shell->ShowMessageBox(text, title);
        }
    }
    if (m_activatePrevInstance) {
        QFile file(QString::fromStdString(RuntimeObjectPath(InstanceLockName(InstanceName()), ".wnd")));
        bool ok = false;
        const std::uint32_t handle =
            file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toUInt(&ok) : 0;
        // A stale file of a crashed instance names a window nobody owns: the post fails.
        if (ok)
            PostMessage(handle, kBringForwardMessage, 0, 0);
    }
    if (terminate)
        m_shell->Terminate();
    else
        m_shell->SetShowMainForm(showMainForm);
}

QString QtOneInstanceShell::ApplicationTitle() const
{
    return QGuiApplication::applicationDisplayName();
}

QString QtOneInstanceShell::ApplicationExeName() const
{
    return QCoreApplication::applicationFilePath();
}

void QtOneInstanceShell::ShowMessageBox(const QString& text, const QString&)
{
    MessageBoxes::Show(BoxKind::Warning, text.toStdString(), BoxButtons::Ok, BoxAnswer::Ok);
}

void QtOneInstanceShell::Terminate()
{
    m_terminated = true;
    QCoreApplication::exit(0);
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

void QtOneInstanceShell::BringToFront()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (!widget->isVisible() && !widget->isMinimized())
            continue;
        if (widget->isMinimized())
            widget->showNormal();
        widget->raise();
        widget->activateWindow();
        break;
    }
    if (m_onBringToFront)
        m_onBringToFront();
}

} // namespace morvane
