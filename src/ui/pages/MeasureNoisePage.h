#pragma once

#include "measure/NoiseMeter.h"
#include "ui/pages/PropertyPage.h"

#include <QFont>
#include <QPointer>

#include <cstdint>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMessageBox;
class QPushButton;

namespace quillon {

class QuillonEngine;
class SharedValues;
class SettingsStore;
class WaveCapture;
struct CaptureHeader;

// "Measure Noise": the continuous noise-power meter, first tab of the main window.
//
// While the page is active it captures without pause. Every block is evaluated by the
// NoiseMeter on the capture delivery thread (onBlock): level, running average, the reading
// relative to the stored reference and the crest factor, then, with "Log Measurements" on,
// one "Measure" line in the log; the buffer is handed back last. The texts reach the fields
// through one queued call per block that carries copies of them. The delivery thread never
// waits for the window thread: a log line that cannot be written opens one non-modal
// "Error - Cannot open log file." box per failure while the meter keeps measuring, and the
// window stays usable (another tab, Setup to mend the path, closing the window).
//
// Settings owned here ("Setup" section): "TraceAverageFlag" and "TraceAverageCount" (kept in
// the shared values, loaded with them) and "ResultFontSize" (loaded at construction), all
// written by "Save as Defaut".
class MeasureNoisePage : public PropertyPage
{
    Q_OBJECT
public:
    MeasureNoisePage(QuillonEngine &engine, SettingsStore &store, SharedValues &shared,
                     QWidget *parent = nullptr);
    ~MeasureNoisePage() override;

    void initializePage() override;
    void activatePage() override;
    void deactivatePage() override;

    // The font of every result field of the program: pixel height "ResultFontSize",
    // weight 500. The application makes the other pages' copy with resultFontFor.
    const QFont &resultFont() const { return m_resultFont; }
    // The result font for a stored "ResultFontSize": a negative height counts as its size,
    // 0 as the default 24; limited to 8..72 pixels.
    static QFont resultFontFor(int storedPixelHeight);

    // The averaging flag and count, shared with the other measuring pages. Window thread;
    // the capture callback picks a change up from its next block. The count is not
    // clamped here (the average clamps it to 0..32); the list shows no selection for a
    // count outside 1..31.
    bool averagingEnabled() const;
    int averagingCount() const;
    void setAveragingEnabled(bool on);
    void setAveragingCount(int count);

    // The states last set with the two switching boxes (noise source on, DUT in circuit).
    bool noiseOn() const { return m_meter.noiseOn(); }
    bool dutIn() const { return m_meter.dutIn(); }

    // Where the log lines take their time from. Window thread, while the page is not
    // capturing.
    void setLogClock(LocalClock clock);

    // Position in the capture (0 = first block) of the block whose texts the fields show;
    // -1 before the first block of a capture has been shown. Window thread.
    int lastShownBlock() const { return m_lastShownBlock; }

    // The log-failure box while it is up, else null. Window thread.
    QMessageBox *logFailureBox() const;

private:
    void buildControls();
    void selectAverageCount();
    void applySwitchingState();

    // Delivery thread.
    void onBlock(WaveCapture &capture, CaptureHeader &header, int generation);

    // Window thread.
    void startCapture();
    void stopCapture();
    void showBlock(int generation, const MeterTexts &texts);
    void showLogMessage(int generation, int messageId);
    void showMessage(int messageId);

    void onEnableClicked(bool checked);
    void onCountActivated(int index);
    void onSaveAsDefault();
    void onStore();
    void onNoiseClicked(bool checked);
    void onDutClicked(bool checked);

    QuillonEngine &m_engine;
    SettingsStore &m_store;
    SharedValues &m_shared; // the averaging flag and count live there
    NoiseMeter m_meter;
    int m_resultFontSize = 24; // window thread only
    QFont m_resultFont;

    // Window-thread state of the running capture.
    bool m_capturing = false;
    int m_generation = 0; // counts capture starts
    int m_lastShownBlock = -1;

    QPointer<QMessageBox> m_logBox; // the log-failure box while it is up

    // Controls.
    QLineEdit *m_dbField = nullptr;
    QLineEdit *m_averagedField = nullptr;
    QLineEdit *m_relativeField = nullptr;
    QLineEdit *m_crestField = nullptr;
    QPushButton *m_storeButton = nullptr;
    QCheckBox *m_enableBox = nullptr;
    QComboBox *m_countList = nullptr;
    QPushButton *m_saveButton = nullptr;
    QGroupBox *m_switchingGroup = nullptr;
    QCheckBox *m_noiseBox = nullptr;
    QCheckBox *m_dutBox = nullptr;
    QLabel *m_hint = nullptr;
    QLabel *m_lostAudio = nullptr; // "Audio lost: ..." once the capture has dropped audio
};

} // namespace quillon
