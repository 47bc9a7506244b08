#include "monitor/TForm2.h"

#include "engine/TRKMonItem.h"
#include "engine/TRKMonItems.h"
#include "monitor/DigitEdit.h"
#include "monitor/FileDialogs.h"
#include "platform/OleDate.h"
#include "platform/ShortText.h"
#include "support/components/FormOptions.h"
#include "support/components/MessageBoxes.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimeEdit>
#include <QVBoxLayout>
#include <cmath>
#include <initializer_list>
#include <utility>

namespace morvane::monitor {

namespace {

constexpr double kLastOleDate = 2958465.0; // 9999-12-31

double Sane(double date)
{
    return std::isfinite(date) && date >= 0 && date <= kLastOleDate ? date : kZeroDuration;
}

// Checks exactly the radio whose value equals value; none when no radio has it (a value
// this dialog does not know stays unchecked, and stays stored).
template <typename Value>
void CheckRadio(std::initializer_list<std::pair<QRadioButton*, Value>> radios, Value value)
{
    for (const auto& [radio, v] : radios) {
        radio->setAutoExclusive(false);
        radio->setChecked(v == value);
        radio->setAutoExclusive(true);
    }
}

// The value of the checked radio, or current when none is checked.
template <typename Value>
Value CheckedValue(std::initializer_list<std::pair<QRadioButton*, Value>> radios, Value current)
{
    for (const auto& [radio, v] : radios)
        if (radio->isChecked())
            return v;
    return current;
}

QTimeEdit* MakeTimeEdit(QWidget* parent, const char* name)
{
    auto* edit = new QTimeEdit(parent);
    edit->setObjectName(name);
    edit->setDisplayFormat("H:mm:ss");
    return edit;
}

} // namespace

TForm2::TForm2(TRKMonItems* items, SharedBlock* block, QWidget* parent)
    : QDialog(parent), m_items(items), m_link(block)
{
    setObjectName("Form2");
    setWindowTitle(tr("Properties"));
    // The title names the file it shows ("Properties of" is a text of the language file).
    MarkRunTimeText(this);
    setModal(true);
    m_pageControl1 = new QTabWidget(this);
    m_pageControl1->setObjectName("PageControl1");

    const auto radio = [](QWidget* page, const char* name, const QString& text) {
        auto* button = new QRadioButton(text, page);
        button->setObjectName(name);
        QObject::connect(button, &QRadioButton::toggled, page, [page] { MarkRadioGroup(page); });
        return button;
    };
    const auto check = [](QWidget* page, const char* name, const QString& text) {
        auto* box = new QCheckBox(text, page);
        box->setObjectName(name);
        QObject::connect(box, &QCheckBox::toggled, box, [box] { MarkChecked(box); });
        return box;
    };
    const auto label = [](QWidget* page, const char* name, const QString& text) {
        auto* l = new QLabel(text, page);
        l->setObjectName(name);
        return l;
    };
    const auto digits = [](QWidget* page, const char* name, int max, const QString& designed) {
        // An emptied field stays empty: Save says so instead of storing a guess.
        auto* edit = new DigitEdit(max, QString(), page);
        edit->setObjectName(name);
        edit->setText(designed);
        edit->setMaximumWidth(60);
        return edit;
    };

    QWidget* monitorPage = MakePage("MonitorPage");
    m_makeAlwaysRadio = radio(monitorPage, "MakeAlwaysRadio", tr("Make version for every saving"));
    m_makeIntervalRadio =
        radio(monitorPage, "MakeIntervalRadio", tr("Make version after interval has reached"));
    QLabel* label1 = label(monitorPage, "Label1", tr("Interval:"));
    m_intervalTime = MakeTimeEdit(monitorPage, "IntervalTime");
    m_makeNumberRadio = radio(monitorPage, "MakeNumberRadio", tr("Make version every numbered save"));
    QLabel* label2 = label(monitorPage, "Label2", tr("Number:"));
    m_makingNumberEdit = digits(monitorPage, "MakingNumberEdit", 3, "2");
    m_makeAskCheck = check(monitorPage, "MakeAskCheck", tr("Ask confirmation (A)"));
    m_makeCompareCheck = check(monitorPage, "MakeCompareCheck", tr("Compare byte by byte (C)"));
    m_makeSizeCheck = check(monitorPage, "MakeSizeCheck", tr("Compare file sizes (S)"));
    auto* monitorLayout = new QGridLayout(monitorPage);
    monitorLayout->addWidget(m_makeAlwaysRadio, 0, 0, 1, 3);
    monitorLayout->addWidget(m_makeIntervalRadio, 1, 0, 1, 3);
    monitorLayout->addWidget(label1, 2, 1);
    monitorLayout->addWidget(m_intervalTime, 2, 2);
    monitorLayout->addWidget(m_makeNumberRadio, 3, 0, 1, 3);
    monitorLayout->addWidget(label2, 4, 1);
    monitorLayout->addWidget(m_makingNumberEdit, 4, 2);
    monitorLayout->addWidget(m_makeAskCheck, 5, 0, 1, 3);
    monitorLayout->addWidget(m_makeCompareCheck, 6, 0, 1, 3);
    monitorLayout->addWidget(m_makeSizeCheck, 7, 0, 1, 3);
    monitorLayout->setColumnMinimumWidth(0, 16);
    monitorLayout->setColumnStretch(3, 1);
    monitorLayout->setRowStretch(8, 1);

    QWidget* delPage = MakePage("DelPage");
    m_delNumberRadio = radio(delPage, "DelNumberRadio", tr("Store defined number of last versions"));
    QLabel* label3 = label(delPage, "Label3", tr("Number:"));
    m_delNumberEdit = digits(delPage, "DelNumberEdit", 3, "10");
    m_delIntervalRadio = radio(delPage, "DelIntervalRadio", tr("Store versions for interval"));
    QLabel* label5 = label(delPage, "Label5", tr("Days:"));
    m_delIntervalDaysEdit = digits(delPage, "DelIntervalDaysEdit", 2, "2");
    m_delIntervalDaysEdit->SetMaximum(30);
    QLabel* label4 = label(delPage, "Label4", tr("Time:"));
    m_delIntervalTime = MakeTimeEdit(delPage, "DelIntervalTime");
    auto* delLayout = new QGridLayout(delPage);
    delLayout->addWidget(m_delNumberRadio, 0, 0, 1, 3);
    delLayout->addWidget(label3, 1, 1);
    delLayout->addWidget(m_delNumberEdit, 1, 2);
    delLayout->addWidget(m_delIntervalRadio, 2, 0, 1, 3);
    delLayout->addWidget(label5, 3, 1);
    delLayout->addWidget(m_delIntervalDaysEdit, 3, 2);
    delLayout->addWidget(label4, 4, 1);
    delLayout->addWidget(m_delIntervalTime, 4, 2);
    delLayout->setColumnMinimumWidth(0, 16);
    delLayout->setColumnStretch(3, 1);
    delLayout->setRowStretch(5, 1);

    QWidget* namePage = MakePage("NamePage");
    m_nameNoneRadio = radio(namePage, "NameNoneRadio", tr("Use original file name for versions"));
    m_nameDateRadio = radio(namePage, "NameDateRadio", tr("Add date and time information to versions"));
    m_nameNumberRadio = radio(namePage, "NameNumberRadio", tr("Add number to versions"));
    auto* nameLayout = new QVBoxLayout(namePage);
    for (QWidget* w : std::initializer_list<QWidget*>{m_nameNoneRadio, m_nameDateRadio, m_nameNumberRadio})
        nameLayout->addWidget(w);
    nameLayout->addStretch();

    QWidget* runPage = MakePage("RunPage");
    m_executerWinCheck = radio(runPage, "ExecuterWinCheck", tr("Open with the desktop's default program"));
    m_executerCustomCheck = radio(runPage, "ExecuterCustomCheck", tr("Open with another program"));
    QLabel* label6 = label(runPage, "Label6", tr("Program:"));
    m_executerPathEdit = new QLineEdit(runPage);
    m_executerPathEdit->setObjectName("ExecuterPathEdit");
    m_button1 = new QPushButton(tr("..."), runPage);
    m_button1->setObjectName("Button1");
    m_button1->setAutoDefault(false);
    m_button1->setMaximumWidth(32);
    auto* runLayout = new QGridLayout(runPage);
    runLayout->addWidget(m_executerWinCheck, 0, 0, 1, 2);
    runLayout->addWidget(m_executerCustomCheck, 1, 0, 1, 2);
    runLayout->addWidget(label6, 2, 0, 1, 2);
    runLayout->addWidget(m_executerPathEdit, 3, 0);
    runLayout->addWidget(m_button1, 3, 1);
    runLayout->setRowStretch(4, 1);

    m_pageControl1->addTab(monitorPage, tr("Making versions"));
    m_pageControl1->addTab(delPage, tr("Store versions"));
    m_pageControl1->addTab(namePage, tr("Name versions"));
    m_pageControl1->addTab(runPage, tr("Opening versions"));

    m_defaultCheck = new QCheckBox(tr("Save current settings as default for new files"), this);
    m_defaultCheck->setObjectName("DefaultCheck");
    m_saveButton = new QPushButton(tr("Save options"), this);
    m_saveButton->setObjectName("SaveButton");
    m_saveButton->setDefault(true);
    m_cancelButton = new QPushButton(tr("Cancel"), this);
    m_cancelButton->setObjectName("CancelButton");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pageControl1, 1);
    layout->addWidget(m_defaultCheck);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_saveButton);
    buttons->addWidget(m_cancelButton);
    layout->addLayout(buttons);
    resize(520, 360);

    connect(m_saveButton, &QPushButton::clicked, this, &TForm2::SaveButtonClick);
    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_button1, &QPushButton::clicked, this, [this] {
        if (const auto file = FileDialogs::OpenFile(this))
            m_executerPathEdit->setText(QString::fromStdString(*file));
    });
}

