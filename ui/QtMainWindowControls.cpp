#include "ui/QtMainWindowControls.h"

#include "core/OperationError.h"
#include "ui/ListBoxEntries.h"
#include "ui/MainWindow.h"
#include "ui/Widgets.h"

#include <QComboBox>
#include <QItemSelectionModel>
#include <QListView>

namespace velmoran {

namespace {

std::string utf8(const QString& text)
{
    return text.toUtf8().toStdString();
}

} // namespace

QtMainWindowControls::QtMainWindowControls(MainWindow* window) : m_window(window) {}

MainWindow& QtMainWindowControls::window() const
{
    // A command may outlive a closed window.
    if (!m_window)
        throw OperationError("use the main window", {}, "the main window has been closed");
    return *m_window;
}

int QtMainWindowControls::checkValue(int checkNumber) const
{
    MainWindow& w = window();
    QCheckBox* box = w.check(checkNumber);
    return box ? checkValueOf(box->checkState()) : CheckValue::Unticked;
}

std::string QtMainWindowControls::caption() const
{
    MainWindow& w = window();
    return utf8(w.windowTitle());
}

void QtMainWindowControls::setCaption(const std::string& caption)
{
    MainWindow& w = window();
    w.setWindowTitle(QString::fromStdString(caption));
}

void QtMainWindowControls::minimize()
{
    MainWindow& w = window();
    w.setWindowState((w.windowState() & ~Qt::WindowActive) | Qt::WindowMinimized);
}

void QtMainWindowControls::clearList()
{
    MainWindow& w = window();
    w.list1Entries()->clear();
}

void QtMainWindowControls::appendToList(const std::vector<std::string>& entries)
{
    MainWindow& w = window();
    w.list1Entries()->append(entries);
}

int QtMainWindowControls::listCount() const
{
    MainWindow& w = window();
    return w.list1Entries()->rowCount();
}

int QtMainWindowControls::selectedIndex() const
{
    MainWindow& w = window();
    const QModelIndexList selected = w.list1()->selectionModel()->selectedRows();
    return selected.isEmpty() ? -1 : selected.first().row();
}

std::string QtMainWindowControls::listText(int index) const
{
    MainWindow& w = window();
    if (index < 0 || index >= w.list1Entries()->rowCount())
        throw OperationError("read the list entry " + std::to_string(index), {}, "no such entry");
    return std::string(w.list1Entries()->bytes(index));
}

std::string QtMainWindowControls::selectedDrive() const
{
    MainWindow& w = window();
    return utf8(w.drive1()->currentText());
}

void QtMainWindowControls::selectDrive(const std::string& driveName)
{
    MainWindow& w = window();
    QComboBox* drives = w.drive1();
    const QString name = QString::fromStdString(driveName);
    // A bare "c:" selects the drive whose name begins with it, as a drive list does.
    int index = drives->findText(name);
    if (index < 0)
        for (int i = 0; i < drives->count() && index < 0; ++i)
            if (drives->itemText(i).startsWith(name, Qt::CaseInsensitive))
                index = i;
    if (index < 0)
        throw OperationError("select the drive " + driveName, {}, "there is no such drive");
    if (index == drives->currentIndex())
        emit w.driveChanged(); // a selection made by the program always signals a change
    else
        drives->setCurrentIndex(index);
}

std::string QtMainWindowControls::urlCaption() const
{
    MainWindow& w = window();
    return utf8(w.lblURL()->text());
}

} // namespace velmoran
