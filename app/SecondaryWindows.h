#pragma once

#include "core/CommandContext.h"
#include "ui/AboutWindow.h"
#include "ui/OptionsWindow.h"

#include <QObject>
#include <QPointer>

#include <functional>

namespace velmoran {

// The Options and About windows: opened from the main window's menu, non-modal and without
// an owner, at most one of each. Choosing one again brings the open one to the front;
// closed, a window is destroyed and the next opening builds it afresh as designed.
class SecondaryWindows : public QObject
{
    Q_OBJECT
public:
    // Runs a command the way the program runs every command (one place for failures).
    using CommandRunner = std::function<void(const std::function<void(CommandContext&)>&)>;

    explicit SecondaryWindows(CommandRunner runCommand, QObject* parent = nullptr);
    ~SecondaryWindows() override;

    // The open window, or null.
    OptionsWindow* options() const { return m_options; }
    AboutWindow* about() const { return m_about; }

public slots:
    void openOptions();
    void openAbout();

private:
    CommandRunner m_runCommand;
    QPointer<OptionsWindow> m_options;
    QPointer<AboutWindow> m_about;
};

} // namespace velmoran
