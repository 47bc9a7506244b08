#pragma once

#include "FakeAgent.h"
#include "common/TestSupport.h"
#include "engine/ItemRecordIO.h"
#include "monitor/FileDialogs.h"
#include "monitor/ListView.h"
#include "monitor/TForm1.h"
#include "platform/DirListing.h"
#include "platform/IniFile.h"
#include "platform/MessageWindow.h"
#include "platform/Paths.h"
#include "support/components/MessageBoxes.h"

#include <QAction>
#include <QLabel>
#include <QTreeWidget>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>

namespace morvane::test {

// A main window over a fake agent's block, with its own message window published as
// the monitor's, so reports of the fake agent reach the answer handler. Opening files
// is recorded, not done.
class MonitorFixture : public ::testing::Test
{
protected:
    MonitorFixture() : agent(env.Home())
    {
        MessageBoxes::Reset();
        monitor::FileDialogs::Reset();
        IniFile::ClearCache();
        // The desktop trash of these tests lies in their own folder.
        m_oldDataHome = qgetenv("XDG_DATA_HOME");
        std::filesystem::create_directories(env.Home() + "xdg");
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString(env.Home() + "xdg"));
    }

    ~MonitorFixture() override
    {
        window.reset();
        form.reset();
        if (m_oldDataHome.isNull())
            qunsetenv("XDG_DATA_HOME");
        else
            qputenv("XDG_DATA_HOME", m_oldDataHome);
    }

    std::string ListFile() const { return env.Home() + kListFileName; }
    std::string BackupRoot() const { return env.Home() + "backup/"; }

    // Stores an item in the agent's list file, as the agent would have saved it.
    void StoreItem(const TMonItemRecord& record) { WriteItemRecord(record, ListFile(), BackupRoot()); }

    // A monitored file in the work folder, stored with its folder item.
    TMonItemRecord StoreFile(const std::string& name, const std::string& fileId,
                             const std::string& text = "x")
    {
        const std::string folder = env.Work();
        WriteFile(folder + name, text);
        StoreItem(ItemRecordFor(folder, "F" + fileId));
        TMonItemRecord record = ItemRecordFor(folder + name, fileId);
        StoreItem(record);
        return record;
    }

    // The user's command: the action named, after its rules were asked again.
    void Trigger(const char* action)
    {
        form->UpdateActions();
        form->Action(action)->trigger();
    }

    // Builds the window, loads the list and hooks the answer handler.
    void OpenForm()
    {
        form = std::make_unique<monitor::TForm1>(agent.Block(), env.Home());
        form->SetOpener([this](const monitor::OpenRequest& request) { opened.push_back(request); });
        window = std::make_unique<MessageWindow>();
        window->SetHandler([this](const WindowMessage& message) { form->AppMessage(message); });
        agent.Block()->MonitorRunning = 1;
        agent.Block()->MonitorWnd = window->Handle();
        form->InitActiveList();
        form->Hook();
    }

    // Shows the folder's files and selects the row of name; its index, -1 if missing.
    int SelectFile(const std::string& path)
    {
        if (QTreeWidgetItem* node = form->FindNode(FolderPart(path)))
            form->FoldersTree()->setCurrentItem(node);
        const int row = form->RowOfPath(path);
        form->FileList()->SetSelected(row);
        return row;
    }

    std::string Column(int row, int subItem) const
    {
        return form->FileList()->SubItem(row, subItem).toStdString();
    }

    TestEnv env;
    FakeAgent agent;
    std::unique_ptr<monitor::TForm1> form;
    std::unique_ptr<MessageWindow> window;
    std::vector<monitor::OpenRequest> opened;

private:
    QByteArray m_oldDataHome;
};

} // namespace morvane::test
