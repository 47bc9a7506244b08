#pragma once

#include "support/TkitComponent.h"

#include <QString>
#include <functional>
#include <memory>
#include <string>

namespace morvane {

class MessageWindow;

// What the single-instance component needs of the running program; the program uses
// QtOneInstanceShell, tests a fake. Main thread.
class OneInstanceShell
{
public:
    virtual ~OneInstanceShell() = default;
    virtual QString ApplicationTitle() const = 0;
    // The full path of the program's file.
    virtual QString ApplicationExeName() const = 0;
    // Whether the program shows its main window once start-up is over.
    virtual bool ShowMainForm() const = 0;
    virtual void SetShowMainForm(bool value) = 0;
    virtual void ShowMessageBox(const QString& text, const QString& caption) = 0;
    // Ends the program as soon as start-up returns to the event loop.
    virtual void Terminate() = 0;
    // Another instance asked this one to come forward.
    virtual void BringToFront() = 0;
};

// Keeps a program to one running instance. Check (run by Loaded) takes the instance
// lock; when another live process holds it, DoAnotherInstance shows the message when
// asked, brings the other instance forward and ends this one before its main window is
// shown. The lock dies with its holder, so a crashed first instance never blocks a later
// start. When the lock cannot be had at all (no runtime folder), the program starts
// anyway and LastError says why. Main thread only.
class TkitOneInstance : public TkitComponent
{
    Q_OBJECT

public:
    // sender is the component; terminate may be set false to let this instance run.
    using ShowMessageEvent = std::function<void(QObject* sender, bool& terminate)>;

    // shell must not be null (std::invalid_argument); the component owns it.
    TkitOneInstance(QObject* owner, std::unique_ptr<OneInstanceShell> shell);
    ~TkitOneInstance() override;

    bool ActivatePrevInstance() const { return m_activatePrevInstance; }
    void SetActivatePrevInstance(bool value) { m_activatePrevInstance = value; }
    bool ExeNameAsIdentifier() const { return m_exeNameAsIdentifier; }
    void SetExeNameAsIdentifier(bool value) { m_exeNameAsIdentifier = value; }
    bool ShowMessage() const { return m_showMessage; }
    void SetShowMessage(bool value) { m_showMessage = value; }
    const QString& Message() const { return m_message; }
    void SetMessage(const QString& value) { m_message = value; }
    const QString& Identifier() const { return m_identifier; }
    void SetIdentifier(const QString& value) { m_identifier = value; }
    void SetOnShowMessage(ShowMessageEvent handler) { m_onShowMessage = std::move(handler); }

    void Loaded() { Check(); }
    virtual void Check();
    // True when another live process holds the instance lock. Otherwise this process
    // holds it from now on, for its whole life, and answers the others' requests to come
    // forward.
    virtual bool IsAnotherInstance();
    virtual void DoAnotherInstance();

    // The name both instances derive from title or program file and Identifier.
    std::string InstanceName() const;
    // Why the lock could not be had; empty when it could.
    const std::string& LastError() const { return m_lastError; }
    OneInstanceShell& Shell() const { return *m_shell; }

private:
    std::unique_ptr<OneInstanceShell> m_shell;
    bool m_activatePrevInstance = true;
    bool m_exeNameAsIdentifier = false;
    bool m_showMessage = false;
    QString m_message;
    QString m_identifier;
    ShowMessageEvent m_onShowMessage;
    std::string m_lastError;
};

// The file-system form of an instance name: "/" and "%" escaped, and a long name cut and
// completed with a digest, so any title or path makes one valid lock name.
std::string InstanceLockName(const std::string& instanceName);

// The shell of a real program: the application's display name and file, the main
// window's visibility decided by ShowMainForm, boxes through MessageBoxes, and the
// program's top-level window raised when another instance asks.
class QtOneInstanceShell : public OneInstanceShell
{
public:
    QString ApplicationTitle() const override;
    QString ApplicationExeName() const override;
    bool ShowMainForm() const override { return m_showMainForm; }
    void SetShowMainForm(bool value) override { m_showMainForm = value; }
    void ShowMessageBox(const QString& text, const QString& caption) override;
    void Terminate() override;
    void BringToFront() override;

    bool Terminated() const { return m_terminated; }
    // Also called when another instance asks this one to come forward.
    void SetOnBringToFront(std::function<void()> handler) { m_onBringToFront = std::move(handler); }

private:
    bool m_showMainForm = true;
    bool m_terminated = false;
    std::function<void()> m_onBringToFront;
};

} // namespace morvane
