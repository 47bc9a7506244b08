#include "monitor/TForm8.h"

#include "engine/Useful.h"
#include "monitor/DigitEdit.h"
#include "monitor/MonitorLanguage.h"
#include "monitor/ShellIcons.h"
#include "platform/ShortText.h"
#include "support/components/FormOptions.h"
#include "support/components/MessageBoxes.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMimeDatabase>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace morvane::monitor {

namespace {
constexpr int kDefaultWait = 3;
constexpr int kDesignedWidth = 420;
} // namespace

TForm8::TForm8(QWidget* parent) : QDialog(parent)
{
    setObjectName("Form8");
    setWindowTitle(tr("Folder options"));
    // The title names the folder it shows.
    MarkRunTimeText(this);
    setModal(true);

    m_cbMonitored = new QCheckBox(tr("Monitored"), this);
    m_cbMonitored->setObjectName("cbMonitored");

    m_groupBox1 = new QGroupBox(tr(" Filter mode "), this);
    m_groupBox1->setObjectName("GroupBox1");
    m_rWholeFolder = new QRadioButton(tr("All files in the folder"), m_groupBox1);
    m_rWholeFolder->setObjectName("rWholeFolder");
    m_rTemplates = new QRadioButton(tr("Use templates"), m_groupBox1);
    m_rTemplates->setObjectName("rTemplates");
    m_rFilesOnly = new QRadioButton(tr("Manually added files only"), m_groupBox1);
    m_rFilesOnly->setObjectName("rFilesOnly");
    m_rFilesOnly->setChecked(true);
    auto* modeLayout = new QVBoxLayout(m_groupBox1);
    modeLayout->addWidget(m_rWholeFolder);
    modeLayout->addWidget(m_rTemplates);
    modeLayout->addWidget(m_rFilesOnly);

    m_gbTemplates = new QGroupBox(tr(" File templates "), this);
    m_gbTemplates->setObjectName("gbTemplates");
    m_eNewTemplate = new QLineEdit(m_gbTemplates);
    m_eNewTemplate->setObjectName("eNewTemplate");
    m_bAddNewTemplate = new QPushButton(tr("Add"), m_gbTemplates);
    m_bAddNewTemplate->setObjectName("bAddNewTemplate");
    m_bEditTemplate = new QPushButton(tr("Edit"), m_gbTemplates);
    m_bEditTemplate->setObjectName("bEditTemplate");
    m_bDeleteTemplate = new QPushButton(tr("Remove"), m_gbTemplates);
    m_bDeleteTemplate->setObjectName("bDeleteTemplate");
    for (QPushButton* button : {m_bAddNewTemplate, m_bEditTemplate, m_bDeleteTemplate})
        button->setAutoDefault(false);
    m_lvTemplates = new QTreeWidget(m_gbTemplates);
    m_lvTemplates->setObjectName("lvTemplates");
    m_lvTemplates->setColumnCount(2);
    m_lvTemplates->setHeaderHidden(true);
    m_lvTemplates->setRootIsDecorated(false);
    m_lvTemplates->setColumnWidth(0, 100);
    m_lvTemplates->setColumnWidth(1, 150);
    m_lvTemplates->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_lvTemplates->setEditTriggers(QAbstractItemView::NoEditTriggers);
    QFont bold = m_lvTemplates->font();
    bold.setBold(true);
    m_lvTemplates->setFont(bold);
    auto* templatesLayout = new QVBoxLayout(m_gbTemplates);
    auto* newRow = new QHBoxLayout;
    newRow->addWidget(m_eNewTemplate, 1);
    newRow->addWidget(m_bAddNewTemplate);
    templatesLayout->addLayout(newRow);
    auto* listRow = new QHBoxLayout;
    listRow->addWidget(m_lvTemplates, 1);
    auto* listButtons = new QVBoxLayout;
    listButtons->addWidget(m_bEditTemplate);
    listButtons->addWidget(m_bDeleteTemplate);
    listButtons->addStretch();
    listRow->addLayout(listButtons);
    templatesLayout->addLayout(listRow);

    m_cbHidden = new QCheckBox(tr("Include hidden files"), this);
    m_cbHidden->setObjectName("cbHidden");
    m_cbSystem = new QCheckBox(tr("Include system files"), this);
    m_cbSystem->setObjectName("cbSystem");
    m_waitLabel = new QLabel(tr("Wait after change event, seconds:"), this);
    m_waitLabel->setObjectName("WaitLabel");
    m_eWait = new DigitEdit(3, QStringLiteral("0"), this);
    m_eWait->setObjectName("eWait");
    m_eWait->setText(QString::number(kDefaultWait));
    m_eWait->setMaximumWidth(60);
    m_button4 = new QPushButton(tr("OK"), this);
    m_button4->setObjectName("Button4");
    m_button4->setDefault(true);
    m_button5 = new QPushButton(tr("Cancel"), this);
    m_button5->setObjectName("Button5");

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_cbMonitored);
    layout->addWidget(m_groupBox1);
    layout->addWidget(m_gbTemplates, 1);
    layout->addWidget(m_cbHidden);
    layout->addWidget(m_cbSystem);
    auto* waitRow = new QHBoxLayout;
    waitRow->addWidget(m_waitLabel);
    waitRow->addWidget(m_eWait);
    waitRow->addStretch();
    layout->addLayout(waitRow);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_button4);
    buttons->addWidget(m_button5);
    layout->addLayout(buttons);
    resize(kDesignedWidth, 460);

    connect(m_button4, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_button5, &QPushButton::clicked, this, &QDialog::reject);
    for (QRadioButton* radio : {m_rWholeFolder, m_rTemplates, m_rFilesOnly})
        connect(radio, &QRadioButton::toggled, this, [this, radio](bool on) {
            if (on)
                UpdateFilterControls(radio);
        });
    connect(m_cbMonitored, &QCheckBox::toggled, this, &TForm8::cbMonitoredClick);
    for (QCheckBox* box : {m_cbHidden, m_cbSystem})
        connect(box, &QCheckBox::toggled, this, [box] { MarkChecked(box); });
    connect(m_bAddNewTemplate, &QPushButton::clicked, this, &TForm8::bAddNewTemplateClick);
    connect(m_bEditTemplate, &QPushButton::clicked, this, &TForm8::bEditTemplateClick);
    connect(m_bDeleteTemplate, &QPushButton::clicked, this, &TForm8::bDeleteTemplateClick);
    connect(m_eNewTemplate, &QLineEdit::returnPressed, this, &TForm8::bAddNewTemplateClick);
    connect(m_lvTemplates, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
        if (column == 0)
            lvTemplatesEdited(item);
    });
}

