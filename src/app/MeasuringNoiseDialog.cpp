#include "app/MeasuringNoiseDialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace quillon {

CMeasuringNoiseDlg::CMeasuringNoiseDlg(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(tr("Measuring Noise"));
    setModal(true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto *wait = new QLabel(tr("Please Wait... Reading noise level"), this);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("statusLine"));
    m_status->setMinimumWidth(220);
    auto *cancel = new QPushButton(tr("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    connect(cancel, &QPushButton::clicked, this, &CMeasuringNoiseDlg::reject);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancel);
    buttons->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(wait);
    layout->addWidget(m_status);
    layout->addSpacing(8);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void CMeasuringNoiseDlg::arm()
{
    m_generation.fetch_add(1);
    m_result.store(0);
    m_closed = false;
    m_status->clear();
}

int CMeasuringNoiseDlg::runModal()
{
    if (!m_closed)
        exec();
    return m_result.load();
}

void CMeasuringNoiseDlg::postStatus(const QString &text)
{
    const int generation = m_generation.load();
    QMetaObject::invokeMethod(
        this,
        [this, generation, text] {
            if (generation == m_generation.load())
                m_status->setText(text);
        },
        Qt::QueuedConnection);
}

void CMeasuringNoiseDlg::postClose(int resultCode)
{
    const int generation = m_generation.load();
    QMetaObject::invokeMethod(
        this, [this, generation, resultCode] { closeWith(generation, resultCode); },
        Qt::QueuedConnection);
}

QString CMeasuringNoiseDlg::statusText() const
{
    return m_status->text();
}

void CMeasuringNoiseDlg::reject()
{
    closeWith(m_generation.load(), kCancelled);
}

void CMeasuringNoiseDlg::closeWith(int generation, int code)
{
    if (generation != m_generation.load() || m_closed)
        return;
    m_closed = true;
    m_result.store(code);
    if (isVisible())
        done(code);
}

} // namespace quillon
