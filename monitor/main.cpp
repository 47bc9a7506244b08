#include "monitor/HelpPages.h"
#include "monitor/MonitorProgram.h"
#include "platform/ChangeNotification.h"
#include "platform/Log.h"
#include "platform/TerminationSignal.h"
#include "support/CommandLine.h"
#include "support/components/AppIcon.h"
#include "support/components/ComponentLibrary.h"

#include <QApplication>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>

int main(int argc, char** argv)
{
    morvane::IgnoreBrokenPipes();
    const std::string help = morvane::monitor::HelpPagePath();
    const std::string details =
        "The window in which you choose the files and folders to monitor and manage their\n"
        "versions. It needs the agent, quennet, and offers to start it.\n\nThe help: " +
        (help.empty() ? std::string("not installed") : help) + "\n";
    const morvane::ProgramInfo info{
        "kelvrim", "The Morvane monitor: manage monitored files and their versions.", details.c_str()};
    if (morvane::AnswerInfoOption(argc, argv, info))
        return 0;
    QApplication app(argc, argv);
    app.setApplicationName("kelvrim");
    morvane::SetApplicationIcon();
    morvane::SetLogName("kelvrim");
    // Started from the menu the monitor has no terminal: its lines must also reach a file.
    morvane::OpenLogFile();
    morvane::LogToolkitMessages();
    morvane::LogStart();
    morvane::ComponentLibraryStartUp();
    int code = 0;
    try {
        {
            morvane::monitor::MonitorProgram program;
            // A logout ends the monitor as File > Exit does: its layout is kept.
            std::optional<morvane::TerminationSignal> termination;
            try {
                termination.emplace();
                QObject::connect(&*termination, &morvane::TerminationSignal::Received, &app,
                                 [&program](int) { program.RequestClose(); });
            } catch (const std::exception& e) {
                morvane::Log(std::string("a termination signal will end the monitor at once: ") + e.what());
            }
            code = program.MonitorMain();
        }
        // Every watch has ended with the program: the change reader ends too.
        morvane::ChangeNotification::StopReader();
    } catch (const std::exception& e) {
        morvane::Log(e.what());
        code = 1;
    }
    morvane::LogEnd(code);
    return code;
}
