#include "monitor/MonitorProgram.h"
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
    morvane::ComponentLibraryStartUp();
    try {
        morvane::monitor::MonitorProgram program;
        return program.MonitorMain();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kelvrim: %s\n", e.what());
        return 1;
    }
}
