// quillon-cli measure and calibrate: their two outputs, the text the window shows and JSON
// for scripts.

#include "capture/WaveFormat.h"
#include "cli/CliSupport.h"
#include "cli/CorrectionOptions.h"
#include "cli/Json.h"
#include "cli/MeasureSeries.h"
#include "measure/MeasurementLog.h"
#include "measure/ModalReading.h"
#include "measure/SeriesDrift.h"
#include "measure/SeriesRunner.h"
#include "nf/YFactorMath.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace quillon::cli {

namespace {

// "Noise Figure (dB) 95%: ± 0.052 dB (95%) statistical, ± 0.11 dB (95%) total"
void printHalfWidths(const char *caption, const Uncertain &u, std::string_view unit)
{
    const HalfWidthTexts t = halfWidthTexts(u, unit);
    if (t.statistical.empty() && t.total.empty())
        return;
    std::printf("%s 95%%: %s statistical, %s total\n", caption, t.statistical.c_str(),
                t.total.c_str());
}

void writeUncertain(Json &doc, const char *name, const Uncertain &u, std::string_view unit)
{
    doc.key(name).beginObject();
    doc.key("statistical").value(u.statistical).key("total").value(u.total);
    doc.key("drift").value(u.drift); // the drift part of the total (standard)
    doc.key("statisticalHalfWidth95").value(u.statisticalHalfWidth());
    doc.key("totalHalfWidth95").value(u.totalHalfWidth());
    doc.key("statisticalText").value(halfWidthText(u.statisticalHalfWidth(), unit));
    doc.key("totalText").value(halfWidthText(u.totalHalfWidth(), unit));
    doc.endObject();
}

void writeWarnings(Json &doc, const ReadingWarnings &w)
{
    doc.key("warnings").beginArray();
    if (w.settling)
        doc.value(kSettlingWarningText);
    if (w.compression)
        doc.value(kCompressionWarningText);
    if (w.headroom)
        doc.value(kHeadroomWarningText);
    if (w.interference)
        doc.value(kInterferenceWarningText);
    if (w.lostAudio)
        doc.value(kLostAudioWarningText);
    if (w.drift())
        doc.value(driftWarningText(w.driftDb));
    doc.endArray();
}

// A Measure Device run's results and uncertainties: standard uncertainties in the results'
// own units, and the 95% half-widths.
void writeDevice(Json &doc, const MeasureRun &run, bool systemMode)
{
    const DeviceResults &res = run.evaluation.device;
    doc.key("results").beginObject().key("complete").value(res.complete);
    if (!systemMode) {
        doc.key("gain").value(res.gain).key("gainDb").value(res.gainDb);
        doc.key("gainValid").value(res.gainValid);
    }
    doc.key("noiseTemperature").value(res.noise.te).key("noiseFactor").value(res.noise.f);
    doc.key("noiseFigure").value(res.noise.nf).key("valid").value(res.noise.valid);
    doc.endObject();
    const DeviceResultsUncertainty &u = run.uncertainty.device;
    doc.key("uncertainty").beginObject().key("complete").value(u.complete);
    if (u.complete) {
        if (!systemMode)
            writeUncertain(doc, "gainDb", u.gainDb, "dB");
        writeUncertain(doc, "noiseTemperature", u.te, "K");
        writeUncertain(doc, "noiseFactor", u.f, "");
        writeUncertain(doc, "noiseFigure", u.nf, "dB");
    }
    doc.endObject();
}

// A run's verdict against the limits: overall, per result, the limits in force, or why
// there is none.
void writeVerdict(Json &doc, const ResultVerdict &v)
{
    doc.key("verdict").beginObject();
    doc.key("overall").value(verdictText(v.overall));
    doc.key("noiseFigure").value(verdictText(v.nf)).key("gain").value(verdictText(v.gain));
    doc.key("nfMaxDb").value(v.limits.nfMaxDb).key("gainMinDb").value(v.limits.gainMinDb);
    doc.key("gainMaxDb").value(v.limits.gainMaxDb).key("message").value(v.message);
    doc.endObject();
}

// "Verdict: PASS (noise figure PASS, gain INDETERMINATE)", or the table's message.
void printVerdict(const ResultVerdict &v)
{
    if (v.overall == Verdict::None) {
        if (!v.message.empty())
            std::printf("Verdict: none. %s\n", v.message.c_str());
        return;
    }
    std::string parts;
    if (v.nf != Verdict::None)
        parts += "noise figure " + std::string(verdictText(v.nf));
    if (v.gain != Verdict::None)
        parts += (parts.empty() ? "gain " : ", gain ") + std::string(verdictText(v.gain));
    std::printf("Verdict: %s (%s)\n", std::string(verdictText(v.overall)).c_str(),
                parts.c_str());
}

// A Calibrate Noise Source run's computed ENR and its uncertainty.
void writeCalibration(Json &doc, const MeasureRun &run)
{
    const CalibrationResults &res = run.evaluation.calibration;
    doc.key("results").beginObject().key("complete").value(res.complete);
    doc.key("enrDb").value(res.enr.enrDb).key("valid").value(res.enr.valid).endObject();
    const CalibrationUncertainty &u = run.uncertainty.calibration;
    doc.key("uncertainty").beginObject().key("complete").value(u.complete);
    if (u.complete)
        writeUncertain(doc, "enrDb", u.enrDb, "dB");
    doc.endObject();
}

// The window's texts, each reading and each series as it completes.
class TextOutput : public MeasureOutput
{
public:
    explicit TextOutput(const MeasureRequest &request) : m_request(request) {}

