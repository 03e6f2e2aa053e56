#include "ui/QtUserMessages.h"

#include <QApplication>
#include <QMessageBox>

namespace velmoran {

void QtUserMessages::showMessage(const std::string& text, const std::string& title)
{
    QMessageBox box(QMessageBox::Warning, QString::fromStdString(title),
                    QString::fromStdString(text), QMessageBox::Ok, QApplication::activeWindow());
    box.setObjectName(QStringLiteral("VelmoranMessage"));
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

} // namespace velmoran
