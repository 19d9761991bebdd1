#include "ui/MeasuringNoiseDialog.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace quillon {

MeasuringNoiseDialog::MeasuringNoiseDialog(QWidget *parent) : QDialog(parent)
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
    connect(cancel, &QPushButton::clicked, this, &MeasuringNoiseDialog::reject);

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

void MeasuringNoiseDialog::arm(const QString &label)
{
    m_label = label;
    m_generation.fetch_add(1);
    m_ended = false;
    m_cancelled = false;
    m_status->clear();
}

void MeasuringNoiseDialog::showRun()
{
    if (!m_ended && !isVisible())
        open();
}

void MeasuringNoiseDialog::endRun()
{
    m_ended = true;
    if (isVisible())
        done(QDialog::Accepted);
}

void MeasuringNoiseDialog::postProgress(ReadingProgress progress)
{
    const int generation = m_generation.load();
    QMetaObject::invokeMethod(
        this,
        [this, generation, progress] {
            if (generation == m_generation.load())
                m_status->setText(QString::fromStdString(
                    readingProgressText(progress, m_label.toStdString())));
        },
        Qt::QueuedConnection);
}

QString MeasuringNoiseDialog::statusText() const
{
    return m_status->text();
}

void MeasuringNoiseDialog::reject()
{
    if (m_ended)
        return;
    m_ended = true;
    m_cancelled = true;
    if (isVisible())
        done(kCancelled);
}

namespace {
constexpr int kSliceOver = 1; // the loop's exit code for a slice that ended as it should
} // namespace

bool MeasuringNoiseDialog::waitSlice(const ModalReading &reading, std::chrono::milliseconds slice,
                                     const bool &active)
{
    showRun();
    if (reading.finished()) {
        QCoreApplication::processEvents(); // what is pending: a Cancel pressed meanwhile counts
        return active && !m_cancelled;
    }
    if (!active || m_cancelled)
        return false;
    // Any end of the loop but these is the application quitting, which ends the series too.
    QEventLoop loop;
    m_waitLoop = &loop;
    const auto sliceOver = [&loop] {
        loop.exit(kSliceOver);
    };
    QTimer::singleShot(slice, &loop, sliceOver);
    connect(this, &QDialog::finished, &loop, sliceOver);
    const int end = loop.exec();
    m_waitLoop = nullptr;
    return end == kSliceOver && active && !m_cancelled;
}

void MeasuringNoiseDialog::wake()
{
    if (m_waitLoop != nullptr)
        m_waitLoop->exit(kSliceOver);
}

} // namespace quillon
