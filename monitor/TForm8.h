#pragma once

#include "engine/MonItemRecord.h"

#include <QDialog>
#include <string>
#include <vector>

class QAbstractButton;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace morvane::monitor {

class DigitEdit;

// The folder options dialog: whether a folder is monitored, which of its files are
// taken (only those added by hand, all, or those matching masks), whether hidden and
// system files count, and how long the watch waits after a change. The add-folder and
// folder-properties commands prepare it, show it and read it back. Main thread.
class TForm8 : public QDialog
{
    Q_OBJECT
public:
    explicit TForm8(QWidget* parent = nullptr);

    // A new folder: monitored (and not to be changed), all files, no masks, 3 seconds;
    // the caption names the folder.
    void PrepareNew(const std::string& folder);
    // An existing folder's options. Values a list file cannot have meant (a wait of more
    // than three digits) show the defaults.
    void PrepareFrom(const TMonItemRecord& record);
    // Monitored checked and not to be changed (a folder being added), after PrepareFrom.
    void PrepareMonitored();
    // The caption around the folder's path, "%1" standing for it (in the window's language).
    void SetCaptionPattern(const std::string& pattern) { m_captionPattern = pattern; }

    // Writes the filter mode, attributes, wait and masks into record (Monitored is the
    // caller's). False, with error said, when the masks cannot be stored whole.
    bool ReadInto(TMonItemRecord& record, std::string* error = nullptr) const;
    bool MonitoredChecked() const;

    // The masks joined as they are stored: each followed by ";". False, with error, for a
    // mask holding ";" or a result longer than 255 bytes.
    bool TemplatesText(std::string& text, std::string* error = nullptr) const;
    // The type column a mask shows: the desktop's type name, or "Undefined".
    static QString TemplateTypeName(const QString& mask);

    void UpdateFilterControls(QAbstractButton* sender);
    void cbMonitoredClick();
    void bAddNewTemplateClick();
    void bEditTemplateClick();
    void bDeleteTemplateClick();

protected:
    void showEvent(QShowEvent* event) override;
    // OK is taken only with options that can be stored; otherwise the dialog says why and
    // stays open.
    void done(int result) override;

private:
    void AddTemplateRow(const QString& mask);
    void SetFolderCaption(std::string folder);
    void lvTemplatesEdited(QTreeWidgetItem* item);

    std::string m_captionPattern = "%1 settings";
    QCheckBox* m_cbMonitored;
    QGroupBox* m_groupBox1;
    QRadioButton* m_rWholeFolder;
    QRadioButton* m_rTemplates;
    QRadioButton* m_rFilesOnly;
    QGroupBox* m_gbTemplates;
    QLineEdit* m_eNewTemplate;
    QPushButton* m_bAddNewTemplate;
    QPushButton* m_bEditTemplate;
    QPushButton* m_bDeleteTemplate;
    QTreeWidget* m_lvTemplates;
    QCheckBox* m_cbHidden;
    QCheckBox* m_cbSystem;
    QLabel* m_waitLabel;
    DigitEdit* m_eWait;
    QPushButton* m_button4;
    QPushButton* m_button5;
};

} // namespace morvane::monitor
