#pragma once

#include <QWidget>

class QPushButton;

namespace velmoran {

// The Options window frmCreate: the Create and Delete buttons of the excel folder tree,
// the paragraph that explains them, and Done, which closes the window.
class OptionsWindow : public QWidget
{
    Q_OBJECT
public:
    explicit OptionsWindow(QWidget* parent = nullptr);

    QPushButton* cmdCreate() const { return m_cmdCreate; }
    QPushButton* cmdDelete() const { return m_cmdDelete; }
    QPushButton* cmdDone() const { return m_cmdDone; }

signals:
    void createClicked();
    void deleteClicked();

private:
    QPushButton* m_cmdCreate = nullptr;
    QPushButton* m_cmdDelete = nullptr;
    QPushButton* m_cmdDone = nullptr;
};

} // namespace velmoran
