#include "monitor/MonitorProgram.h"

#include <QApplication>
#include <cstdio>
#include <exception>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    app.setApplicationName("kelvrim");
    try {
        morvane::monitor::MonitorProgram program;
        return program.MonitorMain();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kelvrim: %s\n", e.what());
        return 1;
    }
}
