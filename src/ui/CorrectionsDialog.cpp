#include "ui/CorrectionsDialog.h"

#include "core/NumberText.h"
#include "ui/MessageBox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace quillon {

namespace {

constexpr const char *kLossCaptions[kLossPlaceCount] = {
    "Input loss (noise source to DUT)", "Output loss (DUT to receiver)",
    "Calibration path loss (DUT out of circuit)"};
constexpr const char *kLossNames[kLossPlaceCount] = {"inputLoss", "outputLoss", "calibrationLoss"};

QLineEdit *numberField(const QString &name, double value, QWidget *parent)
{
    auto *field = new QLineEdit(QString::fromStdString(formatShortest(value)), parent);
    field->setObjectName(name);
    field->setFixedWidth(field->fontMetrics().horizontalAdvance(QStringLiteral("00000.000")) + 16);
    return field;
}

} // namespace

CorrectionsDialog::CorrectionsDialog(const CorrectionSettings &s, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("correctionsDialog"));
    setWindowTitle(QStringLiteral("Corrections"));
    auto *losses = new QGroupBox(QStringLiteral("Losses"), this);
    auto *grid = new QGridLayout(losses);
    int column = 1;
    for (const char *caption : {"dB", "Table", "Table file", "", "K"})
        grid->addWidget(new QLabel(QString::fromLatin1(caption), losses), 0, column++);
    for (int k = 0; k < kLossPlaceCount; ++k) {
        const LossSetting &l = s.loss[static_cast<std::size_t>(k)];
        LossRow &row = m_loss[static_cast<std::size_t>(k)];
        const QString name = QLatin1String(kLossNames[k]);
        row.on = new QCheckBox(QString::fromLatin1(kLossCaptions[k]), losses);
        row.on->setObjectName(name + QStringLiteral("On"));
        row.on->setChecked(l.on);
        row.db = numberField(name + QStringLiteral("Db"), l.db, losses);
        row.fromTable = new QCheckBox(losses);
        row.fromTable->setObjectName(name + QStringLiteral("FromTable"));
        row.fromTable->setChecked(l.fromTable);
        row.file = new QLineEdit(QString::fromStdString(l.file), losses);
        row.file->setObjectName(name + QStringLiteral("File"));
        auto *browse = new QPushButton(QStringLiteral("..."), losses);
        row.temperature = numberField(name + QStringLiteral("TemperatureK"), l.temperatureK, losses);
        connect(browse, &QPushButton::clicked, this, [this, file = row.file] {
            const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Loss table"),
                                                              file->text());
            if (!path.isEmpty())
                file->setText(path);
        });
        const int r = k + 1;
        grid->addWidget(row.on, r, 0);
        grid->addWidget(row.db, r, 1);
        grid->addWidget(row.fromTable, r, 2);
        grid->addWidget(row.file, r, 3);
        grid->addWidget(browse, r, 4);
        grid->addWidget(row.temperature, r, 5);
    }

    auto *converter = new QGroupBox(QStringLiteral("Frequency converter"), this);
    auto *cgrid = new QGridLayout(converter);
    m_converter = new QCheckBox(QStringLiteral("The DUT converts its input frequency"), converter);
    m_converter->setObjectName(QStringLiteral("converterOn"));
    m_converter->setChecked(s.converter.on);
    m_lo = numberField(QStringLiteral("converterLo"), s.converter.loMHz, converter);
    m_sideband = new QComboBox(converter);
    m_sideband->setObjectName(QStringLiteral("converterSideband"));
    m_sideband->addItems({QStringLiteral("single sideband, input above the LO"),
                          QStringLiteral("single sideband, input below the LO"),
                          QStringLiteral("double sideband")});
    m_sideband->setCurrentIndex(static_cast<int>(s.converter.sideband));
    m_imageRejection =
        numberField(QStringLiteral("imageRejection"), s.converter.imageRejectionDb, converter);
    m_frequency = numberField(QStringLiteral("correctionsFrequency"), s.frequencyMHz, converter);
    cgrid->addWidget(m_converter, 0, 0, 1, 2);
    cgrid->addWidget(new QLabel(QStringLiteral("LO (MHz)"), converter), 1, 0);
    cgrid->addWidget(m_lo, 1, 1);
    cgrid->addWidget(m_sideband, 2, 0, 1, 2);
    cgrid->addWidget(new QLabel(QStringLiteral("Image rejected by (dB)"), converter), 3, 0);
    cgrid->addWidget(m_imageRejection, 3, 1);
    cgrid->addWidget(
        new QLabel(QStringLiteral("Receiver frequency (MHz), without an ENR file"), converter), 4,
        0);
    cgrid->addWidget(m_frequency, 4, 1);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CorrectionsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(losses);
    layout->addWidget(converter);
    layout->addWidget(buttons);
}

CorrectionSettings CorrectionsDialog::settings() const
{
    CorrectionSettings s;
    const auto number = [](const QLineEdit *f) { return parseDecimal(f->text().toStdString()); };
    for (int k = 0; k < kLossPlaceCount; ++k) {
        const LossRow &row = m_loss[static_cast<std::size_t>(k)];
        LossSetting &l = s.loss[static_cast<std::size_t>(k)];
        l.on = row.on->isChecked();
        l.db = number(row.db);
        l.fromTable = row.fromTable->isChecked();
        l.file = row.file->text().trimmed().toStdString();
        l.temperatureK = number(row.temperature);
    }
    s.converter.on = m_converter->isChecked();
    s.converter.loMHz = number(m_lo);
    s.converter.sideband = static_cast<Sideband>(m_sideband->currentIndex());
    s.converter.imageRejectionDb = number(m_imageRejection);
    s.frequencyMHz = number(m_frequency);
    return s;
}

void CorrectionsDialog::accept()
{
    std::vector<QLineEdit *> fields{m_lo, m_imageRejection, m_frequency};
    for (const LossRow &row : m_loss)
        fields.insert(fields.end(), {row.db, row.temperature});
    for (QLineEdit *f : fields) {
        if (!isDecimalText(f->text().trimmed().toStdString())) {
            showMessageText(QStringLiteral("Corrections: \"") + f->text() +
                                QStringLiteral("\" is not a number."),
                            this);
            f->setFocus(Qt::OtherFocusReason);
            return;
        }
    }
    QDialog::accept();
}

} // namespace quillon
