#pragma once

#include "ui/pages/PropertyPage.h"
#include "capture/ReadingHistory.h"
#include "measure/MeasurementLog.h"

#include <QFont>
#include <QPointer>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

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
// While the page is active it captures without pause. Every block is measured on the
// capture delivery thread (onBlock): level, running average, the reading relative to the
// stored reference and the crest factor, then, with "Log Measurements" on, one "Measure"
// line in the log; the buffer is handed back last. The texts reach the fields through one
// queued call per block that carries copies of them; the delivery thread never waits for
// the window thread, except while the "Error - Cannot open log file." box is up, and a stop
// releases that wait (see stopCapture()).
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
    // weight 500.
    const QFont &resultFont() const { return m_resultFont; }

    // The averaging flag and count, shared with the other measuring pages. Window thread;
    // the capture callback picks a change up from its next block. The count is not
    // clamped here (the average clamps it to 0..32); the list shows no selection for a
    // count outside 1..31.
    bool averagingEnabled() const;
    int averagingCount() const;
    void setAveragingEnabled(bool on);
    void setAveragingCount(int count);

    // The states last set with the two switching boxes (noise source on, DUT in circuit).
    bool noiseOn() const { return m_noiseOn.load(std::memory_order_relaxed); }
    bool dutIn() const { return m_dutIn.load(std::memory_order_relaxed); }

    // Where the log lines take their time from. Window thread, while the page is not
    // capturing.
    void setLogClock(LocalClock clock);

    // Position in the capture (0 = first block) of the block whose texts the fields show;
    // -1 before the first block of a capture has been shown. Window thread.
    int lastShownBlock() const { return m_lastShownBlock; }

private:
    // The texts of one block, copied to the window thread. Short texts: they stay within
    // std::string's inline buffer, so building them allocates nothing.
    struct BlockTexts
    {
        int generation = 0; // the capture the block belongs to
        int position = 0;   // the block's position in that capture
        std::string dB;
        std::string averaged; // empty: averaging was off for this block
        std::string relative; // empty: no stored reference
        std::string crest;
    };

    void buildControls();
    void makeResultFont(int pixelHeight);
    void selectAverageCount();
    void applySwitchingState();

    // Delivery thread.
    void onBlock(WaveCapture &capture, CaptureHeader &header, int generation);
    void reportLogFailure(int messageId);

    // Window thread.
    void startCapture();
    void stopCapture();
    void showBlock(const BlockTexts &texts);
    void showLogMessage(std::uint64_t request, int messageId);
    void answerLogMessage(std::uint64_t request);
    void showMessage(int messageId);

    void onEnableClicked(bool checked);
    void onCountActivated(int index);
    void onSaveAsDefault();
    void onStore();
    void onNoiseClicked(bool checked);
    void onDutClicked(bool checked);

    QuillonEngine &m_engine;
    SettingsStore &m_store;
    MeasurementLog m_log; // replaced only while no capture runs

    // Owned settings and shared reading state. Written on the window thread, read by the
    // callback (and the current reading the other way round).
    SharedValues &m_shared; // the averaging flag and count live there
    int m_resultFontSize = 24; // window thread only
    QFont m_resultFont;
    std::atomic<bool> m_noiseOn{false};
    std::atomic<bool> m_dutIn{false};
    std::atomic<double> m_currentReading{0.0};
    // The stored reference: the value is written before the valid flag (release), and the
    // callback reads the flag (acquire) before the value.
    std::atomic<double> m_storedValue{0.0};
    std::atomic<bool> m_storedValid{false};
    ReadingHistory m_history; // entries: delivery thread only

    // Window-thread state of the running capture.
    bool m_capturing = false;
    int m_generation = 0; // counts capture starts
    int m_lastShownBlock = -1;

    // The log-failure box. The callback asks the window thread to show it (request number)
    // and waits until that request has been answered (the box closed) or a stop begins.
    std::mutex m_boxMutex;
    std::condition_variable m_boxAnswered;
    std::uint64_t m_boxRequest = 0; // last request made by the callback
    std::uint64_t m_boxAnswer = 0;  // last request answered on the window thread
    bool m_stopping = false;        // set by the window thread before stopCapture
    QPointer<QMessageBox> m_logBox; // window thread

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
};

} // namespace quillon