    void seriesStarted(int pass) override
    {
        if (m_request.repeat != 1)
            std::printf("Run %d\n", pass + 1);
    }

    void readingTaken(const MeasureReading &reading) override
    {
        std::printf("%s:%s\n",
                    std::string(seriesReadingLabel(m_request.kind, reading.number)).c_str(),
                    readingText(reading.power, m_request.decimals).c_str());
    }
    void seriesComplete(const MeasureRun &run) override
    {
        if (run.cutShort)
            return;
        if (m_request.kind == SeriesKind::Calibration) {
            std::printf("Computed ENR (dB):%s\n", run.evaluation.calibrationTexts.enr.c_str());
            if (run.uncertainty.complete)
                printHalfWidths("Computed ENR (dB)", run.uncertainty.calibration.enrDb, "dB");
        } else {
            const bool systemMode = m_request.systemMode;
            const DeviceResultTexts &t = run.evaluation.deviceTexts;
            if (!systemMode)
                std::printf("Gain (dB):%s\n", t.gain.c_str());
            std::printf("Noise Temp (K):%s\n", t.te.c_str());
            std::printf("Noise Factor:%s\n", t.f.c_str());
            std::printf("Noise Figure (dB):%s\n", t.nf.c_str());
            const DeviceResultsUncertainty &u = run.uncertainty.device;
            if (u.complete) {
                if (!systemMode)
                    printHalfWidths("Gain (dB)", u.gainDb, "dB");
                printHalfWidths("Noise Temp (K)", u.te, "K");
                printHalfWidths("Noise Factor", u.f, "");
                printHalfWidths("Noise Figure (dB)", u.nf, "dB");
            }
            const ChainCorrections applied =
                appliedCorrections(m_request.corrections, systemMode);
            if (applied.any())
                std::printf("%s\n", correctedForText(applied).c_str());
            if (m_request.limits.limits.any())
                printVerdict(run.verdict);
        }
        const std::string warnings = warningText(run.warnings);
        std::size_t at = 0;
        while (at < warnings.size()) {
            const std::size_t end = std::min(warnings.find('\n', at), warnings.size());
            std::printf("Warning: %s\n", warnings.substr(at, end - at).c_str());
            at = end + 1;
        }
        std::fflush(stdout);
    }
    void finished(const MeasureResult &result) override
    {
        if (m_request.limits.limits.any() && m_request.repeat != 1)
            std::printf("Verdicts: %s\n", result.verdicts.summary().c_str());
        if (!m_request.capture.onBench || result.cancelled)
            return;
        const BenchTruth &truth = result.benchTruth;
        if (m_request.kind == SeriesKind::Calibration)
            std::printf("Virtual bench truth: unknown source ENR %s dB\n",
                        fixed(truth.unknownEnrDb, 3).c_str());
        else if (m_request.systemMode)
            std::printf("Virtual bench truth: system NF %s dB\n",
                        fixed(truth.receiverNfDb, 3).c_str());
        else
            std::printf("Virtual bench truth: DUT gain %s dB, DUT NF %s dB\n",
                        fixed(truth.dutGainDb, 3).c_str(), fixed(truth.dutNfDb, 3).c_str());
        if (m_request.kind == SeriesKind::Device && !m_request.systemMode &&
            result.benchChain.any())
            std::printf("Virtual bench uncorrected reading: DUT gain %s dB, DUT NF %s dB\n",
                        fixed(truth.uncorrectedDutGainDb, 3).c_str(),
                        fixed(truth.uncorrectedDutNfDb, 3).c_str());
    }

private:
    const MeasureRequest &m_request;
};

// One JSON document of the request and every run, streamed: the head first, each run into
// "runs" as it ends (then forgotten), the rest when the command ends, after a stop signal or
// a failure too. A SIGKILL leaves the document open after the last whole run.
class JsonOutput : public MeasureOutput
{
public:
    explicit JsonOutput(const MeasureRequest &request) : m_request(request) {}

