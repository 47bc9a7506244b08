#pragma once

#include <QDialog>
#include <functional>
#include <string>

class QLabel;
class QPushButton;

namespace morvane::monitor {

// The about box: the program's name and picture, its version as built, a notice line
// and the product's web address, which opens in the browser when clicked. Main thread.
class TAboutBox : public QDialog
{
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);

    // Sets the version line, notice and address again (after the language file, so
    // these three keep their own texts).
    void SetFixedLines();
    // Opens the address the label shows.
    void Label4Click();
    // Replaces how the address is opened (tests record instead).
    void SetOpener(std::function<void(const std::string&)> opener) { m_opener = std::move(opener); }

    static const char* HomePage();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* m_versionLabel;
    QLabel* m_label1;
    QLabel* m_label4;
    QPushButton* m_okButton;
    std::function<void(const std::string&)> m_opener;
};

} // namespace morvane::monitor
