#pragma once

#include <QDialog>

namespace quillon {

// "About Quillon": the icon, the version text and an OK button.
class CAboutDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget *parent = nullptr);
};

} // namespace quillon
