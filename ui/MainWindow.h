#pragma once

#include <QMainWindow>

class QCheckBox;
class QComboBox;
class QLabel;
class QListView;
class QPushButton;

namespace velmoran {

class LinkLabel;
class ListBoxEntries;

// The address that lblURL shows and opens.
inline constexpr const char* WebsiteAddress = "velmoran.example.org";

// The main window Form1: fixed layout, every control at its designed place.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);

    QPushButton* cmdFind() const { return m_cmdFind; }
    QPushButton* cmdBackup() const { return m_cmdBackup; }
    QPushButton* cmdReplace() const { return m_cmdReplace; }
    QPushButton* cmdUndo() const { return m_cmdUndo; }
    QPushButton* cmdLaunch() const { return m_cmdLaunch; }
    QListView* list1() const { return m_list1; }
    ListBoxEntries* list1Entries() const { return m_list1Entries; }
    QComboBox* drive1() const { return m_drive1; }
    QCheckBox* check(int number) const; // Check1 .. Check4
    LinkLabel* lblURL() const { return m_lblURL; }

    // Fills Drive1 without signalling a change.
    void setDrives(const QStringList& names, const QString& current);

signals:
    void findClicked();
    void backupClicked();
    void replaceClicked();
    void undoClicked();
    void launchClicked();
    void urlClicked();
    void driveChanged();
    void optionsRequested();
    void aboutRequested();

private:
    QPushButton* m_cmdFind = nullptr;
    QPushButton* m_cmdBackup = nullptr;
    QPushButton* m_cmdReplace = nullptr;
    QPushButton* m_cmdUndo = nullptr;
    QPushButton* m_cmdLaunch = nullptr;
    QListView* m_list1 = nullptr;
    ListBoxEntries* m_list1Entries = nullptr;
    QComboBox* m_drive1 = nullptr;
    QCheckBox* m_checks[4] = {};
    LinkLabel* m_lblURL = nullptr;
};

} // namespace velmoran
