#pragma once

#include <QWidget>

class QPushButton;

namespace velmoran {

// The program's version as the About window shows it.
QString versionCaption();

// The About window frmAbout: name, version, credits, a farewell and Whatever, which
// closes the window. It has no icon of its own.
class AboutWindow : public QWidget
{
    Q_OBJECT
public:
    explicit AboutWindow(QWidget* parent = nullptr);

    QPushButton* cmdWhatever() const { return m_cmdWhatever; }

private:
    QPushButton* m_cmdWhatever = nullptr;
};

} // namespace velmoran
