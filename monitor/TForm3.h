#pragma once

#include "engine/SharedBlock.h"

#include <QDialog>
#include <QPoint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace morvane::monitor {

class AgentLink;
class DigitEdit;

// The system options dialog: language, the balloon after a new version, and how version
// lists show dates, names and how many versions. It shows what the agent holds in the
// shared block, writes the settings file (home + "kelvrim.ini") in one write, and asks
// the agent to read it again (REINIT). A settings file that cannot be written is said and
// the dialog stays open; nothing is posted then. Main thread.
class TForm3 : public QDialog
{
    Q_OBJECT
public:
    // block may be nullptr: then there is no language list and nothing to show or post.
    TForm3(SharedBlock* block, std::string home, QWidget* parent = nullptr);
    ~TForm3() override;

    // Fills the language list from home + "Langs/" and the shipped files, and selects the
    // language chosen before (while it is listed) or else the block's. Run at every show.
    void InitLangCombo();
    // Loads the controls from the block.
    void InitDateCombo();
    // Writes the settings, switches the windows to a newly chosen language, posts REINIT
    // and closes; or says why not and stays open.
    void Button1Click();
    // The sample of the format field as it shows now.
    QString SampleText() const;

    // Called with the chosen language's file when the language changed on save.
    void SetOnLanguageChanged(std::function<void(const std::string& languageFile)> onChanged)
    {
        m_onLanguageChanged = std::move(onChanged);
    }
    // What the "Change" button of the backup folder opens; without it the button is off.
    // While a move is unfinished the box says so, with a button that opens the same.
    void SetBackupFolderDialog(std::function<void()> open);
    // Says a move left unfinished (hides the notice when there is none), from the settings.
    void ShowUnfinishedMove();
    // Shows how the last move ended, under the backup folder, until the next show.
    void ShowMoveOutcome(const std::string& text);
    // Where the dialog was last closed (its frame's top-left corner), nothing while it has
    // never been shown; it opens there again when that place is on a screen.
    std::optional<QPoint> Place() const { return m_place; }
    void SetPlace(const QPoint& place) { m_place = place; }
    void setVisible(bool visible) override;

    // The window's road to the agent, so REINIT goes behind the requests that wait on it;
    // without one the dialog has its own.
    void SetAgentLink(AgentLink* link) { m_link = link; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void DateFormatEditChange();
    void ShowDateCheckClick();
    void LimitShowCheckClick();
    void FitNotice();

    SharedBlock* m_block;
    std::string m_home;
    std::unique_ptr<AgentLink> m_ownLink;
    AgentLink* m_link = nullptr;
    std::function<void(const std::string&)> m_onLanguageChanged;
    std::function<void()> m_openBackupFolder;
    std::optional<QPoint> m_place;

    QTabWidget* m_pageControl1;
    QComboBox* m_langCombo;
    QGroupBox* m_backupBox;
    QLabel* m_backuppathLabel;
    QPushButton* m_button3;
    QLabel* m_moveNotice;
    QPushButton* m_finishMove;
    bool m_noticeUnfinished = false; // the notice says an unfinished move, not an outcome
    QCheckBox* m_showBaloon;
    QCheckBox* m_showDateCheck;
    QLabel* m_label2;
    QLineEdit* m_dateFormatEdit;
    QLabel* m_label4;
    QLineEdit* m_dateSampleEdit;
    QCheckBox* m_showFileNameCheck;
    QCheckBox* m_limitShowCheck;
    QLabel* m_label1;
    DigitEdit* m_limitShowNumber;
    QPushButton* m_button1;
    QPushButton* m_button2;
};

} // namespace morvane::monitor
