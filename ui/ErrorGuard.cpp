#include "ErrorGuard.h"

#include <QCoreApplication>
#include <QMessageBox>

QString UnknownErrorText()
{
    return QStringLiteral("Неизвестная ошибка.");
}

void ShowUnhandledError(QWidget* Parent, const QString& Message)
{
    QMessageBox box(QMessageBox::Critical, QCoreApplication::applicationName(), Message,
                    QMessageBox::Ok, Parent);
    box.exec();
}
