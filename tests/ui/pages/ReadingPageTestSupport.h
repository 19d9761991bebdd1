#pragma once

// Shared by the Measure Device and Calibrate Noise Source page tests: the page in a window
// with a second tab, on a real capture engine with the virtual bench (as fast as blocks are
// consumed) and three faulty devices, logging into a temporary folder with a fixed clock.
#include "PageTestSupport.h"
#include "capture/WaveCapture.h"
#include "core/NumberText.h"
#include "core/SettingsStore.h"
#include "measure/QuillonEngine.h"
#include "measure/SeriesReadings.h"
#include "measure/SharedValues.h"
#include "support/FakeDevices.h"
#include "ui/MainWindow.h"
#include "ui/MeasuringNoiseDialog.h"
#include "ui/pages/PropertyPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <cmath>
#include <memory>

namespace quillon::test {

// The three faulty devices of FakeDevices come first; the bench is device 3.
inline constexpr int kBench = 3;

template <typename Page> class ReadingPageTest : public PageTest
{
protected:
    void SetUp() override // the bench, 44.1 kHz mono 16-bit, 100 ms, bench port, logging on
    {
        PageTest::SetUp();
        EngineOptions options;
        options.portAudio = false;
        options.soundDevices = {&m_devices};
        m_engine = std::make_unique<QuillonEngine>(*this, std::move(options));
        Settings &s = settings();
        s.waveInDevice = kBench;
        applyFormatRow(s, 8);
        s.captureTimeMs = 100;
        useAutomationPort(true);
        s.logMeasurements = true;
        s.logResultsFile = logPath().toStdString();
        setBench({});
    }
    Settings &settings() { return m_engine->settings(); }
    QString logPath() { return folder() + "/results.log"; }
    void useAutomationPort(bool port)
    {
        settings().switchPortName = port ? "Virtual bench" : "None";
        settings().switchPortChosen = port;
    }
    // The bench with fixed noise, as fast as blocks are consumed unless `realTime`.
    void setBench(BenchParameters p, bool realTime = false)
    {
        p.seed = 11;
        p.speed = realTime ? 1.0 : 0.0;
        m_engine->bench().setParameters(p);
    }

    // A fresh page (values loaded from the store now), active in a shown window whose second
    // tab is an empty page.
    Page &makePage()
    {
        m_sheet.reset();
        m_store = std::make_unique<SettingsStore>();
        m_shared.load(*m_store);
        m_dialog = std::make_unique<MeasuringNoiseDialog>();
        m_page = new Page(PageContext{*m_engine, *m_store, m_shared, *m_dialog, m_font});
        m_page->setLogClock([] { return LocalDateTime{2026, 12, 6, 2, 8, 33}; });
        m_sheet = std::make_unique<MainWindow>();
        m_other = new PropertyPage(QStringLiteral("Other"), QStringLiteral("other"));
        m_sheet->addPage(m_page);
        m_sheet->addPage(m_other);
        m_sheet->show();
        m_sheet->setActivePage(m_page);
        return *m_page;
    }

    // A user's click: buttons in their middle, check boxes on their indicator.
    void click(const char *name)
    {
        auto *button = child<QAbstractButton>(m_page, name);
        ASSERT_NE(button, nullptr);
        const bool box = qobject_cast<QCheckBox *>(button) != nullptr;
        QTest::mouseClick(button, Qt::LeftButton, {},
                          box ? QPoint(8, button->height() / 2) : button->rect().center());
    }
    void measure(int button) { click(QString("measure%1").arg(button).toLatin1().constData()); }
    void choose(const char *name, int index) // a user's choice of entry `index` in a list
    {
        auto *list = child<QComboBox>(m_page, name);
        list->setCurrentIndex(index);
        emit list->activated(index);
    }
    void type(const char *name, const QString &text) // over a field's contents
    {
        auto *field = child<QLineEdit>(m_page, name);
        field->selectAll();
        QTest::keyClicks(field, text);
    }
    QString text(const char *name) { return child<QLineEdit>(m_page, name)->text(); }
    bool enabled(const char *name) { return child<QWidget>(m_page, name)->isEnabled(); }
    QString enabledOf(std::initializer_list<const char *> names) // "1" or "0" each
    {
        QString s;
        for (const char *name : names)
            s += enabled(name) ? '1' : '0';
        return s;
    }

    // Runs `action` from inside the wait dialog's loop, once the dialog is up and its status
    // line starts with `status`.
    void whenDialogShows(std::function<void()> action, const QString &status = QString())
    {
        QTimer::singleShot(1, m_page, [this, action, status] {
            if (m_dialog->isVisible() && m_dialog->statusText().startsWith(status))
                action();
            else
                whenDialogShows(action, status);
        });
    }
    // All four readings with the page's automation: both boxes and the first "Measure" on a
    // Device page, "Noise Gen" and the "Measure" of each pair on a Calibration page.
    void measureAll()
    {
        click("noiseGen");
        if (m_page->readings().kind() == SeriesKind::Device) {
            click("dutSwitch");
            click("measure0");
        } else {
            click("measure0");
            click("measure2");
        }
    }
    QPushButton *cancelButton() { return m_dialog->findChild<QPushButton *>("cancelButton"); }
    void pressCancel() { QTest::mouseClick(cancelButton(), Qt::LeftButton); }

    // "Save as Defaut": the names written, in order.
    QString saveAsDefault()
    {
        QStringList written;
        m_store->setWriteObserver([&](const char *name, bool) { written << name; });
        click("saveAsDefault");
        return written.join(',');
    }
    template <typename... Keys> static QString savedInts(const Keys &...keys)
    {
        const SettingsStore saved;
        QStringList values{QString::number(saved.read(keys))...};
        return values.join(' ');
    }
    // Root ignores permission bits: a store below a regular file cannot be written.
    void expectSaveFailureMessage()
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           writeFile("blocker", ""));
        makePage();
        BoxCatcher boxes;
        click("saveAsDefault");
        EXPECT_EQ(boxes.texts,
                  QStringList{messageText(kMsgSaveFailed)});
    }

    QStringList logLines()
    {
        QFile file(logPath());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QStringList lines = QString::fromLatin1(file.readAll()).split('\n');
        lines.removeLast(); // after the last newline
        return lines;
    }
    // The reading numbers of the log lines, in order, from their labels.
    QString readingsLogged(std::string_view (*label)(int))
    {
        QString taken;
        for (const QString &line : logLines())
            for (int i = 0; i < 4; ++i)
                if (line.section(',', 2, 2).toStdString() == label(i))
                    taken += QString::number(i);
        return taken;
    }
    // 10 log10 of a power as the log prints it.
    static QString logDb(double power)
    {
        return QString::fromStdString(formatFixed(10.0 * std::log10(power), 6));
    }
    double power(int i) { return m_page->readings().power(i); }

    FaultyDevices m_devices; // members are destroyed from the window up to the devices
    std::unique_ptr<QuillonEngine> m_engine;
    std::unique_ptr<SettingsStore> m_store;
    SharedValues m_shared;
    std::unique_ptr<MeasuringNoiseDialog> m_dialog;
    QFont m_font;
    std::unique_ptr<MainWindow> m_sheet; // owns the pages
    Page *m_page = nullptr;
    PropertyPage *m_other = nullptr;
};

// Whether a reading's dB lies within 1.5 dB of a bench state's level (a single 100 ms block
// scatters by about 0.3 dB; the states lie at least 3.9 dB apart).
inline bool readsState(double power, const BenchTruth &truth, bool noiseOn, bool dutIn)
{
    return std::fabs(10.0 * std::log10(power) -
                     truth.states[switchStateIndex(noiseOn, dutIn)].levelDbfs) < 1.5;
}

} // namespace quillon::test
