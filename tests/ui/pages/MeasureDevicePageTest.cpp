// Measure Device page on the bench: the series of each automation, Repeat until Cancel, over
// range, system mode, the NF lines, the results' uncertainty and averaging to a precision.
#include "ui/pages/MeasureDevicePage.h"
#include "ReadingPageTestSupport.h"
#include "ReportCheck.h"
#include "measure/CorrectionSettings.h"
#include "ui/CorrectionsDialog.h"

#include <QApplication>
#include "core/SettingsStore.h"
#include "measure/Report.h"

#include <QFile>

#include <QRegularExpression>

#include <limits>
#include <string_view>

namespace quillon {
namespace {

class MeasureDevicePageTest : public test::ReadingPageTest<MeasureDevicePage>
{
protected:
    QString results()
    {
        return text("gainField") + "|" + text("teField") + "|" + text("fField") + "|" +
               text("nfField");
    }
};

// The half-width in a "± 0.052 dB (95%)" field; NaN for any other text.
double halfWidthIn(const QString &field)
{
    static const QRegularExpression form(
        QStringLiteral("^\u00b1 ([0-9.]+)( dB| K)? \\(95%\\)$"));
    const QRegularExpressionMatch m = form.match(field);
    return m.hasMatch() ? m.captured(1).toDouble() : std::numeric_limits<double>::quiet_NaN();
}

// The readings each "Measure" takes (from the NF lines), the switch states they were taken in
// (from their levels), and which buttons and boxes are enabled.
TEST_F(MeasureDevicePageTest, EachAutomationTakesItsSeries)
{
    // The name; port, "Noise Gen", "DUT switch", system mode, the button; which of the four
    // "Measure" buttons, "Noise Gen" and "DUT switch" are enabled; the readings taken.
    const std::tuple<const char *, bool, bool, bool, bool, int, const char *, const char *>
        cases[] = {
        {"no port: stored automation ignored", false, false, false, false, 0, "111100", "0"},
        {"port, hand switching", true, false, false, false, 0, "111111", "0"},
        {"noise gen", true, true, false, false, 0, "101011", "01"},
        {"DUT switch: noise on for both", true, false, true, false, 0, "110011", "02"},
        {"both", true, true, true, false, 0, "100011", "0123"},
        {"both, system mode", true, true, true, true, 0, "100010", "01"},
        {"noise gen, DUT pair", true, true, false, false, 2, "101011", "23"},
        {"DUT switch, OFF readings", true, false, true, false, 1, "110011", "13"},
        {"DUT switch ignored in system mode", true, false, true, true, 0, "110010", "0"},
    };
    const BenchTruth truth = m_engine->bench().truth();
    for (const auto &[name, port, noiseGen, dutSwitch, system, button, enabledNow, taken] :
         cases) {
        SCOPED_TRACE(name);
        QFile::remove(logPath());
        useAutomationPort(port);
        SettingsStore().write(keys::AutomateNoiseSwitchInMeasureFunction, port ? 0 : 1);
        SettingsStore().write(keys::AutomateDutSwitchInMeasureFunction, port ? 0 : 1);
        m_engine->bench().setOutputs(true, true); // where hand switching leaves them
        makePage();
        for (const auto &[box, on] :
             {std::pair{"noiseGen", noiseGen}, {"dutSwitch", dutSwitch}, {"systemMode", system}})
            if (on)
                click(box);
        EXPECT_EQ(enabledOf({"measure0", "measure1", "measure2", "measure3", "noiseGen",
                             "dutSwitch"}),
                  enabledNow);
        measure(button);
        EXPECT_EQ(readingsLogged(nfReadingLabel), taken);
        const bool automated = noiseGen || dutSwitch;
        for (const char r : std::string_view(taken)) {
            const DeviceSwitchState st = deviceReadingSwitches(r - '0');
            EXPECT_TRUE(test::readsState(power(r - '0'), truth, !automated || st.noiseOn,
                                         !automated || st.dutIn))
                << "reading " << r;
        }
        EXPECT_FALSE(m_page->seriesRunning() || m_engine->capture().running());
    }
}

// Every completed reading appends its line until "Cancel"; the cancelled reading writes
// nothing and keeps its earlier value, and the series stops there.
TEST_F(MeasureDevicePageTest, RepeatLogsEveryReadingUntilCancel)
{
    makePage();
    click("repeat");
    EXPECT_EQ(cancelButton()->text(), "Cancel");
    QTimer canceller;
    QObject::connect(&canceller, &QTimer::timeout, [this] {
        if (m_dialog->isVisible() && logLines().size() >= 6)
            pressCancel();
    });
    canceller.start(1);
    measureAll();
    canceller.stop();
    const QStringList lines = logLines();
    const QString taken = readingsLogged(nfReadingLabel);
    ASSERT_GE(taken.size(), 6);
    EXPECT_EQ(taken, QString("0123").repeated(4).left(taken.size()));
    const int cancelled = static_cast<int>(taken.size() % 4);
    EXPECT_EQ(logDb(power(cancelled)), lines[taken.size() - 4].section(',', 3, 3));
    EXPECT_FALSE(m_page->seriesRunning() || m_engine->capture().running());
    QTest::qWait(50);
    EXPECT_EQ(logLines().size(), lines.size());
}

// Over range in the DUT's ON reading ends the series with the message; it and the reading
// after it keep their earlier values. A log that cannot be opened: the reading is kept, one
// message, the series ends.
TEST_F(MeasureDevicePageTest, OverRangeAndLogFailureEndTheSeries)
{
    makePage();
    measureAll();
    const QString first0 = text("reading0"), first2 = text("reading2"), first3 = text("reading3");
    setBench({.loudestLevelDbfs = -3.0}); // the DUT's ON state, 20 dB above the rest
    test::BoxCatcher boxes;
    click("measure0");
    EXPECT_EQ(boxes.texts, QStringList{messageText(kMsgSignalTooHigh)});
    EXPECT_EQ(boxes.titles, QStringList{"Quillon"});
    EXPECT_EQ(readingsLogged(nfReadingLabel), "012301");
    EXPECT_NE(text("reading0"), first0); // 17 dB louder now
    EXPECT_EQ(text("reading2") + "|" + text("reading3"), first2 + "|" + first3);
    EXPECT_FALSE(m_page->seriesRunning() || m_engine->capture().running());

    settings().logResultsFile = (folder() + "/no/such/folder/results.log").toStdString();
    setBench({});
    makePage();
    boxes.texts.clear();
    measureAll();
    EXPECT_EQ(boxes.texts, QStringList{messageText(kMsgCannotOpenLog)});
    EXPECT_TRUE(m_page->readings().present(0) && !text("reading0").isEmpty());
    EXPECT_FALSE(m_page->readings().present(1) || m_page->seriesRunning());
}

// Device mode with one pair logs "Not Calculated." and shows nothing; system mode shows the
// receiver's noise at once and logs it after "Gain Not Measured,"; leaving system mode keeps
// the texts; "Clear current readings" empties every field.
TEST_F(MeasureDevicePageTest, SystemModeMeasuresThePairAlone)
{
    makePage();
    click("noiseGen");
    click("measure0");
    EXPECT_EQ(results(), "|||");
    EXPECT_TRUE(logLines().last().endsWith(",Not Calculated."));
    click("systemMode");
    auto *reference = child<QGroupBox>(m_page, "referenceGroup");
    EXPECT_EQ(reference->title(), "System");
    EXPECT_FALSE(enabled("deviceGroup") || enabled("gainField") || enabled("reading3"));
    const QString shown = results();
    EXPECT_TRUE(shown.startsWith("| ") && !shown.contains("Error")) << shown.toStdString();
    click("measure0");
    const QStringList lines = logLines();
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[3].endsWith(",Gain Not Measured," + results().mid(1).replace('|', ',') + ","))
        << lines[3].toStdString();
    EXPECT_NEAR(text("nfField").toDouble(), 8.0, 1.5); // the bench's receiver, not the DUT
    const QString system = results();
    type("tsOff", "296.5x"); // the shared TSoff, and the results follow it
    EXPECT_EQ(m_shared.tsOff(), 296.5);
    EXPECT_NE(results(), system);
    type("tsOff", "293");
    click("systemMode");
    EXPECT_EQ(reference->title(), "Reference");
    EXPECT_TRUE(enabled("deviceGroup") && enabled("reading3") && enabled("measure2"));
    EXPECT_EQ(results(), system);
    click("clearReadings");
    EXPECT_EQ(results() + text("reading0") + text("reading1"), "|||");
    EXPECT_FALSE(m_page->readings().present(0) || m_page->readings().present(1));
}

// Each result shows its statistical and total half-widths (the total grows with the stated
// ENR uncertainty, except the DUT's gain); a bench fault shows its warning below the results,
// the clean bench none. The NF lines carry the page's own texts: the reading to six decimals,
// then what the results show.
TEST_F(MeasureDevicePageTest, ResultsShowTheirUncertaintyTheWarningsAndTheNfLines)
{
    const std::pair<BenchFaults, const char *> cases[] = {
        {{}, ""},
        {{.toneOn = true, .toneDbfs = -57.0}, "a tone or hum is in the passband"},
        {{.compressionOn = true}, "the receiver may be compressing or its AGC is on"},
    };
    settings().decimalPointsInResults = 2;
    for (const auto &[faults, warningText] : cases) {
        SCOPED_TRACE(warningText);
        QFile::remove(logPath());
        setBench({.loudestLevelDbfs = faults.compressionOn ? -8.0 : -20.0, .faults = faults});
        makePage();
        m_shared.setAveraging(true); // 8 blocks a reading: the results close to the truth
        m_shared.setAverageCount(8);
        type("enrUncertainty", "0.2");
        measureAll();
        for (const char *result : {"gain", "te", "f", "nf"}) {
            const double statistical = halfWidthIn(text((result + QString("Statistical")).toLatin1()));
            const double total = halfWidthIn(text((result + QString("Total")).toLatin1()));
            EXPECT_GT(statistical, 0.0) << result;
            if (result == std::string_view("gain"))
                EXPECT_DOUBLE_EQ(total, statistical);
            else
                EXPECT_GT(total, statistical) << result;
        }
        const auto *warning = child<QLabel>(m_page, "warningLabel");
        EXPECT_TRUE(warning->text().contains(QLatin1String(warningText)));
        EXPECT_EQ(warning->isVisible(), *warningText != '\0') << warning->text().toStdString();
        if (!*warningText) {
            const char *labels[] = {"Noise (ON)", "Noise (OFF)", "DUT (ON)", "DUT (OFF)"};
            QStringList expected;
            for (int i = 0; i < 4; ++i) {
                EXPECT_EQ(text(QString("reading%1").arg(i).toLatin1().constData()).toStdString(),
                          readingText(power(i), 2));
                expected << QString("NF,12/6/26 2:08:33,%1,%2,").arg(labels[i], logDb(power(i))) +
                                (i < 3 ? "Not Calculated." : results().replace('|', ',') + ",");
            }
            EXPECT_EQ(logLines(), expected);
            EXPECT_NEAR(text("gainField").toDouble(), 20.0, 0.5); // the bench's DUT
            EXPECT_NEAR(text("nfField").toDouble(), 1.0, 0.5);
        }
        click("clearReadings");
        EXPECT_TRUE(text("nfStatistical").isEmpty() && !warning->isVisible());
    }
}

// Averaging to a precision: each reading takes blocks until the noise figure's statistical
// half-width reaches the target; a short maximum time ends the readings first.
TEST_F(MeasureDevicePageTest, PrecisionChoiceEndsTheReadings)
{
    const std::tuple<const char *, const char *, double, double> cases[] = {
        {"0.1", "60", 0.07, 0.1005}, {"0.01", "0.3", 0.1, 1.0}}; // the NF's half-width, dB
    for (const auto &[target, maxTime, low, high] : cases) {
        SCOPED_TRACE(target);
        makePage();
        click("precisionEnable");
        type("precisionTarget", target);
        type("precisionMaxTime", maxTime);
        measureAll();
        const double shown = halfWidthIn(text("nfStatistical"));
        EXPECT_GT(shown, low);
        EXPECT_LT(shown, high);
    }
}

// The losses stored in "Corrections", the bench built with them: the results are the DUT's
// own (NF 0.5 dB, gain 20 dB, not the 0.92 dB and 18.6 dB the plain formulas read), the line
// under them says what they are corrected for, and the NF line carries it at its end; "Save
// Report..." reports the corrected numbers with that line, and its JSON recomputes them. In
// system mode only the calibration path's loss applies: none here.
TEST_F(MeasureDevicePageTest, CorrectedResultsSayWhatTheyAreCorrectedFor)
{
    CorrectionSettings c;
    c.at(LossPlace::Input) = {true, false, 0.4, "", 300.0};
    c.at(LossPlace::Output) = {true, false, 1.0, "", 290.0};
    {
        SettingsStore store(kCorrectionsGroup);
        ASSERT_TRUE(saveCorrectionSettings(store, c).ok());
    }
    BenchParameters bench;
    bench.dutNfDb = 0.5;
    bench.sourceOffTemperatureK = 303.0;
    bench.chain.inputLossDb = 0.4;
    bench.chain.inputLossTemperatureK = 300.0;
    bench.chain.outputLossDb = 1.0;
    setBench(bench);
    makePage();
    type("tsOff", "303");
    measureAll();
    // The readings' own noise (one 100 ms block each) moves the results by tenths of a dB:
    // they must be the corrected evaluation of these very readings, and near the truth.
    ChainCorrections applied;
    applied.at(LossPlace::Input) = {true, 0.4, 300.0, 0.0};
    applied.at(LossPlace::Output) = {true, 1.0, 290.0, 0.0};
    std::array<double, kDeviceReadingCount> p{};
    for (int i = 0; i < kDeviceReadingCount; ++i)
        p[static_cast<std::size_t>(i)] = power(i);
    const DeviceResults expected =
        correctDeviceResults(p, {true, true, true, true}, false, 25.0, 290.0, 303.0, applied);
    EXPECT_NEAR(text("nfField").toDouble(), expected.noise.nf, 0.0005);
    EXPECT_NEAR(text("gainField").toDouble(), expected.gainDb, 0.0005);
    EXPECT_NEAR(expected.noise.nf, 0.5, 0.6);
    EXPECT_NEAR(expected.gainDb, 20.0, 0.6);
    auto *line = child<QLabel>(m_page, "correctedFor");
    EXPECT_EQ(line->text(),
              "corrected for: input loss 0.40 dB at 300 K, output loss 1.00 dB at 290 K");
    EXPECT_TRUE(logLines().last().endsWith(
        ",corrected for: input loss 0.40 dB at 300 K; output loss 1.00 dB at 290 K"))
        << logLines().last().toStdString();
    const QString path = folder() + "/corrected.html";
    m_page->setReportDialog([path] { return path; });
    {
        test::BoxCatcher none;
        click("saveReport");
        EXPECT_TRUE(none.texts.isEmpty()) << none.texts.join('|').toStdString();
    }
    QFile html(path), json(folder() + "/corrected.json");
    ASSERT_TRUE(html.open(QIODevice::ReadOnly) && json.open(QIODevice::ReadOnly));
    const QString report = QString::fromUtf8(html.readAll());
    EXPECT_TRUE(report.contains("<li>" + line->text() + "</li>"));
    EXPECT_TRUE(report.contains(">" + text("nfField").trimmed() + "<"));
    EXPECT_TRUE(report.contains(">" + text("gainField").trimmed() + "<"));
    const RecomputeOutcome again = recomputeReport(json.readAll().toStdString());
    EXPECT_TRUE(again.readable && again.mismatches.empty() && again.compared == 13)
        << again.compared << (again.mismatches.empty() ? "" : again.mismatches.front());
    click("systemMode");
    EXPECT_EQ(line->text(), "");
    EXPECT_NEAR(text("nfField").toDouble(), 8.0, 1.5);
}

// A correction that cannot be applied: no result, the line says why, and "Measure" takes no
// reading but shows the message.
TEST_F(MeasureDevicePageTest, ARefusedCorrectionComputesAndMeasuresNothing)
{
    makePage();
    measureAll();
    ASSERT_FALSE(text("nfField").isEmpty());
    const int linesBefore = static_cast<int>(logLines().size());
    CorrectionSettings c;
    c.at(LossPlace::Input) = {true, false, -0.2, "", 290.0};
    {
        SettingsStore store(kCorrectionsGroup);
        ASSERT_TRUE(saveCorrectionSettings(store, c).ok());
    }
    makePage(); // loads the stored entries
    const QString why = "Input loss: a loss must be a number of 0 dB or more.";
    click("noiseGen");
    test::BoxCatcher boxes;
    click("measure0");
    EXPECT_EQ(boxes.texts, QStringList{why});
    EXPECT_EQ(child<QLabel>(m_page, "correctedFor")->text(), "Not computed: " + why);
    EXPECT_EQ(logLines().size(), linesBefore);
    EXPECT_EQ(results(), "|||");
}

// The dialog: OK keeps the entries in the group "Corrections"; a field that is not a number
// is named and OK refused.
TEST_F(MeasureDevicePageTest, CorrectionsDialogKeepsItsEntries)
{
    makePage();
    test::BoxCatcher boxes;
    int step = 0;
    std::function<void()> drive = [&] {
        auto *dialog = qobject_cast<CorrectionsDialog *>(QApplication::activeModalWidget());
        if (dialog == nullptr) {
            QTimer::singleShot(5, drive);
            return;
        }
        auto set = [dialog](const char *name, const QString &value) {
            dialog->findChild<QLineEdit *>(name)->setText(value);
        };
        dialog->findChild<QCheckBox *>("outputLossOn")->setChecked(true);
        set("outputLossTemperatureK", "310");
        set("outputLossDb", step++ == 0 ? "0.7dB" : "0.7");
        dialog->findChild<QCheckBox *>("converterOn")->setChecked(true);
        dialog->findChild<QComboBox *>("converterSideband")->setCurrentIndex(2);
        set("converterLo", "1152");
        dialog->accept();
        if (dialog->isVisible())
            QTimer::singleShot(50, drive); // refused: once the box is closed, again
    };
    QTimer::singleShot(5, drive);
    click("correctionsButton");
    EXPECT_EQ(boxes.texts, QStringList{"Corrections: \"0.7dB\" is not a number."});
    const CorrectionSettings kept = loadCorrectionSettings(SettingsStore(kCorrectionsGroup));
    EXPECT_TRUE(kept.at(LossPlace::Output).on);
    EXPECT_EQ(kept.at(LossPlace::Output).db, 0.7);
    EXPECT_EQ(kept.at(LossPlace::Output).temperatureK, 310.0);
    EXPECT_FALSE(kept.at(LossPlace::Input).on);
    EXPECT_TRUE(kept.converter.on);
    EXPECT_EQ(kept.converter.sideband, Sideband::Double);
    EXPECT_EQ(kept.converter.loMHz, 1152.0);
}

// "Drift-cancelling order (ON, OFF, OFF, ON)": kept in the store as it is clicked and shown
// from it; checked, the ON readings come in two halves around their OFF readings, and a
// drifting receiver's warning shows with the others.
TEST_F(MeasureDevicePageTest, DriftOrderIsKeptAndTakenAndItsWarningShown)
{
    setBench({.faults = {.gainDriftDbPerMinute = 20.0}});
    makePage();
    auto *box = child<QCheckBox>(m_page, "driftOrder");
    EXPECT_EQ(box->text(), QStringLiteral("Drift-cancelling order (ON, OFF, OFF, ON)"));
    EXPECT_FALSE(box->isChecked());
    m_shared.setAveraging(true);
    m_shared.setAverageCount(16);
    measureAll();
    // The sequential order: reading 0's blocks one after another.
    const std::vector<double> &sequential = m_page->readings().timeline(0).times();
    ASSERT_EQ(sequential.size(), 16u);
    EXPECT_NEAR(sequential[8] - sequential[7], 0.1, 1e-9);

    click("driftOrder");
    EXPECT_EQ(SettingsStore().read(keys::DriftCancellingOrder), 1);
    makePage();
    EXPECT_TRUE(child<QCheckBox>(m_page, "driftOrder")->isChecked());
    m_shared.setAveraging(true);
    m_shared.setAverageCount(16);
    measureAll();
    const std::vector<double> &halves = m_page->readings().timeline(0).times();
    ASSERT_EQ(halves.size(), 16u);
    EXPECT_GE(halves[8] - halves[7], 1.9 - 1e-9); // the OFF reading and two dummies between
    const auto *warning = child<QLabel>(m_page, "warningLabel");
    EXPECT_TRUE(warning->isVisible());
    EXPECT_TRUE(warning->text().contains(QLatin1String("receiver gain drifted by ")))
        << warning->text().toStdString();
    click("driftOrder");
    EXPECT_EQ(SettingsStore().read(keys::DriftCancellingOrder), 0);
}

// A field of the "Limits and DUT" dialog, as typed there (the dialog need not be open).
void set(MeasureDevicePage *page, const char *name, const QString &text)
{
    page->findChild<QLineEdit *>(QLatin1String(name))->setText(text);
}

// The verdict beside the result, in words and colour, as the limits are typed; the DUT record
// and the limits kept as typed; "Save Report..." writes the report of the readings shown,
// whose JSON recomputes them, and a folder that cannot be written is one message with the
// results kept.
TEST_F(MeasureDevicePageTest, VerdictDutRecordAndSaveReport)
{
    makePage();
    m_shared.setAveraging(true);
    m_shared.setAverageCount(8);
    {
        test::BoxCatcher early; // one catcher at a time: each takes every box it sees
        click("saveReport");    // nothing measured yet
        EXPECT_EQ(early.texts, QStringList{"There is no complete result to report yet: take "
                                           "the readings first."});
    }
    set(m_page, "nfMax", "5");
    measureAll();
    const QLineEdit *verdict = child<QLineEdit>(m_page, "verdictField");
    EXPECT_EQ(verdict->text(), "PASS");
    EXPECT_TRUE(verdict->styleSheet().contains("#1b7f3a"));
    set(m_page, "gainMin", "25"); // the bench's DUT has 20 dB
    EXPECT_EQ(verdict->text(), "FAIL");
    EXPECT_TRUE(verdict->styleSheet().contains("#b00020"));
    // The noise figure's limit exactly at the result: its interval holds it.
    const ReportData shown = m_page->reportData();
    ASSERT_EQ(shown.results.size(), 1u);
    set(m_page, "gainMin", "");
    set(m_page, "nfMax", QString::number(shown.results[0].results.noise.nf, 'g', 17));
    EXPECT_EQ(verdict->text(), "INDETERMINATE");
    set(m_page, "nfMax", "abc"); // not a number: marked, no limit, no verdict
    EXPECT_EQ(verdict->text(), "");
    set(m_page, "nfMax", "5");

    set(m_page, "dutName", "2 m LNA <unit 3>");
    set(m_page, "dutSerial", "0042");
    set(m_page, "dutNotes", "bias 12 V");
    for (const char *name : {"dutName", "dutSerial", "dutNotes", "nfMax"})
        child<QLineEdit>(m_page, name)->editingFinished();
    const SettingsStore stored;
    EXPECT_EQ(stored.read(keys::DutName), "2 m LNA <unit 3>");
    EXPECT_EQ(stored.read(keys::DutSerial), "0042");
    EXPECT_EQ(stored.read(keys::LimitNfMax), "5");

    const QString path = folder() + "/lna.html";
    m_page->setReportDialog([path] { return path; });
    {
        test::BoxCatcher none;
        click("saveReport");
        EXPECT_TRUE(none.texts.isEmpty()) << none.texts.join('|').toStdString();
    }
    QFile html(path), json(folder() + "/lna.json");
    ASSERT_TRUE(html.open(QIODevice::ReadOnly) && json.open(QIODevice::ReadOnly));
    const QString page = QString::fromUtf8(html.readAll());
    EXPECT_TRUE(page.contains("2 m LNA &lt;unit 3&gt;"));
    EXPECT_TRUE(page.contains(text("nfField").trimmed()));
    const RecomputeOutcome again = recomputeReport(json.readAll().toStdString());
    EXPECT_TRUE(again.readable && again.mismatches.empty() && again.compared == 13);
    // Every number the page shows (readings, results, half-widths) is in the report, which
    // is strict HTML5 and self-contained.
    QStringList fields;
    for (const QLineEdit *field : m_page->findChildren<QLineEdit *>())
        if (field->isReadOnly() && !field->text().isEmpty())
            fields << field->text();
    ASSERT_GE(fields.size(), 8);
    EXPECT_EQ(test::checkReport(path, fields, {"2 m LNA <unit 3>", "0042", "bias 12 V"}), "");

    const QString nowhere = folder() + "/none/lna.html";
    m_page->setReportDialog([nowhere] { return nowhere; });
    const QString nf = text("nfField");
    test::BoxCatcher failed;
    click("saveReport");
    EXPECT_EQ(failed.texts, QStringList{"The report \"" + nowhere +
                                        "\" could not be written: No such file or directory."});
    EXPECT_EQ(text("nfField"), nf);
    EXPECT_EQ(verdict->text(), "PASS");
    click("clearReadings");
    EXPECT_EQ(verdict->text(), "");
}

} // namespace
} // namespace quillon
