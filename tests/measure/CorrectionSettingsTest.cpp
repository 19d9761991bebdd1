// The corrections as entered: their settings group, their resolution at a frequency with
// every message that refuses an entry, the log line's addition and the sweep CSV's columns.

#include "measure/CorrectionSettings.h"
#include "capture/ResultText.h"
#include "core/Messages.h"
#include "core/Settings.h"
#include "core/SettingsTestSupport.h"
#include "measure/MeasurementLog.h"
#include "measure/SeriesReadings.h"
#include "measure/SweepCsv.h"

#include <QTemporaryDir>

#include <fstream>
#include <tuple>

namespace quillon {
namespace {

using CorrectionStore = test::TempSettingsTest;

auto fields(const CorrectionSettings &s)
{
    auto loss = [](const LossSetting &l) {
        return std::tuple(l.on, l.fromTable, l.db, l.file, l.temperatureK);
    };
    return std::tuple(loss(s.loss[0]), loss(s.loss[1]), loss(s.loss[2]), s.converter.on,
                      s.converter.loMHz, s.converter.sideband, s.converter.imageRejectionDb,
                      s.frequencyMHz);
}

// Every value off its default round-trips through its own group; the defaults are
// nothing entered, and "Setup" is not touched.
TEST_F(CorrectionStore, RoundTripInItsOwnGroupAndDefaults)
{
    EXPECT_EQ(fields(loadCorrectionSettings(SettingsStore(kCorrectionsGroup))),
              fields(CorrectionSettings{}));
    EXPECT_FALSE(CorrectionSettings{}.any());
    CorrectionSettings s;
    s.at(LossPlace::Input) = {true, false, 0.3, "", 295.5};
    s.at(LossPlace::Output) = {true, true, 0.0, "/tmp/cable loss.txt", 310.0};
    s.at(LossPlace::Calibration) = {false, false, -0.25, "", 77.0}; // kept as typed, off
    s.converter = {true, 1152.125, Sideband::Double, 17.5};
    s.frequencyMHz = 432.1;
    {
        SettingsStore store(kCorrectionsGroup);
        EXPECT_TRUE(saveCorrectionSettings(store, s).ok());
    }
    EXPECT_EQ(fields(loadCorrectionSettings(SettingsStore(kCorrectionsGroup))), fields(s));
    QSettings file(storeFile(), QSettings::IniFormat);
    EXPECT_EQ(file.value("Corrections/InputLossDb").toString(), "0.3");
    EXPECT_EQ(file.value("Corrections/OutputLossFile").toString(), "/tmp/cable loss.txt");
    EXPECT_EQ(file.value("Corrections/ConverterSideband").toString(), "double");
    EXPECT_FALSE(file.contains("Setup/ENR"));
    // A sideband the program does not know reads as upper.
    file.setValue("Corrections/ConverterSideband", "both");
    file.sync();
    EXPECT_EQ(loadCorrectionSettings(SettingsStore(kCorrectionsGroup)).converter.sideband,
              Sideband::Upper);
    for (Sideband side : {Sideband::Upper, Sideband::Lower, Sideband::Double}) {
        bool known = false;
        EXPECT_EQ(sidebandFromName(sidebandName(side), &known), side);
        EXPECT_TRUE(known);
    }
}

class Resolve : public ::testing::Test
{
protected:
    std::string table(const std::string &name, const std::string &rows)
    {
        const std::string path = m_dir.filePath(QString::fromStdString(name)).toStdString();
        std::ofstream(path) << rows;
        return path;
    }
    Result resolve(const CorrectionSettings &s, double outputMHz, ChainCorrections &out)
    {
        LossTables tables;
        if (const Result read = readLossTables(s, tables); !read.ok())
            return read;
        return resolveCorrections(s, tables, outputMHz, m_enrAt, out);
    }
    QTemporaryDir m_dir;
    // An ENR falling 0.001 dB per MHz from 25 dB at 0 MHz.
    std::function<double(double)> m_enrAt = [](double mhz) { return 25.0 - 0.001 * mhz; };
};

// Each refused entry: its message's number and the whole sentence the user reads, naming
// the entry; nothing to apply from it.
TEST_F(Resolve, EveryRefusedEntryNamesItself)
{
    const std::string narrow = table("narrow.txt", "100, 0.3\n140, 0.4\n");
    const std::string broken = table("broken.txt", "100, 0.3\n, 0.4\n");
    const std::string negative = table("negative.txt", "100, 0.3\n200, -0.1\n");
    struct Case
    {
        CorrectionSettings settings;
        int id;
        const char *text;
    };
    auto with = [](LossPlace p, LossSetting l) {
        CorrectionSettings s;
        s.at(p) = l;
        return s;
    };
    auto converter = [](ConverterPlan c) {
        CorrectionSettings s;
        s.converter = c;
        return s;
    };
    const Case cases[] = {
        {with(LossPlace::Input, {true, false, -0.1, "", 290.0}), kMsgLossNegative,
         "Input loss: a loss must be a number of 0 dB or more."},
        {with(LossPlace::Output, {true, false, 0.5, "", 0.0}), kMsgLossTemperature,
         "Output loss: the physical temperature must be above 0 K."},
        {with(LossPlace::Calibration, {true, false, 0.5, "", -3.0}), kMsgLossTemperature,
         "Calibration path loss: the physical temperature must be above 0 K."},
        {with(LossPlace::Output, {true, true, 0.0, narrow, 290.0}), kMsgLossTableCoverage,
         "Output loss table narrow.txt: the loss table does not cover the frequency 144.000 "
         "MHz."},
        {with(LossPlace::Input, {true, true, 0.0, broken, 290.0}), kMsgLossTableUnreadable,
         "Input loss table broken.txt: the loss table cannot be read: A line in the calibration "
         "file is missing an ENR value (dB) (line 2)"},
        {with(LossPlace::Input, {true, true, 0.0, m_dir.filePath("none.txt").toStdString(),
                                 290.0}),
         kMsgLossTableUnreadable,
         "Input loss table none.txt: the loss table cannot be read: The specified calibration "
         "file cannot be opened."},
        {with(LossPlace::Input, {true, true, 0.0, "", 290.0}), kMsgLossTableUnreadable,
         "Input loss table : the loss table cannot be read: You must specify a valid ENR "
         "calibration file."},
        // The table reader's own refusal of a negative loss, naming its line.
        {with(LossPlace::Input, {true, true, 0.0, negative, 290.0}), kMsgLossTableUnreadable,
         "Input loss table negative.txt: the loss table cannot be read: One or more lines in "
         "the calibration file has an ENR value out of range (line 2)"},
        {converter({true, 1152.0, Sideband::Upper, -2.0}), kMsgImageRejection,
         "Converter: the image rejection must be a number of 0 dB or more."},
        {converter({true, 100.0, Sideband::Lower, 20.0}), kMsgConverterFrequency,
         "Converter: the converter's input and image frequencies must be above 0 MHz."},
    };
    for (const Case &c : cases) {
        ChainCorrections out;
        const Result r = resolve(c.settings, 144.0, out);
        EXPECT_EQ(r.code, c.id) << c.text;
        EXPECT_EQ(r.detail, c.text);
    }
}

// With a converter the input loss is read at the input frequency, the output and calibration
// losses at the receiver's, and the ENR at the signal and image frequencies.
TEST_F(Resolve, EachElementAtItsOwnFrequency)
{
    const std::string high = table("high.txt", "1000, 0.5, 0.02\n1500, 1.0, 0.04\n");
    const std::string low = table("low.txt", "100, 1.0\n200, 2.0\n");
    CorrectionSettings s;
    s.at(LossPlace::Input) = {true, true, 0.0, high, 300.0};
    s.at(LossPlace::Output) = {true, true, 0.0, low, 290.0};
    s.at(LossPlace::Calibration) = {true, false, 0.25, "", 295.0};
    s.converter = {true, 1152.0, Sideband::Upper, 20.0};
    ChainCorrections c;
    ASSERT_TRUE(resolve(s, 144.0, c).ok());
    EXPECT_DOUBLE_EQ(c.frequencies.inputMHz, 1296.0);
    EXPECT_DOUBLE_EQ(c.at(LossPlace::Input).db, 0.5 + 0.5 * 296.0 / 500.0);
    EXPECT_DOUBLE_EQ(c.at(LossPlace::Input).uncertaintyDb, 0.02 + 0.02 * 296.0 / 500.0);
    EXPECT_EQ(c.at(LossPlace::Input).temperatureK, 300.0);
    EXPECT_DOUBLE_EQ(c.at(LossPlace::Output).db, 1.44);
    EXPECT_EQ(c.at(LossPlace::Calibration).db, 0.25);
    EXPECT_DOUBLE_EQ(c.enrSignalDb, 25.0 - 1.296);
    EXPECT_DOUBLE_EQ(c.enrImageDb, 25.0 - 1.008);
    // Nothing entered: nothing applied, whatever the frequency.
    ChainCorrections none;
    EXPECT_TRUE(resolve({}, -5.0, none).ok());
    EXPECT_FALSE(none.any());
}

// The log line of a corrected evaluation: the results as before, then the corrections in one
// field; a reading whose results are not complete carries nothing more.
TEST(CorrectionLog, TheAdditionFollowsTheUnchangedResults)
{
    ChainCorrections c;
    c.at(LossPlace::Input) = {true, 0.4, 300.0, 0.0};
    c.at(LossPlace::Output) = {true, 1.0, 290.0, 0.0};
    EXPECT_EQ(correctionsLogText(c),
              "corrected for: input loss 0.40 dB at 300 K; output loss 1.00 dB at 290 K");
    SeriesConditions conditions;
    conditions.enrDb = 25.0;
    conditions.tsOff = 303.0;
    conditions.corrections = c;
    Settings settings;
    settings.logMeasurements = true;
    // The README's worked example: readings as noise temperatures.
    const double p[] = {93548.82844387557, 1842.7762989925607, 6671973.55036609,
                        28457.357339547907};
    SeriesReadings readings;
    ResultLine line;
    QTemporaryDir dir;
    settings.logResultsFile = dir.filePath("log.txt").toStdString();
    const MeasurementLog log([] {
        LocalDateTime t;
        t.year = 2026;
        t.month = 12;
        t.day = 6;
        t.hour = 2;
        t.minute = 8;
        t.second = 33;
        return t;
    });
    SeriesEvaluation e;
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(readings.complete(i, p[i], conditions, settings, line, log, e), kMsgNone);
    EXPECT_NEAR(e.device.noise.nf, 0.5, 1e-9);
    std::ifstream in(settings.logResultsFile);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(text, "NF,12/6/26 2:08:33,Noise (ON),49.710384,Not Calculated.\n"
                    "NF,12/6/26 2:08:33,Noise (OFF),32.654726,Not Calculated.\n"
                    "NF,12/6/26 2:08:33,DUT (ON),68.242543,Not Calculated.\n"
                    "NF,12/6/26 2:08:33,DUT (OFF),44.541946, 20.000, 35.385, 1.122, 0.500,"
                    "corrected for: input loss 0.40 dB at 300 K; output loss 1.00 dB at 290 K\n");
    // The uncertainty follows the corrections too: the gain's moves with no loss term here.
    const SeriesUncertainty u = readings.uncertainty(conditions, {});
    EXPECT_NEAR(u.device.gainDb.value, 20.0, 1e-9);
}

// A sweep with corrections has five more columns; one without has exactly the old ones.
TEST(CorrectionCsv, ColumnsOnlyWhenCorrected)
{
    SweepRow plain;
    plain.frequencyMHz = 144.0;
    EXPECT_EQ(sweepCsv({plain}), std::string(kSweepCsvHeader) + "\r\n144,,,,,,,,\r\n");
    SweepRow corrected = plain;
    corrected.inputFrequencyMHz = 1296.0;
    corrected.inputLossDb = 0.4;
    corrected.outputLossDb = 1.0;
    corrected.correctedFor = "corrected for: input loss 0.40 dB at 300 K, output loss 1.00 dB at "
                             "290 K";
    std::vector<std::vector<std::string>> records;
    ASSERT_TRUE(parseCsv(sweepCsv({plain, corrected}), records));
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].size(), 14u);
    EXPECT_EQ(records[0][9], "Input frequency (MHz)");
    EXPECT_EQ(records[0][13], "Corrected for");
    EXPECT_EQ(records[1][9], ""); // a row without corrections in a corrected sweep
    EXPECT_EQ(records[2][9], "1296");
    EXPECT_EQ(records[2][10], "0.4");
    EXPECT_EQ(records[2][11], "1");
    EXPECT_EQ(records[2][12], "");
    EXPECT_EQ(records[2][13], corrected.correctedFor);
}

} // namespace
} // namespace quillon
