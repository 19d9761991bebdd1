#include "ui/MessageBox.h"

#include <QMessageBox>

namespace quillon {

void showMessageBox(int id, QWidget *parent)
{
    QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kApplicationName),
                    QString::fromLatin1(messageText(id)), QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("quillonMessageBox"));
    box.exec();
}

} // namespace quillon
