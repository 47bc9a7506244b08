#include "monitor/TForm3.h"

#include "engine/ItemRecordIO.h"
#include "monitor/AgentLink.h"
#include "monitor/BackupMove.h"
#include "monitor/DigitEdit.h"
#include "platform/DirListing.h"
#include "platform/IniFile.h"
#include "platform/MessageWindow.h"
#include "platform/OleDate.h"
#include "platform/Paths.h"
#include "support/LanguageFiles.h"
#include "support/components/FormOptions.h"
#include "support/components/MessageBoxes.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace morvane::monitor {

namespace {

constexpr const char* kLangsFolder = "Langs/";

} // namespace

TForm3::TForm3(SharedBlock* block, std::string home, QWidget* parent)
    : QDialog(parent), m_block(block), m_home(std::move(home))
{
    setObjectName("Form3");
    setWindowTitle(tr("System options"));
    setModal(true);
    m_pageControl1 = new QTabWidget(this);
    m_pageControl1->setObjectName("PageControl1");
    const auto label = [](QWidget* parent, const char* name, const QString& text) {
        auto* l = new QLabel(text, parent);
        l->setObjectName(name);
        return l;
    };
    const auto check = [](QWidget* parent, const char* name, const QString& text) {
        auto* box = new QCheckBox(text, parent);
        box->setObjectName(name);
        return box;
    };

    auto* tabSheet1 = new QWidget(m_pageControl1);
    tabSheet1->setObjectName("TabSheet1");
    QLabel* label3 = label(tabSheet1, "Label3", tr("Language:"));
    m_langCombo = new QComboBox(tabSheet1);
    m_langCombo->setObjectName("LangCombo");
    m_backupBox = new QGroupBox(tr(" Backup path "), tabSheet1);
    m_backupBox->setObjectName("BackupBox");
    m_backuppathLabel = label(m_backupBox, "BackuppathLabel", "BackuppathLabel");
    MarkRunTimeText(m_backuppathLabel);
    m_backuppathLabel->setWordWrap(true);
    m_button3 = new QPushButton(tr("Change"), m_backupBox);
    m_button3->setObjectName("Button3");
    m_button3->setAutoDefault(false);
    m_button3->setEnabled(false);
    // A move left unfinished, or the outcome of the last one.
    m_moveNotice = label(m_backupBox, "MoveNoticeLabel", QString());
    MarkRunTimeText(m_moveNotice);
    m_moveNotice->setWordWrap(true);
    m_moveNotice->hide();
    m_finishMove = new QPushButton(tr("Finish the move"), m_backupBox);
    m_finishMove->setObjectName("FinishMoveButton");
    m_finishMove->setAutoDefault(false);
    m_finishMove->hide();
    auto* backupLayout = new QGridLayout(m_backupBox);
    backupLayout->addWidget(m_backuppathLabel, 0, 0);
    backupLayout->addWidget(m_button3, 0, 1);
    backupLayout->addWidget(m_moveNotice, 1, 0);
    backupLayout->addWidget(m_finishMove, 1, 1, Qt::AlignTop);
    backupLayout->setColumnStretch(0, 1);
    m_showBaloon = check(tabSheet1, "ShowBaloon", tr("Show icon info while making new version"));
    auto* basicLayout = new QGridLayout(tabSheet1);
    basicLayout->addWidget(label3, 0, 0);
    basicLayout->addWidget(m_langCombo, 0, 1);
    basicLayout->addWidget(m_backupBox, 1, 0, 1, 3);
    basicLayout->addWidget(m_showBaloon, 2, 0, 1, 3);
    basicLayout->setColumnStretch(2, 1);
    basicLayout->setRowStretch(3, 1);

    auto* tabSheet2 = new QWidget(m_pageControl1);
    tabSheet2->setObjectName("TabSheet2");
    m_showDateCheck = check(tabSheet2, "ShowDateCheck", tr("Show date for versions"));
    m_label2 = label(tabSheet2, "Label2", tr("Format:"));
    m_dateFormatEdit = new QLineEdit(tabSheet2);
    m_dateFormatEdit->setObjectName("DateFormatEdit");
    m_label4 = label(tabSheet2, "Label4", tr("Sample:"));
    m_dateSampleEdit = new QLineEdit(tabSheet2);
    m_dateSampleEdit->setObjectName("DateSampleEdit");
    m_dateSampleEdit->setReadOnly(true);
    m_dateSampleEdit->setBackgroundRole(QPalette::Button);
    m_dateSampleEdit->setStyleSheet("QLineEdit { background: palette(button); }");
    m_showFileNameCheck = check(tabSheet2, "ShowFileNameCheck", tr("Show file name for versions"));
    m_limitShowCheck = check(tabSheet2, "LimitShowCheck", tr("Limit number of showing versions:"));
    m_label1 = label(tabSheet2, "Label1", tr("Number:"));
    m_limitShowNumber = new DigitEdit(3, QStringLiteral("1"), tabSheet2);
    m_limitShowNumber->setObjectName("LimitShowNumber");
    m_limitShowNumber->SetMinimum(1);
    m_limitShowNumber->setText("1");
    m_limitShowNumber->setMaximumWidth(60);
    auto* explorerLayout = new QGridLayout(tabSheet2);
    explorerLayout->addWidget(m_showDateCheck, 0, 0, 1, 3);
    explorerLayout->addWidget(m_label2, 1, 1);
    explorerLayout->addWidget(m_dateFormatEdit, 1, 2);
    explorerLayout->addWidget(m_label4, 2, 1);
    explorerLayout->addWidget(m_dateSampleEdit, 2, 2);
    explorerLayout->addWidget(m_showFileNameCheck, 3, 0, 1, 3);
    explorerLayout->addWidget(m_limitShowCheck, 4, 0, 1, 3);
    explorerLayout->addWidget(m_label1, 5, 1);
    explorerLayout->addWidget(m_limitShowNumber, 5, 2, Qt::AlignLeft);
    explorerLayout->setColumnMinimumWidth(0, 16);
    explorerLayout->setColumnStretch(2, 1);
    explorerLayout->setRowStretch(6, 1);

    m_pageControl1->addTab(tabSheet1, tr("Basic"));
    m_pageControl1->addTab(tabSheet2, tr("Versions list"));
    m_button1 = new QPushButton(tr("Save options"), this);
    m_button1->setObjectName("Button1");
    m_button1->setDefault(true);
    m_button2 = new QPushButton(tr("Cancel"), this);
    m_button2->setObjectName("Button2");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pageControl1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_button1);
    buttons->addWidget(m_button2);
    layout->addLayout(buttons);
    resize(440, 300);

    connect(m_button1, &QPushButton::clicked, this, &TForm3::Button1Click);
    connect(m_button2, &QPushButton::clicked, this, &QDialog::reject);
    const auto openBackupFolder = [this] {
        if (m_openBackupFolder)
            m_openBackupFolder();
        ShowUnfinishedMove();
    };
    connect(m_button3, &QPushButton::clicked, this, openBackupFolder);
    connect(m_finishMove, &QPushButton::clicked, this, openBackupFolder);
    connect(m_dateFormatEdit, &QLineEdit::textChanged, this, &TForm3::DateFormatEditChange);
    connect(m_showDateCheck, &QCheckBox::toggled, this, &TForm3::ShowDateCheckClick);
    connect(m_limitShowCheck, &QCheckBox::toggled, this, &TForm3::LimitShowCheckClick);
    for (QCheckBox* box : {m_showBaloon, m_showFileNameCheck})
        connect(box, &QCheckBox::toggled, this, [box] { MarkChecked(box); });

    if (m_block)
        InitLangCombo();
}

