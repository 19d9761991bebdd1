#pragma once

#include "measure/CorrectionSettings.h"

#include <QDialog>

#include <array>

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace quillon {

// "Corrections": the losses around the DUT (each off, a fixed value or a table file, with
// its physical temperature), the converter (LO, sideband, image rejection) and the
// frequency the receiver listens at when no ENR file says it. OK takes the entries only when
// every field holds a number (the first that does not is named and focused); their values
// are checked where they are applied, so a negative loss is kept as typed and refused there
// with its message. Window thread.
class CorrectionsDialog : public QDialog
{
    Q_OBJECT
public:
    explicit CorrectionsDialog(const CorrectionSettings &settings, QWidget *parent = nullptr);

    // The entries as the fields hold them (after OK: as accepted).
    CorrectionSettings settings() const;

    void accept() override;

private:
    struct LossRow
    {
        QCheckBox *on = nullptr;
        QLineEdit *db = nullptr;
        QCheckBox *fromTable = nullptr;
        QLineEdit *file = nullptr;
        QLineEdit *temperature = nullptr;
    };
    std::array<LossRow, kLossPlaceCount> m_loss{};
    QCheckBox *m_converter = nullptr;
    QLineEdit *m_lo = nullptr;
    QComboBox *m_sideband = nullptr;
    QLineEdit *m_imageRejection = nullptr;
    QLineEdit *m_frequency = nullptr;
};

} // namespace quillon
