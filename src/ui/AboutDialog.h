#pragma once

#include <QDialog>

namespace quillon {

// "About Quillon": the icon, the version text and an OK button.
class AboutDialog : public QDialog
{
    Q_OBJECT
public:
    explicit AboutDialog(QWidget *parent = nullptr);
};

} // namespace quillon
