#pragma once

#include "measure/ModalReading.h"

#include <QDialog>

#include <atomic>

class QLabel;

namespace quillon {

// "Measuring Noise": the one modal wait dialog of the modal readings. The window thread
// arms it and runs it while a reading is taken; the capture callback (delivery thread)
// updates the status line and closes it with a result code; "Cancel" ends it early.
//
//   window thread:   arm("Noise (ON)"); start the capture; const int code = runModal();
//   delivery thread: postProgress({Dummy, 3}); ... postClose(kReadingComplete);
//
// Posts from the delivery thread are queued to the window thread and carry the number of
// the run they belong to, so a late post from an earlier reading never closes a later one.
class MeasuringNoiseDialog : public QDialog
{
    Q_OBJECT
public:
    // Result codes. The callback's own codes (reading complete, over range) are chosen by
    // the pages; Cancel gives kCancelled.
    static constexpr int kCancelled = 2;

    explicit MeasuringNoiseDialog(QWidget *parent = nullptr);

    // Window thread: a new run; clears the status line and the result code. `label` is the
    // reading's label for the "Reading %s : %d" progress line.
    void arm(const QString &label = QString());
    // Window thread: shows the dialog modally until a post closes it or the user cancels;
    // returns the result code. A close posted before this call ends the run at once.
    int runModal();

    // Any thread.
    void postStatus(const QString &text);
    void postClose(int resultCode);
    // Any thread: the progress line of the running reading ("Dummy : 3", "Reading Noise (ON) :
    // 4"). Only the two numbers travel; the text is made on the window thread.
    void postProgress(ReadingProgress progress);

    int resultCode() const { return m_result.load(); }
    QString statusText() const;

    // Cancel, Escape and the title-bar close; also how the window ends a run (page change,
    // window close). Window thread.
    void reject() override;

private:
    void closeWith(int generation, int code);

    QLabel *m_status = nullptr;
    QString m_label; // window thread
    std::atomic<int> m_generation{0};
    std::atomic<int> m_result{0};
    bool m_closed = false; // window thread: this run has ended
};

} // namespace quillon
