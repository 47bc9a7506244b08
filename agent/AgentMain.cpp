#include "agent/AgentMain.h"

#include "agent/AgentSettings.h"
#include "agent/TForm1.h"
#include "engine/SharedBlock.h"
#include "platform/ChangeNotification.h"
#include "platform/Log.h"
#include "platform/NamedMutex.h"
#include "platform/Paths.h"
#include "platform/TerminationSignal.h"
#include "support/LanguageFiles.h"
#include "support/RunProgram.h"
#include "support/components/AppIcon.h"
#include "support/components/AppWindows.h"
#include "support/components/ComponentLibrary.h"
#include "support/components/MessageBoxes.h"

#include <QApplication>
#include <QByteArray>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <exception>
#include <iterator>
#include <optional>
#include <string_view>

namespace morvane {

namespace {

constexpr const char* kMonitorProgram = "kelvrim";

// The desktop's launch context of the menu entry: its startup notification (X11) and
// its activation token (Wayland). The toolkit takes them from the environment for the
// agent's own first window (the autostart question); the monitor's window, which the
// entry is for, gets them too, so that the launch feedback ends there and the window may
// come to the front.
class LaunchContext
{
public:
    // Before the application object, which takes the context away.
    LaunchContext()
    {
        for (std::size_t i = 0; i < std::size(kNames); ++i)
            m_values[i] = qgetenv(kNames[i]);
    }

    // Runs start with the context in the environment, which a program started inherits;
    // the context is spent then.
    template <class Start>
    auto HandTo(Start start)
    {
        for (std::size_t i = 0; i < std::size(kNames); ++i) {
            if (!m_values[i].isEmpty())
                qputenv(kNames[i], m_values[i]);
        }
        const auto result = start();
        for (std::size_t i = 0; i < std::size(kNames); ++i) {
            qunsetenv(kNames[i]);
            m_values[i].clear();
        }
        return result;
    }

private:
    static constexpr const char* kNames[] = {"DESKTOP_STARTUP_ID", "XDG_ACTIVATION_TOKEN"};
    QByteArray m_values[std::size(kNames)];
};

int RunAgent(QApplication& app, std::optional<LaunchContext>& launch)
{
    const bool showMonitor = launch.has_value();
    QApplication::setApplicationDisplayName("Morvane Agent");
    SetApplicationIcon();
    // Closing a box must never end the agent: only "Shut down" or a signal does.
    QApplication::setQuitOnLastWindowClosed(false);
    ComponentLibraryStartUp();

    try {
        const std::string home = HomeDir();
        try {
            // The user's own language files; the shipped ones are read from the install,
            // and without either the built-in texts serve.
            LanguageFolder();
        } catch (const std::exception& e) {
            Log(std::string("no language folder: ") + e.what());
        }
        AgentSettings settings(home);

        // One atomic test-and-take: of two agents started at once exactly one goes on. The
        // block is taken in the same step, so a client that finds this agent never finds
        // the window of one that died before it.
        std::optional<NamedMutex> instance;
        std::optional<SharedBlockMapping> block = SharedBlockMapping::CreateForAgent(instance);
        if (!block && showMonitor) {
            const std::string dir = ProgramDir();
            return launch->HandTo([&] { return RunProgram(dir + kMonitorProgram, {}, dir); }) ? 0 : 1;
        }
        if (!block) {
            MessageBoxes::Show(BoxKind::Information,
                               settings.ReadMessage("MesAgentExists", "Agent already started."),
                               BoxButtons::Ok);
            return 0;
        }

        // Ends the change reader after the form (and with it every watch) has gone.
        struct ReaderStop
        {
            ~ReaderStop() { ChangeNotification::StopReader(); }
        } readerStop;
        TForm1 form(home);
        form.AdoptBlock(std::move(*block));
        SetApplicationMainForm(&form);
        TerminationSignal termination;
        QObject::connect(&termination, &TerminationSignal::Received, &form,
                         [&form](int) { form.RequestClose(); });
        QObject::connect(
            &form, &TForm1::FormClosed, &app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
        form.FormCreate();
        ShowMainFormAtStart();
        if (form.Closed())
            return 0;
        if (showMonitor)
            QTimer::singleShot(0, &form, [&form, &launch] {
                launch->HandTo([&form] {
                    form.ShowPellary1Click();
                    return true;
                });
            });
        return QApplication::exec();
    } catch (const std::exception& e) {
        Log(std::string("cannot start: ") + e.what());
        return 1;
    }
}

} // namespace

int AgentMain(int argc, char** argv)
{
    const bool showMonitor = std::find_if(argv + 1, argv + argc, [](const char* arg) {
                                 return std::string_view(arg) == kShowMonitorOption;
                             }) != argv + argc;
    std::optional<LaunchContext> launch;
    if (showMonitor)
        launch.emplace();
    QApplication app(argc, argv);
    // Panels of the D-Bus kind title the icon's item, and name it, after the application.
    QApplication::setApplicationName("Morvane Agent");
    SetLogName("quennet");
    // Started at login the agent has no terminal: its lines must also reach a file.
    OpenLogFile();
    LogToolkitMessages();
    LogStart();
    const int code = RunAgent(app, launch);
    LogEnd(code);
    return code;
}

} // namespace morvane
