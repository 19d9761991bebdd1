#pragma once

#include "ui/pages/PropertyPage.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QFileDialog;
class QLineEdit;
class QPushButton;

namespace quillon {

class QuillonEngine;
class SettingsStore;
struct Settings;

// What one "Browse..." button asks of the file-open dialog.
struct FileDialogRequest
{
    QString caption;
    QStringList nameFilters; // first one selected
    QString defaultSuffix;   // added to a name typed without one
};

// The Setup page: sound input and format, capture time, FFT size, log file, ENR file,
// switch port and lines, the 1 kHz high-pass, and "Save as Default". Every control writes
// its Settings field at once; there is no apply step. Window thread only; the page never
// runs while a capture does (the measuring pages stop theirs when they are left).
class SetupPage : public PropertyPage
{
    Q_OBJECT
public:
    // Shows and edits the engine's settings record, loaded before (the application loads
    // it before it makes any page); "Save as Default" writes it to `store`. `engine` and
    // `store` must outlive the page.
    SetupPage(QuillonEngine &engine, SettingsStore &store, QWidget *parent = nullptr);
    ~SetupPage() override;

    // The switch ports offered after "None", in order. Default: the system probe of
    // serial and parallel devices, then "USB" and "Virtual bench".
    using PortProbe = std::function<std::vector<std::string>()>;
    void setPortProbe(PortProbe probe);

    // Runs a file-open dialog; returns the chosen file's full path, or an empty string
    // when the user cancels. Default: a QFileDialog from createFileDialog, run modally.
    using FileDialog = std::function<QString(const FileDialogRequest &)>;
    void setFileDialog(FileDialog dialog);

    // The dialog the default FileDialog runs: existing files only, the request's filters
    // and default suffix.
    static std::unique_ptr<QFileDialog> createFileDialog(const FileDialogRequest &request,
                                                         QWidget *parent);

    // The requests of the two "Browse..." buttons.
    static FileDialogRequest enrFileRequest();
    static FileDialogRequest logFileRequest();

    // Longest path the two path fields take, in characters (the system's PATH_MAX less
    // the terminating NUL), so that a path chosen with "Browse..." is never cut short.
    static constexpr int kMaxPathLength = 4095;

    void initializePage() override;
    void activatePage() override;
    void deactivatePage() override;

    Settings &settings();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();

    // The handlers, one per control event.
    void deviceChanged(int index);
    void formatChanged(int index);
    void captureTimeChanged(int index);
    void fftSizeChanged(int index);
    void portChanged();
    void noiseLineChanged(int index);
    void dutLineChanged(int index);
    void enrUseChanged(bool ticked);
    void logUseChanged(bool ticked);
    void enrPathEdited();
    void logPathEdited();
    void enrBrowse();
    void logBrowse();
    void saveAsDefault();

    void rebuildFormatList();
    // Selects the format entry showing row waveInFormat's label, or the first entry.
    void selectFormatEntry();
    // Sets the format fields from row waveInFormat and the filter for its rate.
    void applyFormat();
    // Page data exchange: the lists into Settings (reading) and back (writing).
    void readPage();
    void writePage();

    QuillonEngine &m_engine;
    SettingsStore &m_store;
    PortProbe m_portProbe;
    FileDialog m_fileDialog;

    QComboBox *m_device = nullptr;
    QComboBox *m_format = nullptr;
    QComboBox *m_captureTime = nullptr;
    QComboBox *m_fftSize = nullptr;
    QCheckBox *m_logUse = nullptr;
    QLineEdit *m_logPath = nullptr;
    QPushButton *m_logBrowse = nullptr;
    QCheckBox *m_enrUse = nullptr;
    QLineEdit *m_enrPath = nullptr;
    QPushButton *m_enrBrowse = nullptr;
    QComboBox *m_port = nullptr;
    QComboBox *m_noiseLine = nullptr;
    QComboBox *m_dutLine = nullptr;
    QCheckBox *m_highPass = nullptr;
    QPushButton *m_save = nullptr;
};

} // namespace quillon
