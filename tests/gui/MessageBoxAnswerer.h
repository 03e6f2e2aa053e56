#pragma once

#include "core/UserMessages.h"

#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <vector>

namespace velmoran::testing {

// Answers the program's real message boxes as a user would: each one that opens is
// recorded (title, text, icon, buttons) and closed with OK. An optional check runs while
// the box is open, before it is answered.
class MessageBoxAnswerer : public QObject
{
    Q_OBJECT
public:
    struct Seen
    {
        QString title;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
        bool modal = false;
    };

    MessageBoxAnswerer();
    std::vector<Seen> seen;
    std::function<void(const Seen&)> whileOpen;

private:
    void poll();
    QTimer m_timer;
};

// Runs the events until `done` holds or `ms` have passed; true when it holds.
bool waitFor(const std::function<bool()>& done, int ms = 5000);

} // namespace velmoran::testing
