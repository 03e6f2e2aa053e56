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

// Answers the program's real message boxes as a user would: each one that opens is
// recorded and closed with OK; `whileOpen` runs while it is open.
class MessageBoxAnswerer : public QObject
{
public:
    struct Seen
    {
        QString title, text;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
        bool modal;
    };
    MessageBoxAnswerer()
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            seen.push_back({box->windowTitle(), box->text(), box->icon(), box->standardButtons(),
                            box->isModal()});
            if (whileOpen)
                whileOpen();
            QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        });
        m_timer.start(5);
    }
    // The texts seen; each box titled "Velmoran", a warning with one OK button, modal.
    std::vector<std::string> texts() const
    {
        std::vector<std::string> result;
        for (const Seen& s : seen) {
            EXPECT_TRUE(s.title == "Velmoran" && s.icon == QMessageBox::Warning &&
                        s.buttons == QMessageBox::Ok && s.modal)
                << s.title.toStdString();
            result.push_back(s.text.toStdString());
        }
        return result;
    }
    std::vector<Seen> seen;
    std::function<void()> whileOpen;

private:
    QTimer m_timer;
};

// Runs the events until `done` holds, for at most 20 s; true when it holds.
inline bool waitFor(const std::function<bool()>& done)
{
    for (int i = 0; i < 20000 && !done(); ++i)
        QTest::qWait(1);
    return done();
}

} // namespace velmoran::testing
