#include "monitor/MonitorProgram.h"
#include "platform/ChangeNotification.h"
#include "platform/Log.h"
#include "platform/TerminationSignal.h"
#include "support/components/ComponentLibrary.h"

#include <QApplication>
#include <cstdio>
#include <exception>

int main(int argc, char** argv)
{
    morvane::IgnoreBrokenPipes();
    QApplication app(argc, argv);
    app.setApplicationName("kelvrim");
    morvane::SetLogName("kelvrim");
    // Started from the menu the monitor has no terminal: its lines must also reach a file.
    morvane::OpenLogFile();
    morvane::LogToolkitMessages();
    morvane::ComponentLibraryStartUp();
    try {
        int code = 0;
        {
            morvane::monitor::MonitorProgram program;
            code = program.MonitorMain();
        }
        // Every watch has ended with the program: the change reader ends too.
        morvane::ChangeNotification::StopReader();
        return code;
    } catch (const std::exception& e) {
        morvane::Log(e.what());
        return 1;
    }
}
