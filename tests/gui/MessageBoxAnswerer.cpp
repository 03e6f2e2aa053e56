#include "MessageBoxAnswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QTest>

namespace velmoran::testing {

MessageBoxAnswerer::MessageBoxAnswerer()
{
    connect(&m_timer, &QTimer::timeout, this, &MessageBoxAnswerer::poll);
    m_timer.start(5);
}

void MessageBoxAnswerer::poll()
{
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    Seen s{box->windowTitle(), box->text(), box->icon(), box->standardButtons(), box->isModal()};
    seen.push_back(s);
    if (whileOpen)
        whileOpen(s);
    QAbstractButton* ok = box->button(QMessageBox::Ok);
    if (ok)
        QTest::mouseClick(ok, Qt::LeftButton);
    else
        box->reject();
}

bool waitFor(const std::function<bool()>& done, int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        QTest::qWait(1);
    }
    return true;
}

} // namespace velmoran::testing