QWidget* TForm2::MakePage(const char* name)
{
    auto* page = new QWidget(m_pageControl1);
    page->setObjectName(name);
    return page;
}

QTime TForm2::TimeOfDay(double date)
{
    const DateParts parts = DecodeOleDate(Sane(date));
    return QTime(parts.Hour, parts.Minute, parts.Second);
}

double TForm2::WithTimeOfDay(double date, const QTime& time)
{
    const DateParts parts = DecodeOleDate(Sane(date));
    return EncodeOleDate(parts.Year, parts.Month, parts.Day, time.hour(), time.minute(), time.second());
}

int TForm2::IntervalDays(double date)
{
    return DecodeOleDate(Sane(date)).Day - 1;
}

double TForm2::IntervalDate(int days, const QTime& time)
{
    return EncodeOleDate(1900, 1, days + 1, time.hour(), time.minute(), time.second());
}

bool TForm2::LoadItem()
{
    const auto item = m_items ? m_items->FileByPath(m_key) : nullptr;
    if (!item)
        return false;
    const TMonItemRecord record = item->Data();
    CheckRadio<int>(
        {{m_makeAlwaysRadio, mmAlways}, {m_makeIntervalRadio, mmInterval}, {m_makeNumberRadio, mmNumber}},
        record.MonMode);
    m_monIntervalBase = Sane(record.MonModeInterval);
    m_intervalTime->setTime(TimeOfDay(record.MonModeInterval));
    m_makingNumberEdit->SetValue(record.MonModeNumber, 2);
    m_makeAskCheck->setChecked(record.MonModeConfirmation);
    m_makeCompareCheck->setChecked(record.MonModeCompare);
    m_makeSizeCheck->setChecked(record.MonModeSize);
    CheckRadio<int>({{m_delNumberRadio, dmNumber}, {m_delIntervalRadio, dmInterval}}, record.DelMode);
    m_delNumberEdit->SetValue(record.DelModeNumber, 10);
    m_delIntervalDaysEdit->SetValue(IntervalDays(record.DelModeInterval), 2);
    m_delIntervalTime->setTime(TimeOfDay(record.DelModeInterval));
    CheckRadio<int>(
        {{m_nameNoneRadio, nmOriginal}, {m_nameDateRadio, nmDateTime}, {m_nameNumberRadio, nmVersionNumber}},
        record.NameMode);
    CheckRadio<int>({{m_executerWinCheck, emDefault}, {m_executerCustomCheck, emCustom}},
                    record.ExecuterMode);
    m_executerPathEdit->setText(QString::fromStdString(record.Executer.Get()));
    for (QWidget* page : {m_pageControl1->widget(0), m_pageControl1->widget(1), m_pageControl1->widget(2),
                          m_pageControl1->widget(3)})
        MarkRadioGroup(page);
    for (QCheckBox* box : {m_makeAskCheck, m_makeCompareCheck, m_makeSizeCheck})
        MarkChecked(box);
    m_pageControl1->setCurrentIndex(0);
    m_defaultCheck->setChecked(false);
    m_saveButton->setEnabled(true);
    return true;
}

