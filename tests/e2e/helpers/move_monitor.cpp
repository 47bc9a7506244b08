// The monitor program, started as its own process, that moves the backup folder: its
// window comes up as usual, then the move dialog's Change is pressed on a destination.
//   move_monitor DESTINATION [CANCEL_AFTER_FILES [PICTURE.png]]
// Prints "OUTCOME <n>" (the move's result kind) and the move's text, then ends. Tests kill
// it part-way, or let it cancel after so many files. With a picture's name the main window
// is saved after the move, its first folder with files shown and its first file selected.
#include "monitor/FileListView.h"
#include "monitor/FoldersTreeView.h"
#include "monitor/MonitorProgram.h"
#include "monitor/TForm1.h"
#include "monitor/TForm5.h"
#include "platform/ChangeNotification.h"
#include "platform/Log.h"
#include "platform/Paths.h"
#include "support/components/ComponentLibrary.h"
#include "support/components/ModalDialogs.h"

#include <QApplication>
#include <QPixmap>
#include <cstdio>
#include <cstdlib>

using namespace morvane;

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    QApplication app(argc, argv);
    app.setApplicationName("kelvrim");
    SetLogName("kelvrim");
    ComponentLibraryStartUp();
    const std::string dest = WithoutTrailingSep(argv[1]);
    const int cancelAfter = argc > 2 ? std::atoi(argv[2]) : 0;
    int outcome = -1;
    {
        monitor::MonitorProgram program;
        if (!program.Start())
            return 3;
        ModalDialogs::PushHandler([&](QDialog& dialog) {
            auto& form = static_cast<monitor::TForm5&>(dialog);
            form.SetCurrentFolder(FolderPart(dest));
            form.SelectFolder(NamePart(dest));
            form.MoveControl().SetAfterFileHook([&form, cancelAfter](int done) {
                if (cancelAfter > 0 && done >= cancelAfter)
                    form.MoveControl().Cancel();
            });
            const monitor::BackupMovePlan plan = form.MakePlan(dest);
            std::printf("MOVING %zu items from %s\n", plan.Items.size(), plan.OldRoot.c_str());
            std::fflush(stdout);
            form.ChangeButtonClick();
            outcome = form.LastResult().Outcome;
            std::printf("OUTCOME %d\n%s\nmoved %d, remaining %d, without versions %d\n", outcome,
                        form.LastResult().Text.c_str(), form.LastResult().Moved, form.LastResult().Remaining,
                        form.LastResult().WithoutVersions);
            std::fflush(stdout);
        });
        monitor::TForm1& window = *program.Form();
        window.BackupFolderDialog();
        if (argc > 3) {
            if (QTreeWidgetItem* node = window.FoldersTree()->FirstNodeWithFiles())
                window.FoldersTree()->setCurrentItem(node);
            QCoreApplication::processEvents();
            window.FileList()->SetSelected(0);
            window.VersionsClick();
            QCoreApplication::processEvents();
            window.grab().save(QString::fromLocal8Bit(argv[3]));
        }
        window.close();
    }
    ChangeNotification::StopReader();
    return outcome < 0 ? 4 : 0;
}
