// The answer handler: the agent's reports mirrored in the engine copy and the views.
#include "engine/TRKMonFolder.h"
#include "engine/TRKMonItem.h"
#include "engine/TRKMonItems.h"
#include "monitor/ListView.h"
#include "monitor/TForm1.h"
#include "platform/MessageWindow.h"
#include "support/components/MessageBoxes.h"
#include "support/components/ModalDialogs.h"

#include <QApplication>
#include <QStatusBar>
#include <QTimer>

namespace morvane::monitor {

bool TForm1::AppMessage(const WindowMessage& message)
{
    if (m_unhooked || !m_block)
        return false;
    Answer answer{message, std::nullopt};
    for (MessageIndex index : {MsgAdd, MsgStart, MsgStop, MsgDelete, MsgVersion}) {
        const std::uint32_t id = m_block->MessageIds[index];
        if (id == 0 || message.Msg != id)
            continue;
        // The agent holds back its next report until this one's record has been taken,
        // so the record is copied now, before anything else can run, and the way is
        // freed for the next report. A request of ours in the slot is the agent's to free.
        answer.Record = m_block->ItemRecord;
        if (!m_block->RequestInRecord())
            m_block->AddHandshake.AtomicStore(false);
        break;
    }
    if (!m_hooked) {
        m_pending.push_back(answer);
        return false;
    }
    try {
        return HandleMessage(answer);
    } catch (const std::exception& e) {
        // A report the copy cannot take (a bad path in the block) is said and dropped;
        // the handler goes on with the next one.
        qWarning("A report of the agent could not be handled: %s", e.what());
        m_statusBar->showMessage(QString::fromStdString(Message(MonitorText::ReportNotHandled, {e.what()})),
                                 8000);
        return true;
    }
}

const TMonItemRecord& TForm1::AnswerRecord() const
{
    return m_answer ? *m_answer : m_block->ItemRecord;
}

void TForm1::CloseWhenIdle()
{
    // A command whose dialog was cancelled may open a box next: that one goes too.
    RejectOpenDialogs();
    if (ModalDialogs::Depth() > 0 || QApplication::activeModalWidget()) {
        QTimer::singleShot(10, this, &TForm1::CloseWhenIdle);
        return;
    }
    close();
}

void TForm1::CloseAsExit()
{
    if (m_closed)
        return;
    // A dialog's modal loop may run below the caller: the dialog goes first and the
    // window closes once that loop and its command have ended.
    if (RejectOpenDialogs())
        CloseWhenIdle();
    else
        close();
}

bool TForm1::HandleMessage(const Answer& answer)
{
    const WindowMessage& message = answer.Message;
    // Numbers are read from the block at every message, never cached.
    const auto is = [&](MessageIndex index) {
        const std::uint32_t id = m_block->MessageIds[index];
        return id != 0 && message.Msg == id;
    };
    // Every routine below reads the report's record through AnswerRecord(). (CLOSE and
    // ACTIVATE carry none and read nothing of it.)
    const TMonItemRecord record = answer.Record ? *answer.Record : m_block->ItemRecord;
    m_answer = &record;
    struct Reset
    {
        const TMonItemRecord*& answer;
        ~Reset() { answer = nullptr; }
    } reset{m_answer};

    if (is(MsgAdd)) {
        if (record.IsFolder)
            AddMonFolderAnswer(record);
        else
            AddMonFile(record.Path.Get(), record.FileID.Get(), false);
        return true;
    }
    if (is(MsgStart)) {
        if (record.IsFolder)
            StateMonFolder(1, -1, false);
        else
            StateMonFile(1, -1, false);
        RepaintViews();
        return true;
    }
    if (is(MsgStop)) {
        if (message.WParam == 1) {
            // The item's file or folder was found missing.
            const std::string path = record.Path.Get();
            const std::shared_ptr<TRKMonItem> item =
                record.IsFolder ? std::shared_ptr<TRKMonItem>(m_items->FolderByPath(path))
                                : m_items->FileByPath(path);
            if (!item) {
                MessageBoxes::Show(BoxKind::Information, "Start/Stop handler: Item not found", BoxButtons::Ok,
                                   BoxAnswer::Ok, this);
                return false;
            }
            item->UpdateData([](TMonItemRecord& data) { data.MonStatus = msBroken; });
        }
        if (record.IsFolder)
            StateMonFolder(0, -1, false);
        else
            StateMonFile(0, -1, false);
        RepaintViews();
        return true;
    }
    if (is(MsgDelete)) {
        if (record.IsFolder)
            DeleteMonFolder(record.Path.Get());
        else
            DeleteMonFile(-1, record.Path.Get(), false);
        return true;
    }
    if (is(MsgClose)) {
        Unhook();
        CloseAsExit();
        return true;
    }
    if (is(MsgVersion)) {
        const int index = m_items->FindByPath(record.Path.Get());
        if (index >= 0) {
            const auto item = m_items->GetFile(index);
            item->SetData(record);
            // Every row shows its item's state and the count of the versions on disk,
            // selected or not: one whose version could not be written shows it broken
            // until a version is made again.
            InitFileListItem(item, -1);
            const int row = m_fileList->Selected();
            if (row >= 0 && ItemIndexOfRow(row) == index)
                VersionsClick();
        }
        return true;
    }
    if (is(MsgActivate)) {
        ActivateWindow();
        return true;
    }
    return false;
}

} // namespace morvane::monitor
