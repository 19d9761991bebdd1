#pragma once

#include <QString>

#include <string>

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
// the widest text halfWidthForField gives ("± 9.5e+09 K (95%)").
QLineEdit *makeHalfWidthField(const QString &name, QWidget *parent);

// A half-width text as its field shows it: a value of a million or more in the compact form
// "± 9.5e+09 K (95%)", every other text as it is.
QString halfWidthForField(const std::string &text);

// A read-only value the user cannot edit but may select and copy (T0 from Measure Device,
// the ENR the file gives): enabled, in the normal text colour, on the window's background so
// it does not look editable, and off the Tab chain.
void makeShownValue(QLineEdit *field);

// Whether `text` is a number as the program reads numbers: a decimal prefix (sign, digits,
// point, exponent) after leading white space, not followed by "x" (hexadecimal "0x1A").
// "abc", "nan", "inf" and "" are not numbers; "25 dB" is 25.
bool isNumberText(const QString &text);

// Watches a field that takes a number: from its next change on, while its text is not one
// (empty text is one where `emptyAllowed`: none stated) it has a red frame and the tool tip "Not a number: <expected>";
// otherwise the tool tip is `expected` ("the ENR in dB, e.g. 25.0").
void watchNumberField(QLineEdit *field, const QString &expected, bool emptyAllowed = false);
// Whether a watched field holds a number (empty counting as its watch says).
bool numberFieldValid(const QLineEdit *field);
// Takes the mark off a watched field whose text the page set itself (a result shown there).
void clearNumberMark(QLineEdit *field);

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