void TForm3::SetBackupFolderDialog(std::function<void()> open)
{
    m_openBackupFolder = std::move(open);
    m_button3->setEnabled(static_cast<bool>(m_openBackupFolder));
    m_finishMove->setEnabled(static_cast<bool>(m_openBackupFolder));
}

void TForm3::ShowUnfinishedMove()
{
    if (!m_block)
        return;
    const std::string agentDir = m_block->AgentDir.Get();
    const std::string pending =
        ReadMoveTarget(WithTrailingSep(agentDir.empty() ? m_home : agentDir) + kSettingsFileName);
    m_finishMove->setVisible(!pending.empty());
    if (pending.empty()) {
        // The outcome of a move stays until the dialog shows again.
        if (m_noticeUnfinished)
            m_moveNotice->hide();
        m_noticeUnfinished = false;
        return;
    }
    m_noticeUnfinished = true;
    const std::string path = m_backuppathLabel->text().toStdString();
    m_moveNotice->setStyleSheet("color: #b00000;");
    m_moveNotice->setText(QString::fromStdString(
        BackupMove::UnfinishedText(LanguageFilePath(m_block->Settings.Language.Get()), pending, path)));
    m_moveNotice->show();
    FitNotice();
}

void TForm3::FitNotice()
{
    // The notice wraps over several lines: the dialog grows to show all of them.
    layout()->activate();
    const int needed =
        layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(width()) : sizeHint().height();
    if (needed > height())
        resize(width(), needed);
}

