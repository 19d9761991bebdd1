#include "ui/ReportSaving.h"

#include "ui/MessageBox.h"

#include <QFileDialog>

namespace quillon {

void saveReportFiles(QWidget *page, const QString &nothingYet,
                     const std::function<QString()> &dialog,
                     const std::function<std::string(const std::string &htmlPath)> &write)
{
    if (!nothingYet.isEmpty()) {
        showMessageText(nothingYet, page);
        return;
    }
    const QString path = dialog ? dialog() : QString();
    if (path.isEmpty())
        return;
    const std::string failed = write(path.toStdString());
    if (!failed.empty()) // nothing is left half-written (writeReportFiles)
        showMessageText(QString::fromStdString(failed), page);
}

QString askReportPath(QWidget *page)
{
    return QFileDialog::getSaveFileName(page, QStringLiteral("Save Report"), QString(),
                                        QStringLiteral("HTML files (*.html);;All files (*)"));
}

} // namespace quillon
