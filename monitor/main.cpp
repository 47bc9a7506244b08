#include "monitor/MonitorProgram.h"
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
    morvane::ComponentLibraryStartUp();
    try {
        morvane::monitor::MonitorProgram program;
        return program.MonitorMain();
    } catch (const std::exception& e) {
        morvane::Log(e.what());
        return 1;
    }
}
