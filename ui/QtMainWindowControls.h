#pragma once

#include "core/MainWindowControls.h"
#include "ui/MainWindow.h"

#include <QPointer>

namespace velmoran {


// Form1's controls as the commands see them. Text crosses as UTF-8; a List1 entry keeps
// its original bytes, so a name that is not valid UTF-8 comes back exactly as it was found.
class QtMainWindowControls : public MainWindowControls
{
public:
    explicit QtMainWindowControls(MainWindow* window);

    int checkValue(int checkNumber) const override;
    std::string caption() const override;
    void setCaption(const std::string& caption) override;
    void minimize() override;
    void clearList() override;
    void appendToList(const std::vector<std::string>& entries) override;
    int listCount() const override;
    int selectedIndex() const override;
    std::string listText(int index) const override;
    std::string selectedDrive() const override;
    void selectDrive(const std::string& driveName) override;
    std::string urlCaption() const override;

private:
    MainWindow& window() const;

    QPointer<MainWindow> m_window;
};

} // namespace velmoran