void TForm2::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // A file that left the list while the command was on its way: nothing to edit.
    if (!LoadItem())
        QMetaObject::invokeMethod(this, &QDialog::reject, Qt::QueuedConnection);
}

bool TForm2::BuildRecord(TMonItemRecord& record, std::string& error) const
{
    const auto number = [&](const DigitEdit* edit, const QLabel* label) -> std::optional<int> {
        const auto value = edit->Value();
        if (!value)
            error = "Enter a number in \"" + label->text().toStdString() + "\" on the page \"" +
                    m_pageControl1->tabText(m_pageControl1->indexOf(edit->parentWidget())).toStdString() +
                    "\".";
        return value;
    };
    const auto makingNumber = number(m_makingNumberEdit, findChild<QLabel*>("Label2"));
    if (!makingNumber)
        return false;
    const auto delNumber = number(m_delNumberEdit, findChild<QLabel*>("Label3"));
    if (!delNumber)
        return false;
    const auto days = number(m_delIntervalDaysEdit, findChild<QLabel*>("Label5"));
    if (!days)
        return false;

    record.MonMode = static_cast<TMonMode>(CheckedValue<int>(
        {{m_makeAlwaysRadio, mmAlways}, {m_makeIntervalRadio, mmInterval}, {m_makeNumberRadio, mmNumber}},
        record.MonMode));
    record.MonModeInterval = WithTimeOfDay(m_monIntervalBase, m_intervalTime->time());
    record.MonModeNumber = *makingNumber;
    record.MonModeConfirmation = m_makeAskCheck->isChecked();
    record.MonModeCompare = m_makeCompareCheck->isChecked();
    record.MonModeSize = m_makeSizeCheck->isChecked();
    record.DelMode = static_cast<TDelMode>(
        CheckedValue<int>({{m_delNumberRadio, dmNumber}, {m_delIntervalRadio, dmInterval}}, record.DelMode));
    record.DelModeNumber = *delNumber;
    record.DelModeInterval = IntervalDate(*days, m_delIntervalTime->time());
    record.NameMode = static_cast<TNameMode>(CheckedValue<int>(
        {{m_nameNoneRadio, nmOriginal}, {m_nameDateRadio, nmDateTime}, {m_nameNumberRadio, nmVersionNumber}},
        record.NameMode));
    record.ExecuterMode = static_cast<TExecuterMode>(CheckedValue<int>(
        {{m_executerWinCheck, emDefault}, {m_executerCustomCheck, emCustom}}, record.ExecuterMode));

    // Options that would delete every version at the next save are never stored.
    if (record.DelMode == dmNumber && record.DelModeNumber == 0) {
        error = "At least one version must be kept: a number of 0 would delete every version.";
        return false;
    }
    if (record.DelMode == dmInterval && record.DelModeInterval <= kZeroDuration) {
        error = "Versions must be kept for some time: 0 days and 0:00:00 would delete every version.";
        return false;
    }
    const std::string executer = m_executerPathEdit->text().toStdString();
    if (!FitsShortText(executer)) {
        error = "The program path is longer than 255 bytes and cannot be stored: " + executer;
        return false;
    }
    record.Executer.Set(executer);
    return true;
}

void TForm2::SaveButtonClick()
{
    const auto item = m_items ? m_items->FileByPath(m_key) : nullptr;
    if (!item) {
        reject();
        return;
    }
    // The item as it is now: the agent may have changed it while the dialog was open.
    TMonItemRecord record = item->Data();
    std::string error;
    if (!BuildRecord(record, error)) {
        MessageBoxes::Show(BoxKind::Warning, error, BoxButtons::Ok, BoxAnswer::Ok, this);
        return;
    }
    if (!m_link.RequestUpdate(record, m_defaultCheck->isChecked() ? 1 : 0)) {
        MessageBoxes::Show(
            BoxKind::Warning,
            "The options could not be sent to the agent, so nothing was changed. Is it running?",
            BoxButtons::Ok, BoxAnswer::Ok, this);
        return;
    }
    item->SetData(record);
    emit Saved(QString::fromStdString(m_key));
    accept();
}

} // namespace morvane::monitor