    void begin(const std::string &deviceName) override;
    void seriesComplete(const MeasureRun &run) override;
    void finished(const MeasureResult &result) override;
    void failed() override;

private:
    void write();
    const MeasureRequest &m_request;
    Json m_doc;
};

void JsonOutput::write()
{
    m_doc.flush(stdout);
    std::fflush(stdout);
}

void JsonOutput::begin(const std::string &deviceName)
{
    const CaptureRequest &c = m_request.capture;
    const ReadingPlan &plan = c.plan;
    const bool systemMode = m_request.systemMode;
    const int row = c.formatRow;
    Json &doc = m_doc;
    doc.beginObject();
    doc.key("device").beginObject().key("number").value(c.device).key("name").value(deviceName);
    doc.key("virtualBench").value(c.onBench).endObject();
    doc.key("format").beginObject().key("row").value(row);
    doc.key("label").value(WaveFormatTable[static_cast<std::size_t>(row)].label).endObject();
    doc.key("captureTimeMs")
        .value(static_cast<int>(c.captureTimeMs))
        .key("dummyReads")
        .value(plan.dummyReads);
    doc.key("averageCount")
        .value(ModalReading::countedBlocks(plan))
        .key("highPass")
        .value(c.highPass);
    if (plan.precision) {
        doc.key("precisionDb").value(plan.precision->target.halfWidthDb);
        doc.key("maxTimeS").value(plan.precision->target.maxSeconds);
    }
    doc.key("autoDummy").value(plan.autoDummy);
    if (m_request.kind == SeriesKind::Device)
        doc.key("driftOrder").value(m_request.driftOrder);
    doc.key("enrUncertaintyDb").value(m_request.stated.enrDb);
    doc.key("tsOffUncertaintyK").value(m_request.stated.offTemperatureK);
    const bool calibration = m_request.kind == SeriesKind::Calibration;
    if (!calibration)
        doc.key("systemMode").value(systemMode);
    doc.key("switchPort").value(c.switchPort);
    doc.key("enrDb").value(m_request.enrDb).key("tsOff").value(c.tsOff).key("t0").value(c.t0);
    if (calibration)
        doc.key("tsOffUnknown").value(m_request.tsOffUnknown);
    else
        writeCorrectionsJson(doc, appliedCorrections(m_request.corrections, systemMode));
    if (!calibration) {
        const LimitRequest &l = m_request.limits;
        doc.key("dut").beginObject().key("name").value(l.dut.name);
        doc.key("serial").value(l.dut.serial).key("notes").value(l.dut.notes).endObject();
        doc.key("limits").beginObject().key("nfMaxDb").value(l.limits.nfMaxDb);
        doc.key("gainMinDb").value(l.limits.gainMinDb).key("gainMaxDb").value(l.limits.gainMaxDb);
        doc.key("file").value(l.limits.tableFile).key("frequencyMHz").value(m_request.frequencyMHz);
        doc.endObject();
    }
    // "interrupted" follows the runs: it is known only at the end.
    doc.key("runs").beginArray();
    write();
}

void JsonOutput::seriesComplete(const MeasureRun &run)
{
    const bool calibration = m_request.kind == SeriesKind::Calibration;
    Json &doc = m_doc;
    doc.beginObject().key("cutShort").value(run.cutShort).key("readings").beginArray();
    for (const MeasureReading &r : run.readings) {
        doc.beginObject().key("reading").value(r.number);
        doc.key("label").value(seriesReadingLabel(m_request.kind, r.number));
        doc.key("power").value(r.power).key("dB").value(10.0 * std::log10(r.power));
        doc.key("valid").value(YFactorMath::readingInRange(r.power));
        doc.key("blocks").value(r.blocks).key("autoDummies").value(r.autoDummies);
        doc.key("dummies").value(r.dummies);
        doc.key("blockPowers").beginArray();
        for (const double p : r.blockPowers)
            doc.value(p);
        doc.endArray();
        const ReadingStatistics &st = r.statistics;
        doc.key("statistics").beginObject();
        doc.key("relativeStandardError").value(st.relativeStandardError);
        doc.key("degreesOfFreedom").value(st.degreesOfFreedom);
        doc.key("effectiveSamples").value(st.effectiveSamples);
        doc.key("kurtosis").value(st.kurtosis).key("peak").value(st.peak);
        doc.key("crestFactor").value(st.crestFactor).endObject();
        writeWarnings(doc, r.warnings);
        doc.endObject();
    }
    doc.endArray();
    if (calibration)
        writeCalibration(doc, run);
    else
        writeDevice(doc, run, m_request.systemMode);
    if (!calibration && m_request.limits.limits.any() && !run.cutShort)
        writeVerdict(doc, run.verdict);
    writeWarnings(doc, run.warnings);
    doc.endObject();
    write();
}

void JsonOutput::finished(const MeasureResult &result)
{
    const bool calibration = m_request.kind == SeriesKind::Calibration;
    Json &doc = m_doc;
    doc.endArray();
    doc.key("interrupted").value(result.cancelled);
    if (m_request.limits.limits.any())
        doc.key("verdicts").value(result.verdicts.summary());
    if (m_request.capture.onBench) {
        const BenchTruth &truth = result.benchTruth;
        doc.key("benchTruth").beginObject();
        if (calibration) {
            doc.key("referenceEnrDb").value(truth.referenceEnrDb);
            doc.key("unknownEnrDb").value(truth.unknownEnrDb).endObject();
        } else {
            doc.key("dutGainDb").value(truth.dutGainDb).key("dutNfDb").value(truth.dutNfDb);
            doc.key("dutTeK").value(truth.dutTeK).key("receiverNfDb").value(truth.receiverNfDb);
            doc.key("receiverTeK").value(truth.receiverTeK);
            doc.key("uncorrectedDutGainDb").value(truth.uncorrectedDutGainDb);
            doc.key("uncorrectedDutNfDb").value(truth.uncorrectedDutNfDb);
            doc.key("inputFrequencyMHz").value(truth.inputFrequencyMHz).endObject();
        }
    }
    doc.endObject();
    std::fputs(doc.text().c_str(), stdout);
    std::fflush(stdout);
}

void JsonOutput::failed()
{
    // The runs so far stay a valid document; the error line on stderr says what failed.
    m_doc.endArray().key("interrupted").value(false).endObject();
    std::fputs(m_doc.text().c_str(), stdout);
    std::fflush(stdout);
}

} // namespace

std::unique_ptr<MeasureOutput> makeMeasureTextOutput(const MeasureRequest &request)
{
    return std::make_unique<TextOutput>(request);
}

std::unique_ptr<MeasureOutput> makeMeasureJsonOutput(const MeasureRequest &request)
{
    return std::make_unique<JsonOutput>(request);
}

} // namespace quillon::cli
