#include "ui/AboutDialog.h"
#include "core/Version.h"
#include "ui/Resources.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace quillon {

AboutDialog::AboutDialog(QWidget *parent) : QDialog(parent)
{
    initResources();
    setWindowTitle(tr("About Quillon"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto *icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("aboutIcon"));
    icon->setPixmap(QIcon(QStringLiteral(":/quillon/quillon.png")).pixmap(48, 48));
    auto *text = new QLabel(tr("Quillon Version %1").arg(QLatin1String(kVersion)), this);
    text->setObjectName(QStringLiteral("aboutText"));

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->button(QDialogButtonBox::Ok)->setText(tr("OK"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto *row = new QHBoxLayout;
    row->addWidget(icon);
    row->addSpacing(12);
    row->addWidget(text, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

} // namespace quillon
