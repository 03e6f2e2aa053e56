#pragma once

#include <string>
#include <vector>

namespace velmoran {

// Check-box values as the program knows them.
namespace CheckValue {
constexpr int Unticked = 0;
constexpr int Ticked = 1;
constexpr int Greyed = 2;
} // namespace CheckValue

// What the commands use of the main window Form1.
class MainWindowControls
{
public:
    virtual ~MainWindowControls() = default;

    // Value (0, 1 or 2) of Check1 .. Check4.
    virtual int checkValue(int checkNumber) const = 0;

    virtual std::string caption() const = 0;
    virtual void setCaption(const std::string& caption) = 0;
    virtual void minimize() = 0;

    // List1: entries are kept in the order added.
    virtual void clearList() = 0;
    virtual void appendToList(const std::vector<std::string>& entries) = 0;
    virtual int listCount() const = 0;
    virtual int selectedIndex() const = 0; // -1 when nothing is selected
    virtual std::string listText(int index) const = 0;

    // Drive1.
    virtual std::string selectedDrive() const = 0;
    virtual void selectDrive(const std::string& driveName) = 0;

    // lblURL.
    virtual std::string urlCaption() const = 0;
};

} // namespace velmoran
