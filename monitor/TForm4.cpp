#include "monitor/TForm4.h"

#include "engine/Useful.h"

#include <QCoreApplication>
#include <QLabel>
#include <QVBoxLayout>

namespace morvane::monitor {

TForm4::TForm4(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      m_label1(new QLabel(tr("Initializing..."), this)), m_label2(new QLabel(this))
{
    setObjectName("Form4");
    setStyleSheet("#Form4 { background: #2f5d8a; } QLabel { color: white; }");
    auto* title = new QLabel(tr("Morvane Monitor"), this);
    title->setObjectName("Image1");
    QFont big = title->font();
    big.setPointSize(big.pointSize() * 2);
    big.setBold(true);
    title->setFont(big);
    m_label1->setObjectName("Label1");
    m_label2->setObjectName("Label2");
    m_label2->setAlignment(Qt::AlignRight);
    m_label2->setText(QString::fromStdString(
        "v.  " + GetExeVersionString(kVersionMajor | kVersionMinor | kVersionRelease)));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 16);
    layout->addWidget(title);
    layout->addWidget(m_label2);
    layout->addStretch();
    layout->addWidget(m_label1);
    setFixedSize(sizeHint().expandedTo(QSize(360, 160)));
}

void TForm4::SetProgress(const QString& text)
{
    m_label1->setText(text);
    QCoreApplication::processEvents();
}

} // namespace morvane::monitor
