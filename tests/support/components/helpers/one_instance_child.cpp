// A program with a single-instance component, started by the tests as a real process.
// Usage: one_instance_child <title> <identifier>
// Prints "RUNNING" when it is the instance (then "ACTIVATED" each time another one asks
// it to come forward, until it is killed), or "ANOTHER" and exits with 3.
#include "support/components/TkitOneInstance.h"

#include <QApplication>
#include <cstdio>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 3)
        return 2;
    QApplication::setApplicationDisplayName(QString::fromLocal8Bit(argv[1]));
    auto shell = std::make_unique<morvane::QtOneInstanceShell>();
    morvane::QtOneInstanceShell* qtShell = shell.get();
    qtShell->SetOnBringToFront([] {
        std::printf("ACTIVATED\n");
        std::fflush(stdout);
    });
    morvane::TkitOneInstance instance(nullptr, std::move(shell));
    instance.SetIdentifier(QString::fromLocal8Bit(argv[2]));
    instance.Loaded();
    if (qtShell->Terminated()) {
        std::printf("ANOTHER\n");
        std::fflush(stdout);
        return 3;
    }
    std::printf("RUNNING\n");
    std::fflush(stdout);
    return app.exec();
}
