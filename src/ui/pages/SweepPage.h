#pragma once

#include "measure/SweepCsv.h"
#include "measure/SweepRunner.h"
#include "ui/pages/PropertyPage.h"

#include <functional>
#include <memory>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
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

    QuillonEngine &m_engine;
    SharedValues &m_shared;
    std::unique_ptr<SweepRunner> m_runner;
    FileDialog m_fileDialog;
    std::vector<SweepRow> m_rows; // the points shown, in the order measured
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
    QTableWidget *m_table = nullptr;
    SweepPlot *m_plot = nullptr;
};

} // namespace quillon
