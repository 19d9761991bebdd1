#pragma once

#include "measure/ModalReading.h"

#include <QDialog>

#include <atomic>
#include <chrono>

class QEventLoop;
class QLabel;

namespace quillon {

// "Measuring Noise": the one wait dialog of the modal readings. The window thread arms it
// for each reading, shows it window-modal while the reading runs (its own events keep
// running meanwhile) and ends the run when the capture has stopped; the capture callback
// (delivery thread) posts the progress line; "Cancel" ends the run early.
//
//   window thread:   arm("Noise (ON)"); showRun(); ...events until the reading ends or
//                    cancelled()...; endRun();
//   delivery thread: postProgress({Dummy, 3}); postProgress({Counted, 4}); ...
//
// Progress posts carry the number of the run they belong to, so a late post from an
// earlier reading never shows in a later one.
class MeasuringNoiseDialog : public QDialog
{
    Q_OBJECT
public:
    // The dialog's result code after "Cancel" (QDialog::finished carries it).
    static constexpr int kCancelled = 2;

    explicit MeasuringNoiseDialog(QWidget *parent = nullptr);

    // Window thread: a new run; clears the progress line and the cancel. `label` is the
    // reading's label for the "Reading %s : %d" progress line.
    void arm(const QString &label = QString());
    // Window thread: shows the dialog window-modal and returns at once; nothing once the run
    // has ended (cancelled, or endRun).
    void showRun();
    // Window thread: the run is over; closes the dialog. A later reject() changes nothing.
    void endRun();
    // Window thread: whether this run was ended by "Cancel" (or reject()).
    bool cancelled() const { return m_cancelled; }

    // Any thread: the progress line of the running reading ("Dummy : 3", "Reading Noise (ON) :
    // 4"). Only the two numbers travel; the text is made on the window thread.
    void postProgress(ReadingProgress progress);

    QString statusText() const;

    // Window thread, a page's SeriesListener::waitSlice: shows the run and runs the window's
    // events until `slice` is over, wake() is called, or the dialog closes (Cancel, the page
    // left). Whether the series goes on: the page still `active` (read after the wait) and
    // the run not cancelled. A reading that has finished only lets what is pending run (a
    // Cancel pressed meanwhile still counts).
    bool waitSlice(const ModalReading &reading, std::chrono::milliseconds slice,
                   const bool &active);
    // Window thread: ends a running slice now (the reading's end, posted from the delivery
    // thread). A wake meant for an earlier reading may end a later slice early; the runner
    // then looks again.
    void wake();

    // Cancel, Escape and the title-bar close; also how the window ends a run (page change,
    // window close). Window thread.
    void reject() override;

private:
    QLabel *m_status = nullptr;
    QEventLoop *m_waitLoop = nullptr; // the slice running in waitSlice
    QString m_label;                  // window thread
    std::atomic<int> m_generation{0}; // the run; read by postProgress on any thread
    bool m_ended = false;             // window thread: this run has ended
    bool m_cancelled = false;         // window thread: ... by "Cancel"
};

} // namespace quillon
