#include "monitor/TAboutBox.h"

#include "engine/Useful.h"
#include "support/RunProgram.h"
#include "support/components/FormOptions.h"

#include <QEvent>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>

namespace morvane::monitor {

namespace {
constexpr const char* kHomePage = "https://morvane.org/";
constexpr const char* kNotice = "Keeps earlier versions of your files.";
} // namespace

const char* TAboutBox::HomePage()
{
    return kHomePage;
}

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent)
{
    setObjectName("AboutBox");
    setWindowTitle(tr("About"));
    setModal(true);

    auto* panel2 = new QFrame(this);
    panel2->setObjectName("Panel2");
    panel2->setFrameShape(QFrame::Panel);
    panel2->setFrameShadow(QFrame::Sunken);
    panel2->setStyleSheet("#Panel2 { background: #2f5d8a; } QLabel { color: white; }");
    auto* image1 = new QLabel(tr("Morvane"), panel2);
    image1->setObjectName("Image1");
    QFont big = image1->font();
    big.setPointSize(big.pointSize() * 2);
    big.setBold(true);
    image1->setFont(big);
    image1->setAlignment(Qt::AlignCenter);
    auto* panelLayout = new QVBoxLayout(panel2);
    panelLayout->setContentsMargins(24, 18, 24, 18);
    panelLayout->addWidget(image1);

    auto* groupBox2 = new QGroupBox(this);
    groupBox2->setObjectName("GroupBox2");
    m_versionLabel = new QLabel(groupBox2);
    m_versionLabel->setObjectName("VersionLabel");
    m_label1 = new QLabel("-", groupBox2);
    m_label1->setObjectName("Label1");
    m_label4 = new QLabel("-", groupBox2);
    m_label4->setObjectName("Label4");
    m_label4->setStyleSheet("color: blue;");
    m_label4->installEventFilter(this);
    auto* groupLayout = new QVBoxLayout(groupBox2);
    for (QLabel* line : {m_versionLabel, m_label1, m_label4}) {
        // The version, the notice and the address are the program's own in any language.
        MarkRunTimeText(line);
        line->setAlignment(Qt::AlignCenter);
        groupLayout->addWidget(line);
    }

    m_okButton = new QPushButton(tr("OK"), this);
    m_okButton->setObjectName("OKButton");
    m_okButton->setDefault(true);
    connect(m_okButton, &QPushButton::clicked, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(panel2);
    layout->addWidget(groupBox2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_okButton);
    buttons->addStretch();
    layout->addLayout(buttons);
    SetFixedLines();
    setFixedSize(sizeHint().expandedTo(QSize(320, 0)));
}

void TAboutBox::SetFixedLines()
{
    m_label1->setText(tr(kNotice));
    m_label4->setText(QString::fromLatin1(kHomePage));
    m_versionLabel->setText(QString::fromStdString(
        "Version " + GetExeVersionString(kVersionMajor | kVersionMinor | kVersionRelease)));
}

void TAboutBox::Label4Click()
{
    const std::string address = m_label4->text().toStdString();
    if (m_opener)
        m_opener(address);
    else
        RunProgram(address);
}

bool TAboutBox::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_label4) {
        QFont font = m_label4->font();
        switch (event->type()) {
        case QEvent::Enter:
            m_label4->setCursor(Qt::PointingHandCursor);
            font.setUnderline(true);
            m_label4->setFont(font);
            break;
        case QEvent::Leave:
            m_label4->unsetCursor();
            font.setUnderline(false);
            m_label4->setFont(font);
            break;
        case QEvent::MouseButtonRelease:
            if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
                Label4Click();
            return true;
        default:
            break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace morvane::monitor
