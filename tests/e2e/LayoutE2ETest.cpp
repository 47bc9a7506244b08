// The main window's layout with the real agent over several restarts: the splitters, the
// column widths and the options dialog come back where the user left them.
#include "MonitorE2EFixture.h"
#include "monitor/ListView.h"
#include "monitor/MonitorProgram.h"
#include "monitor/TForm3.h"
#include "platform/IniFile.h"
#include "support/components/ModalDialogs.h"

#include <QApplication>
#include <QDialog>
#include <QMouseEvent>
#include <QSplitter>
#include <QTreeWidget>
#include <QWindow>

namespace morvane::e2e {
namespace {

using test::WaitUntil;
using namespace std::chrono_literals;

// One run of the monitor: what it must show when it opens, then what the user does.
struct MonitorRun
{
    int FileListHeight; // expected on opening; 0: whatever the designed layout gives
    int FoldersWidth;
    bool OptionsPlaced;   // the options dialog opens where it was last left
    int DragFileListTo;   // -1: left alone
    int DragFoldersTo;    // -1: left alone
    QPoint MoveOptionsTo; // (-1, -1): the dialog is not opened in this run
};

class LayoutE2E : public MonitorE2E
{
protected:
    void SetUp() override { ModalDialogs::Reset(); }
    void TearDown() override { ModalDialogs::Reset(); }

    QSplitter* Splitter(const char* name) const { return Form().findChild<QSplitter*>(name); }

    // Drags the handle between the two panes of a splitter with the mouse, so the first
    // pane gets size.
    static void Drag(QSplitter* splitter, int size)
    {
        QWidget* handle = splitter->handle(1);
        const bool across = splitter->orientation() == Qt::Horizontal;
        const QPoint grip(across ? 1 : handle->width() / 2, across ? handle->height() / 2 : 1);
        const QPoint to = across ? QPoint(size + 1, grip.y()) : QPoint(grip.x(), size + 1);
        const auto send = [&](QEvent::Type type, const QPoint& local, const QPoint& global,
                              Qt::MouseButtons buttons) {
            QMouseEvent event(type, QPointF(local), QPointF(global), Qt::LeftButton, buttons, Qt::NoModifier);
            QApplication::sendEvent(handle, &event);
        };
        send(QEvent::MouseButtonPress, grip, handle->mapToGlobal(grip), Qt::LeftButton);
        const QPoint global = splitter->mapToGlobal(to);
        send(QEvent::MouseMove, handle->mapFromGlobal(global), global, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, handle->mapFromGlobal(global), global, Qt::NoButton);
        QCoreApplication::processEvents();
    }

    // Opens the options dialog: where it opened (its frame's corner), and where the user
    // left it after moving it (through the window system, as a window manager does) so
    // that its inside starts at moveTo, when that is given.
    std::pair<QPoint, QPoint> OpenOptions(const QPoint& moveTo)
    {
        QPoint opened;
        QPoint left;
        ModalDialogs::PushHandler([&](QDialog& dialog) {
            QCoreApplication::processEvents();
            opened = dialog.pos();
            if (moveTo.x() >= 0) {
                dialog.windowHandle()->setPosition(moveTo);
                EXPECT_TRUE(WaitUntil([&] { return dialog.geometry().topLeft() == moveTo; }, 5s));
            }
            left = dialog.pos();
        });
        Trigger("aOptions");
        return {opened, left};
    }

