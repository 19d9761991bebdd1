#pragma once

#include <QString>

class QCheckBox;
class QComboBox;
class QFont;
class QGridLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace quillon {

// Controls that the Measure Device and Calibrate Noise Source pages build alike.

// A read-only result field in the result font, right-aligned, wide enough for " 300000.000".
QLineEdit *makeResultField(const QString &name, const QFont &font, QWidget *parent);

// A read-only reading field in the page's own font, wide enough for " -120.000".
QLineEdit *makeReadingField(const QString &name, QWidget *parent);

// A read-only field for a 95% half-width beside a result, in the page's font, wide enough for
// "± 0.0052 dB (95%)".
QLineEdit *makeHalfWidthField(const QString &name, QWidget *parent);

// The label below the results where the readings' warnings show as plain text, one a line;
// empty (and taking no room) while there is none.
QLabel *makeWarningLabel(const QString &name, QWidget *parent);
void showWarnings(QLabel *label, const QString &text);

// A right-aligned caption for `buddy`.
QLabel *makeCaption(const QString &text, QWidget *buddy, QWidget *parent);

// Selects entry `index`, or none when the list has no such entry.
void selectListEntry(QComboBox *list, int index);

// One reading's row: its "Measure" button ("measure<i>"), its field ("reading<i>") and the
// caption beside it, added to row `row` of `grid`.
struct ReadingRow
{
    QPushButton *measure = nullptr;
    QLineEdit *field = nullptr;
    QLabel *caption = nullptr;
};
ReadingRow addReadingRow(QGridLayout *grid, int row, int reading, const QString &caption,
                         QWidget *parent);

// The "Automate" group: "Noise Gen" ("noiseGen"), optionally "DUT switch" ("dutSwitch"), the
// "Dummy Reads" list 0..10 ("dummyReads"), "Repeat" ("repeat"), the "Averaging" group with
// "Enable" ("averageEnable") and the count list 1..31 ("averageCount"), and "Save as Defaut"
// ("saveAsDefault").
struct AutomateControls
{
    QGroupBox *group = nullptr;
    QCheckBox *noiseGen = nullptr;
    QCheckBox *dutSwitch = nullptr; // null without the DUT switch
    QComboBox *dummyReads = nullptr;
    QCheckBox *repeat = nullptr;
    QCheckBox *averageEnable = nullptr;
    QComboBox *averageCount = nullptr;
    QPushButton *save = nullptr;
};
AutomateControls makeAutomateGroup(bool withDutSwitch, QWidget *parent);

// Entries of the two lists: the averaging count 1..31 (entry = count - 1), dummy reads 0..10.
inline constexpr int kListedAverageCounts = 31;
inline constexpr int kListedDummyReads = 11;

} // namespace quillon
