#include "ui/MessageBox.h"

#include <QMessageBox>

namespace quillon {

void showMessageBox(int id, QWidget *parent)
{
    showMessageText(QString::fromLatin1(messageText(id)), parent);
}

void showMessageText(const QString &text, QWidget *parent)
{
    QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kApplicationName), text,
                    QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("quillonMessageBox"));
    box.exec();
}

} // namespace quillon
