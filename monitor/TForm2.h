#pragma once

#include "engine/MonItemRecord.h"
#include "monitor/AgentLink.h"

#include <QDialog>
#include <QTime>
#include <string>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QTimeEdit;

namespace morvane {
class TRKMonItems;
}

namespace morvane::monitor {

class DigitEdit;

// The item properties dialog: when versions of one monitored file are made, which are
// kept, how they are named and what opens them. It edits a copy of the item's record
// and, on Save, hands the whole record to the agent (UPDATE, wParam 1 when the options
// also become the defaults for new files); only once that was sent does the monitor's
// own item take the options. Main thread.
class TForm2 : public QDialog
{
    Q_OBJECT
public:
    TForm2(TRKMonItems* items, SharedBlock* block, QWidget* parent = nullptr);

    // The full path of the file the next show edits.
    void SetKey(const std::string& path) { m_key = path; }
    const std::string& Key() const { return m_key; }

    // Loads the item's options into the controls; false when the list has no such file.
    bool LoadItem();
    // Checks the fields, writes the record into the block, posts UPDATE and, once it was
    // sent, stores the options in the monitor's item and closes. Otherwise says why and
    // stays open; nothing is stored or sent.
    void SaveButtonClick();

    // Date helpers of the two interval fields (OLE dates; values no date can have count
    // as 1900-01-01 00:00).
    static QTime TimeOfDay(double date);
    static double WithTimeOfDay(double date, const QTime& time);
    // Days of a keep-age: the day of the month minus 1.
    static int IntervalDays(double date);
    // The keep-age of days and a time of day: 1900-01-(days + 1) at that time.
    static double IntervalDate(int days, const QTime& time);

signals:
    // The item's options were sent and stored; its row is to be drawn again.
    void Saved(const QString& path);

protected:
    void showEvent(QShowEvent* event) override;

private:
    // The record the controls describe, built on base; false with error said.
    bool BuildRecord(TMonItemRecord& record, std::string& error) const;
    QWidget* MakePage(const char* name);

    TRKMonItems* m_items;
    AgentLink m_link;
    std::string m_key;
    double m_monIntervalBase = 2.0;

    QTabWidget* m_pageControl1;
    QRadioButton* m_makeAlwaysRadio;
    QRadioButton* m_makeIntervalRadio;
    QRadioButton* m_makeNumberRadio;
    QTimeEdit* m_intervalTime;
    DigitEdit* m_makingNumberEdit;
    QCheckBox* m_makeAskCheck;
    QCheckBox* m_makeCompareCheck;
    QCheckBox* m_makeSizeCheck;
    QRadioButton* m_delNumberRadio;
    QRadioButton* m_delIntervalRadio;
    DigitEdit* m_delNumberEdit;
    DigitEdit* m_delIntervalDaysEdit;
    QTimeEdit* m_delIntervalTime;
    QRadioButton* m_nameNoneRadio;
    QRadioButton* m_nameDateRadio;
    QRadioButton* m_nameNumberRadio;
    QRadioButton* m_executerWinCheck;
    QRadioButton* m_executerCustomCheck;
    QLineEdit* m_executerPathEdit;
    QPushButton* m_button1;
    QCheckBox* m_defaultCheck;
    QPushButton* m_saveButton;
    QPushButton* m_cancelButton;
};

} // namespace morvane::monitor