    std::string Layout(const char* section, const std::string& key) const
    {
        return IniFile(env.Home() + "mvparam.ini").ReadString(section, key, "");
    }
};

TEST_F(LayoutE2E, TheLayoutComesBackAsLeftOverThreeRestarts)
{
    const MonitorRun runs[] = {
        {0, 0, false, 250, 180, {120, 90}},  {250, 180, true, -1, -1, {-1, -1}},
        {250, 180, true, 160, -1, {-1, -1}}, {160, 180, true, -1, -1, {140, 70}},
        {160, 180, true, -1, -1, {-1, -1}},
    };
    StartAgent();
    QPoint lastPlace(-1, -1);
    std::string firstVerWidths;
    for (std::size_t i = 0; i < std::size(runs); ++i) {
        SCOPED_TRACE("run " + std::to_string(i + 1));
        const MonitorRun& run = runs[i];
        StartMonitor();
        ASSERT_TRUE(WaitUntil([&] { return Form().isVisible(); }, 5s));
        QCoreApplication::processEvents();
        if (i == 0) {
            Form().resize(900, 640);
            Form().FileList()->SetUserColumnWidth(1, 95);
            // Closed with a file's versions on show; the next runs open with none.
            test::WriteFile(env.Work() + "a.txt", "1");
            ASSERT_GE(AddFile(env.Work() + "a.txt"), 0);
            Select(env.Work() + "a.txt");
            ASSERT_TRUE(WaitVersionRows(1));
            QCoreApplication::processEvents();
        }
        if (run.FileListHeight > 0) {
            EXPECT_EQ(Splitter("Panel1")->sizes().front(), run.FileListHeight);
            EXPECT_EQ(Splitter("Splitter1")->sizes().front(), run.FoldersWidth);
            EXPECT_EQ(Form().size(), QSize(900, 640));
            EXPECT_EQ(Form().FileList()->ColumnWidth1(), 95);
        }
        if (run.OptionsPlaced || run.MoveOptionsTo.x() >= 0) {
            const auto [opened, left] = OpenOptions(run.MoveOptionsTo);
            if (run.OptionsPlaced) {
                EXPECT_EQ(opened, lastPlace);
            }
            lastPlace = left;
            // Opened again in the same run, it is where it was just left.
            EXPECT_EQ(OpenOptions({-1, -1}).first, lastPlace);
        }
        if (run.DragFileListTo >= 0)
            Drag(Splitter("Panel1"), run.DragFileListTo);
        if (run.DragFoldersTo >= 0)
            Drag(Splitter("Splitter1"), run.DragFoldersTo);
        if (run.DragFileListTo >= 0) {
            ASSERT_EQ(Splitter("Panel1")->sizes().front(), run.DragFileListTo);
        }
        if (run.DragFoldersTo >= 0) {
            ASSERT_EQ(Splitter("Splitter1")->sizes().front(), run.DragFoldersTo);
        }
        Form().close();
        program.reset();
        // Every column that shows keeps a width of its own (the file path column is hidden).
        for (const char* key : {"FileList.ColumnWidth1", "FileList.ColumnWidth3", "FileList.ColumnWidth4"})
            EXPECT_GT(std::atoi(Layout("FileList", key).c_str()), 0) << key;
        for (const char* key : {"VerList.ColumnWidth1", "VerList.ColumnWidth2", "VerList.ColumnWidth3"})
            EXPECT_GT(std::atoi(Layout("VerList", key).c_str()), 0) << key;
        // The versions list, empty in these runs, keeps the widths its rows had.
        std::string verWidths;
        for (const char* key : {"VerList.ColumnWidth0", "VerList.ColumnWidth1", "VerList.ColumnWidth2"})
            verWidths += Layout("VerList", key) + " ";
        if (i == 0)
            firstVerWidths = verWidths;
        EXPECT_EQ(verWidths, firstVerWidths);
    }

    // Only the column the user sized keeps its width; the others, fitted to a short name
    // so far, widen for the names that come.
    StartMonitor();
    EXPECT_EQ(Form().FileList()->UserColumnWidth(1), 95);
    EXPECT_EQ(Form().FileList()->UserColumnWidth(0), 0);
    const int before = Form().FileList()->ColumnWidth0();
    const std::string file = env.Work() + "a-name-wider-than-the-caption-of-its-column.txt";
    test::WriteFile(file, "1");
    ASSERT_GE(AddFile(file), 0);
    EXPECT_TRUE(WaitUntil([&] { return Form().FileList()->ColumnWidth0() > before + 50; }, 5s))
        << before << " " << Form().FileList()->ColumnWidth0();
}

} // namespace
} // namespace morvane::e2e
