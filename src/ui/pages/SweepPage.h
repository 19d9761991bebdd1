#pragma once

#include "measure/Limits.h"
#include "measure/ReferenceTrace.h"
#include "measure/Report.h"
#include "measure/SweepCsv.h"
#include "measure/SweepRunner.h"
#include "ui/pages/PropertyPage.h"

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QComboBox;
class QLabel;
class QListWidget;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QSpinBox;
class QTableWidget;

namespace quillon {

class QuillonEngine;
class SharedValues;
class SweepPlot;

// "Sweep": the DUT's noise figure and gain against frequency. The user gives start, stop
// and step in MHz (or a list, which wins when it is not empty), the settle time after
// retuning and the receiver control (saved in the "Receiver" group at Start); Start runs a
// SweepRunner, whose points fill the table and the plot as they arrive; Stop ends the sweep
// once the point being read is complete. The ENR at each point comes from the calibration
// file while one is in use (Setup), else the shared ENR entry; the readings take the shared
// dummy reads and averaging (two blocks or more give the uncertainties).
//
// The sweep runs on the runner's worker; its hooks post copies of what they carry to this
// page with queued calls. Leaving the page (or closing the window) aborts a sweep at once,
// the points so far kept: the other pages use the capture. Window thread only.
//
// Limits (single values shared with Measure Device, or a limit table file) give each point a
// verdict: in the table's "Verdict" column, by its mark on the plots beside the dashed limit
// lines, and counted in the summary ("19 PASS, 1 INDETERMINATE"). Earlier sweeps' CSV or JSON
// results load as reference traces (one colour each, named in the plot's legend and the
// list, from which "Remove" takes them away). "Save Report..." writes the sweep's report.
class SweepPage : public PropertyPage
{
    Q_OBJECT
public:
    SweepPage(QuillonEngine &engine, SharedValues &shared, QWidget *parent = nullptr);
    ~SweepPage() override;

    void initializePage() override;
    void deactivatePage() override;

    // The file "Export CSV..." writes to, or empty when the user cancels. Default: a modal
    // QFileDialog for saving; tests give their own.
    using FileDialog = std::function<QString()>;
    void setFileDialog(FileDialog dialog) { m_fileDialog = std::move(dialog); }
    // The reference file "Add Reference..." opens and the report "Save Report..." writes;
    // empty: cancelled. Default: modal file dialogs.
    void setReferenceDialog(FileDialog dialog) { m_referenceDialog = std::move(dialog); }
    void setReportDialog(FileDialog dialog) { m_reportDialog = std::move(dialog); }

    // The limits as the fields and the limit file give them.
    Limits limits() const;
    // The report of the points shown; no results before a sweep has a complete point.
    ReportData reportData() const;
    const std::vector<ReferenceTrace> &references() const { return m_references; }

    const std::vector<SweepRow> &rows() const { return m_rows; }
    bool sweeping() const { return m_sweeping; }

private:
    void start();
    void stop();
    void exportCsv();
    void addRow(const SweepRow &row);
    void finished(const SweepOutcome &outcome);
    void setSweeping(bool on);
    void showText(const QString &text);
    void limitsChanged();
    void readLimitTable();
    void showVerdicts();
    // What the points shown are corrected for (sweepCorrectedForText), under the table.
    void showCorrectedFor();
    void addReference();
    void removeReference();
    // The list's mark of the reference at `index`: its colour on the plot.
    static QIcon referenceSwatch(std::size_t index);
    void saveReport();

    QuillonEngine &m_engine;
    SharedValues &m_shared;
    std::unique_ptr<SweepRunner> m_runner;
    FileDialog m_fileDialog;
    FileDialog m_referenceDialog;
    FileDialog m_reportDialog;
    std::vector<SweepRow> m_rows; // the points shown, in the order measured
    std::optional<SweepConfig> m_shownConfig; // the settings the points shown were taken with
    std::vector<LimitRow> m_limitTable;       // read from m_limitFile; empty: none
    std::vector<ReferenceTrace> m_references;
    bool m_sweeping = false;

    QLineEdit *m_start = nullptr;
    QLineEdit *m_stop = nullptr;
    QLineEdit *m_step = nullptr;
    QLineEdit *m_list = nullptr;
    QSpinBox *m_settle = nullptr;
    QComboBox *m_control = nullptr;
    QSpinBox *m_model = nullptr;
    QLineEdit *m_port = nullptr;
    QSpinBox *m_baud = nullptr;
    QComboBox *m_mode = nullptr;
    QPushButton *m_startButton = nullptr;
    QPushButton *m_stopButton = nullptr;
    QPushButton *m_exportButton = nullptr;
    QLabel *m_status = nullptr;
    QLabel *m_summary = nullptr;
    QLineEdit *m_nfMax = nullptr;
    QLineEdit *m_gainMin = nullptr;
    QLineEdit *m_gainMax = nullptr;
    QLineEdit *m_limitFile = nullptr;
    QLineEdit *m_dutName = nullptr;
    QLineEdit *m_dutSerial = nullptr;
    QLineEdit *m_dutNotes = nullptr;
    QPushButton *m_reportButton = nullptr;
    QListWidget *m_referenceList = nullptr;
    QTableWidget *m_table = nullptr;
    QLabel *m_correctedFor = nullptr;
    QScrollArea *m_correctedForArea = nullptr; // hidden while the label is empty
    SweepPlot *m_plot = nullptr;
};

} // namespace quillon
