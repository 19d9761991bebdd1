#pragma once

#include "measure/MeasurementLog.h"
#include "measure/SeriesReadings.h"
#include "measure/SeriesRunner.h"
#include "ui/pages/PropertyPage.h"
#include "ui/pages/ReadingPageWidgets.h"

#include <array>
#include <utility>
#include <vector>

class QGridLayout;
class QGroupBox;
class QCheckBox;
class QLabel;
class QLineEdit;

namespace quillon {

class MeasuringNoiseDialog;
class QuillonEngine;
struct IntValue;
class SettingsStore;
class SharedValues;

// The steps the two modal-reading pages (Measure Device, Calibrate Noise Source) share: a
// "Measure" press runs the engine's SeriesRunner into the page's SeriesReadings, and the
// page shows what the runner reports. The page itself keeps only its rows, captions, result
// fields and what its series measures (conditions, seriesPlan).
//
// Shared here: the ENR entry (a frequency in MHz while an ENR file is in use) and the ENR in
// effect beside it, the stated uncertainties and the one stated() built from them, the
// "Automate" group (its flags, Repeat, dummy reads and averaging; "Save as Defaut" writes
// the shared three and the page adds its own), "Clear current readings", the NF or ENR log,
// and the "Measuring Noise" wait dialog.
//
// Threads. Everything runs on the window thread but the runner's progress and readingEnded
// hooks, which come from the capture delivery thread and only post to the window thread.
// While a reading runs, the wait dialog is up window-modal and the window thread runs a
// nested event loop in slices (waitSlice); leaving the page (deactivatePage: another tab,
// the window closing) cancels the series and stops the capture at once, and the loop
// returns without waiting for a block.
class ReadingPage : public PropertyPage, protected SeriesListener
{
    Q_OBJECT
public:
    ~ReadingPage() override;

    void initializePage() override;
    void activatePage() override;
    void deactivatePage() override;

    // Where the NF or ENR lines take their time from.
    void setLogClock(LocalClock clock);

    // Whether a "Measure" series is running (its wait dialog is up, or it is between two
    // readings).
    bool seriesRunning() const { return m_runner.running(); }
    const SeriesReadings &readings() const { return m_readings; }
    double enrInEffect() const { return m_enrInEffect; } // dB

protected:
    // The caption, help topic and kind of the page, and where its automation flags are
    // stored (bit 0; "Save as Defaut" writes them): "Noise Gen" always, "DUT switch" where the
    // page has that box (`dutSwitchKey` not null).
    ReadingPage(const QString &caption, const QString &helpTopic, SeriesKind kind,
                const IntValue &noiseGenKey, const IntValue *dutSwitchKey,
                const PageContext &context, QWidget *parent);

    // What the page's series measures, as its fields stand now.
    virtual SeriesConditions conditions() const = 0;
    // The series of the "Measure" of reading `button`: conditions, stated uncertainty,
    // automation, Repeat, dummy reads, averaging and the automatic dummy reads (as Measure
    // Device keeps them); a page may add its own.
    virtual SeriesPlan seriesPlan(int button) const;
    // The page's results of a complete evaluation and their uncertainty.
    virtual void showResults(const SeriesEvaluation &evaluation,
                             const SeriesUncertainty &uncertainty) = 0;
    // Enables beyond the shared ones (after the automation flags are settled).
    virtual void updatePageControls() = 0;
    // Activation: the page's own fields, after the entry.
    virtual void showPageValues() = 0;
    // The page's own reason to compute and measure nothing (Measure Device: a correction it
    // cannot apply), checked after the number fields; with `forSeries` the page tells the
    // user why. None by default.
    virtual bool ownEntriesValid(bool forSeries) const
    {
        (void)forSeries;
        return true;
    }

    // The fields showResults fills: "Clear current readings" empties them.
    void setResultFields(std::vector<QLineEdit *> fields) { m_resultFields = std::move(fields); }