void TForm3::ShowMoveOutcome(const std::string& text)
{
    m_noticeUnfinished = false;
    m_moveNotice->setStyleSheet(QString());
    m_moveNotice->setText(QString::fromStdString(text));
    m_moveNotice->setVisible(!text.empty());
    FitNotice();
}

TForm3::~TForm3() = default;

void TForm3::InitLangCombo()
{
    // The list is read again at every opening, so a file dropped into Langs/ is offered
    // at once; a choice the user made and cancelled stays while its file is there.
    const QString chosen = m_langCombo->currentIndex() >= 0 ? m_langCombo->currentText() : QString();
    m_langCombo->clear();
    // Only language files are offered: any other entry of the folder would name a
    // language without texts.
    // The user's own files and the shipped ones, each language once.
    QStringList names;
    const std::string shipped = ShippedLanguageFolder();
    for (const std::string& folder : {m_home + kLangsFolder, shipped}) {
        if (folder.empty())
            continue;
        for (const DirEntry& entry : ListDir(folder)) {
            const QString name = QString::fromStdString(entry.Name);
            if (entry.IsRegular && name.size() > 4 && name.endsWith(".ini", Qt::CaseInsensitive) &&
                !names.contains(name.left(name.size() - 4), Qt::CaseInsensitive))
                names << name.left(name.size() - 4);
        }
    }
    names.sort(Qt::CaseInsensitive);
    m_langCombo->addItems(names);
    m_langCombo->setCurrentIndex(-1);
    const QString current = m_block ? QString::fromStdString(m_block->Settings.Language.Get()) : QString();
    if (const int kept = static_cast<int>(names.indexOf(chosen)); !chosen.isEmpty() && kept >= 0) {
        m_langCombo->setCurrentIndex(kept);
        return;
    }
    for (int i = 0; i < names.size(); ++i)
        if (names[i].compare(current, Qt::CaseInsensitive) == 0)
            m_langCombo->setCurrentIndex(i);
}

