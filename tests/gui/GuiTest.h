#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace velmoran::testing {

// Answers the program's real message boxes as a user would: records each one's text and
// whether every one was a modal warning titled "Velmoran" with one OK button, runs
// `whileOpen` while it is open and closes it with OK.
class MessageBoxAnswerer : public QObject
{
public:
    MessageBoxAnswerer()
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            plain = plain && box->windowTitle() == "Velmoran" && box->isModal() &&
                    box->icon() == QMessageBox::Warning &&
                    box->standardButtons() == QMessageBox::Ok;
            seen.push_back(box->text().toStdString());
            if (whileOpen)
                whileOpen();
            QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        });
        m_timer.start(5);
    }
    std::vector<std::string> seen;
    bool plain = true;
    std::function<void()> whileOpen;

private:
    QTimer m_timer;
};

} // namespace velmoran::testing