    // The rows of readings `first` and `first` + 1 in a group of their own, with their
    // captions; "Measure" runs the row's series.
    QGroupBox *makeReadingGroup(const QString &title, const char *name, int first,
                                const char *const captions[kDeviceReadingCount]);
    // Adds the entry and the ENR in effect as rows 0 and 1 of `grid`.
    void addEntryRows(QGridLayout *grid);
    // An editable number field as wide as "00000.000".
    static QLineEdit *makeNumberField(const char *name, QWidget *parent);
    // A field that takes a number: marked while its text is not one (watchNumberField). While
    // any such field is, "Measure" takes no reading; while one that `feedsResults` is, the
    // page shows no result either (the precision fields shape only the series).
    void addNumberField(QLineEdit *field, const QString &expected, bool emptyAllowed = false,
                        bool feedsResults = true);
    // Whether every number field (only those that feed the results, unless `forSeries`) holds
    // a number; with `forSeries`, focuses the first that does not.
    bool numbersValid(bool forSeries = false) const;

    // Enables: without a switch port both automation flags are off and their boxes disabled;
    // the OFF reference reading is taken by hand only without "Noise Gen". Then the page's.
    void updateControls();
    // Evaluates the readings present and shows a complete evaluation.
    void compute();
    // The stated 95% uncertainties in effect: the ENR's from the ENR file's third column at
    // the entry where the file gives one, else as typed; the off temperature's as typed.
    StatedUncertainty stated() const;
    void clearReadings();

    QuillonEngine &m_engine;
    SettingsStore &m_store;
    SharedValues &m_shared;

    bool m_noiseGen = false;  // noise-source automation ("Noise Gen")
    bool m_dutSwitch = false; // DUT automation ("DUT switch"); Device pages only
    bool m_repeat = false;

    // Shared controls: the page places them in its layout.
    std::array<ReadingRow, kDeviceReadingCount> m_rows;
    QLabel *m_entryCaption = nullptr;
    QLineEdit *m_entry = nullptr;
    QLabel *m_computedCaption = nullptr;
    QLineEdit *m_computed = nullptr;
    QLineEdit *m_enrUncertainty = nullptr;   // stated ENR half-width, dB
    QLineEdit *m_tsOffUncertainty = nullptr; // stated TSoff half-width, K
    AutomateControls m_automate;
    QLabel *m_warningLabel = nullptr;
    // "automatic dummy reads": one stored value both pages show; each page places the box.
    QCheckBox *m_autoDummy = nullptr;
    // Below the entry: says that the entry changed meaning (the ENR file was turned on or off
    // since the page was last shown); hidden otherwise.
    QLabel *m_entryNote = nullptr;

private:
    void runSeries(int button);
    void onEntryChanged(const QString &text);
    void saveAsDefault();

    // SeriesListener, window thread.
    bool beforeReading(int reading, std::string_view label) override;
    bool waitSlice(ModalReading &reading, std::chrono::milliseconds slice) override;
    void afterReading(int reading) override;
    void readingDone(const SeriesReadingReport &report) override;
    void message(int messageId) override;
    // SeriesListener, delivery thread.
    void progress(const ReadingProgress &progress) override;
    void readingEnded(int outcome) override;

    const IntValue &m_noiseGenKey;
    const IntValue *m_dutSwitchKey;
    std::vector<QLineEdit *> m_resultFields;
    std::vector<std::pair<QLineEdit *, bool>> m_numberFields; // the field, whether it feeds
                                                              // the results
    int m_entryMeaning = -1; // the ENR file's use when the entry was last shown: 0, 1; -1 never
    MeasuringNoiseDialog &m_dialog;
    MeasurementLog m_log; // before the runner, which writes to it
    SeriesReadings m_readings;
    SeriesRunner m_runner;
    double m_enrInEffect = 0.0;       // dB; set by every change of the entry field
    bool m_active = false;            // the page is the active tab; a series ends when it is left
};

} // namespace quillon