void TForm8::UpdateFilterControls(QAbstractButton* sender)
{
    const bool templates = m_rTemplates->isChecked();
    for (QWidget* control :
         std::initializer_list<QWidget*>{m_gbTemplates, m_eNewTemplate, m_lvTemplates, m_bAddNewTemplate,
                                         m_bEditTemplate, m_bDeleteTemplate})
        control->setEnabled(templates);
    const bool attributes = m_rWholeFolder->isChecked() || templates;
    m_cbHidden->setEnabled(attributes);
    m_cbSystem->setEnabled(attributes);
    if (sender && sender->parentWidget())
        MarkRadioGroup(sender->parentWidget());
}

void TForm8::cbMonitoredClick()
{
    MarkChecked(m_cbMonitored);
    const bool on = m_cbMonitored->isChecked();
    // Everything but OK and Cancel follows the check box; the filter mode then decides
    // again what it leaves enabled.
    for (QWidget* control : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (control == m_cbMonitored || qobject_cast<QPushButton*>(control))
            continue;
        control->setEnabled(on);
        if (qobject_cast<QGroupBox*>(control))
            for (QWidget* inner : control->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                inner->setEnabled(on);
    }
    if (on)
        UpdateFilterControls(m_rWholeFolder);
}

QString TForm8::TemplateTypeName(const QString& mask)
{
    static QMimeDatabase mimes;
    const QMimeType type = mimes.mimeTypeForFile(mask, QMimeDatabase::MatchExtension);
    const QString name = type.isDefault() ? QString() : type.comment();
    if (name.isEmpty() || name == QLatin1String("File"))
        return tr("Undefined");
    return name;
}

void TForm8::AddTemplateRow(const QString& mask)
{
    const QSignalBlocker quiet(m_lvTemplates);
    auto* row = new QTreeWidgetItem(m_lvTemplates);
    row->setFlags(row->flags() | Qt::ItemIsEditable);
    row->setText(0, mask);
    row->setIcon(0, ShellFileIcon(mask.toStdString()));
    row->setText(1, TemplateTypeName(mask));
    QFont regular = m_lvTemplates->font();
    regular.setBold(false);
    row->setFont(1, regular);
}

void TForm8::bAddNewTemplateClick()
{
    const QString mask = m_eNewTemplate->text();
    if (mask.isEmpty())
        return;
    // A mask is stored between ";" in a field of 255 bytes: one that would be split or
    // cut is refused rather than stored as something else.
    std::string error;
    if (mask.contains(';')) {
        error = "A template cannot hold \";\": " + mask.toStdString();
    } else {
        std::string text;
        if (TemplatesText(text, &error) && !FitsShortText(text + mask.toStdString() + ";"))
            error =
                "The templates would be longer than 255 bytes; \"" + mask.toStdString() + "\" was not added.";
    }
    if (!error.empty()) {
        MessageBoxes::Show(BoxKind::Warning, error, BoxButtons::Ok, BoxAnswer::Ok, this);
        return;
    }
    AddTemplateRow(mask);
    m_eNewTemplate->clear();
}

void TForm8::bEditTemplateClick()
{
    if (QTreeWidgetItem* row = m_lvTemplates->currentItem())
        m_lvTemplates->editItem(row, 0);
}

void TForm8::lvTemplatesEdited(QTreeWidgetItem* item)
{
    const QSignalBlocker quiet(m_lvTemplates);
    item->setIcon(0, ShellFileIcon(item->text(0).toStdString()));
    item->setText(1, TemplateTypeName(item->text(0)));
}

void TForm8::bDeleteTemplateClick()
{
    delete m_lvTemplates->currentItem();
}

void TForm8::PrepareNew(const std::string& folder)
{
    m_cbMonitored->setChecked(true);
    m_cbMonitored->setEnabled(false);
    m_rWholeFolder->setChecked(true);
    m_cbHidden->setChecked(false);
    m_cbSystem->setChecked(false);
    m_lvTemplates->clear();
    m_eNewTemplate->clear();
    m_eWait->setText(QString::number(kDefaultWait));
    SetFolderCaption(folder);
}

void TForm8::SetFolderCaption(std::string folder)
{
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    // The window system cuts a caption wider than its window: the dialog widens for its
    // caption, up to most of the screen, and a folder too long even for that loses its
    // middle, never its own name or the words around it.
    constexpr int kFrame = 140; // the title bar's icon, buttons and margins
    QFont bold = font();
    bold.setBold(true);
    const QFontMetrics metrics(bold);
    const QScreen* screen = this->screen();
    const int widest = screen ? screen->availableGeometry().width() * 9 / 10 : 1200;
    // The desktop's title also names the program after the caption.
    const QString program = QGuiApplication::applicationDisplayName();
    const QString suffix = program.isEmpty() ? QString() : QString::fromUtf8(" \u2014 ") + program;
    const int words =
        metrics.horizontalAdvance(QString::fromStdString(FillPlaceholders(m_captionPattern, {""})) + suffix);
    const QString path = metrics.elidedText(QString::fromStdString(folder), Qt::ElideMiddle,
                                            std::max(widest - kFrame - words, 120));
    const QString caption = QString::fromStdString(FillPlaceholders(m_captionPattern, {path.toStdString()}));
    setWindowTitle(caption);
    resize(std::clamp(metrics.horizontalAdvance(caption + suffix) + kFrame, kDesignedWidth,
                      std::max(widest, kDesignedWidth)),
           height());
}

void TForm8::PrepareFrom(const TMonItemRecord& record)
{
    m_cbHidden->setChecked(record.FolderMonHidden);
    m_cbSystem->setChecked(record.FolderMonSystem);
    m_rFilesOnly->setChecked(true);
    m_cbMonitored->setEnabled(true);
    m_eWait->SetValue(record.FolderWait, kDefaultWait);
    m_cbMonitored->setChecked(record.Monitored);
    if (record.IsWholeFolder)
        m_rWholeFolder->setChecked(true);
    if (record.UseTemplates)
        m_rTemplates->setChecked(true);
    m_lvTemplates->clear();
    std::vector<std::string> masks;
    SplitTextToList(record.Templates.Get(), ';', masks);
    for (const std::string& mask : masks)
        AddTemplateRow(QString::fromStdString(mask));
    m_eNewTemplate->clear();
    SetFolderCaption(record.Path.Get());
}

void TForm8::PrepareMonitored()
{
    m_cbMonitored->setChecked(true);
    m_cbMonitored->setEnabled(false);
}

bool TForm8::TemplatesText(std::string& text, std::string* error) const
{
    text.clear();
    for (int i = 0; i < m_lvTemplates->topLevelItemCount(); ++i) {
        const std::string mask = m_lvTemplates->topLevelItem(i)->text(0).toStdString();
        if (mask.find(';') != std::string::npos) {
            if (error)
                *error = "A template cannot hold \";\": " + mask;
            return false;
        }
        text += mask + ";";
    }
    if (!FitsShortText(text)) {
        if (error)
            *error = "The templates are longer than 255 bytes together; remove some.";
        return false;
    }
    return true;
}

bool TForm8::MonitoredChecked() const
{
    return m_cbMonitored->isChecked();
}

bool TForm8::ReadInto(TMonItemRecord& record, std::string* error) const
{
    std::string templates;
    if (!TemplatesText(templates, error))
        return false;
    record.IsWholeFolder = m_rWholeFolder->isChecked();
    record.UseTemplates = m_rTemplates->isChecked();
    record.FolderMonHidden = m_cbHidden->isChecked();
    record.FolderMonSystem = m_cbSystem->isChecked();
    record.FolderWait = m_eWait->Value().value_or(0);
    record.Templates.Set(templates);
    return true;
}

void TForm8::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    UpdateFilterControls(m_rWholeFolder);
    cbMonitoredClick();
}

void TForm8::done(int result)
{
    if (result == QDialog::Accepted) {
        std::string templates;
        std::string error;
        if (!TemplatesText(templates, &error)) {
            MessageBoxes::Show(BoxKind::Warning, error, BoxButtons::Ok, BoxAnswer::Ok, this);
            return;
        }
    }
    QDialog::done(result);
}

} // namespace morvane::monitor