void TForm3::InitDateCombo()
{
    if (!m_block)
        return;
    const SharedSettings& settings = m_block->Settings;
    m_showBaloon->setChecked(settings.ShowBaloon);
    m_showDateCheck->setChecked(settings.ShowDate);
    m_backuppathLabel->setText(QString::fromStdString(settings.BackupPath.Get()));
    m_dateFormatEdit->setText(QString::fromStdString(settings.DateFormat.Get()));
    DateFormatEditChange();
    m_limitShowCheck->setChecked(settings.LimitShow);
    m_limitShowNumber->SetValue(settings.LimitShowNumber, 1);
    LimitShowCheckClick();
    m_showFileNameCheck->setChecked(settings.ShowFileName);
    ShowDateCheckClick();
    MarkChecked(m_showBaloon);
    MarkChecked(m_showFileNameCheck);
}

void TForm3::setVisible(bool visible)
{
    if (!visible && isVisible())
        m_place = pos();
    // A dialog opens centred on its window unless it was placed; a place off every
    // screen (one unplugged since) leaves it centred.
    if (visible && !isVisible() && m_place && QGuiApplication::screenAt(*m_place))
        move(*m_place);
    QDialog::setVisible(visible);
}

void TForm3::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_block)
        InitLangCombo();
    InitDateCombo();
    m_moveNotice->hide();
    ShowUnfinishedMove();
}

QString TForm3::SampleText() const
{
    return m_dateSampleEdit->text();
}

void TForm3::DateFormatEditChange()
{
    DateFormatSettings settings = SystemDateFormatSettings();
    settings.ShortDateFormat = m_dateFormatEdit->text().toStdString();
    m_dateSampleEdit->setText(
        QString::fromStdString(FormatDateTime(settings.ShortDateFormat, Now(), settings)));
}

void TForm3::ShowDateCheckClick()
{
    const bool on = m_showDateCheck->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{m_label2, m_dateFormatEdit, m_label4, m_dateSampleEdit})
        w->setEnabled(on);
    MarkChecked(m_showDateCheck);
}

void TForm3::LimitShowCheckClick()
{
    const bool on = m_limitShowCheck->isChecked();
    m_limitShowNumber->setEnabled(on);
    m_label1->setEnabled(on);
    MarkChecked(m_limitShowCheck);
}

void TForm3::Button1Click()
{
    const std::string settingsFile = m_home + kSettingsFileName;
    const std::string language =
        m_langCombo->currentIndex() >= 0 ? m_langCombo->currentText().toStdString() : "";
    try {
        // One write: a file that cannot be written keeps all of its old settings.
        IniFile ini(settingsFile);
        ini.WriteBool("ExplorerMenu", "ShowDate", m_showDateCheck->isChecked());
        ini.WriteString("Basic", "Language", language);
        ini.WriteString("ExplorerMenu", "DateFormat", m_dateFormatEdit->text().toStdString());
        ini.WriteBool("ExplorerMenu", "ShowFileName", m_showFileNameCheck->isChecked());
        ini.WriteBool("ExplorerMenu", "LimitShow", m_limitShowCheck->isChecked());
        ini.WriteInteger("ExplorerMenu", "LimitShowNumber", m_limitShowNumber->Value().value_or(1));
        ini.WriteBool("Basic", "ShowBaloon", m_showBaloon->isChecked());
        ini.Flush();
    } catch (const std::exception& e) {
        MessageBoxes::Show(BoxKind::Error, e.what(), BoxButtons::Ok, BoxAnswer::Ok, this);
        return;
    }
    if (m_block && language != m_block->Settings.Language.Get() && m_onLanguageChanged)
        m_onLanguageChanged(FindLanguageFile(m_home + kLangsFolder, language.empty() ? "English" : language));
    if (m_block) {
        if (!m_link) {
            m_ownLink = std::make_unique<AgentLink>(m_block);
            m_link = m_ownLink.get();
        }
        // In turn: a request still waiting to be handed over reaches the agent first.
        if (!m_link->RequestReinit())
            MessageBoxes::Show(
                BoxKind::Warning,
                "The settings were saved, but the agent could not be told. It reads them when it "
                "starts again.",
                BoxButtons::Ok, BoxAnswer::Ok, this);
    }
    accept();
}

} // namespace morvane::monitor
