// quillon-cli measure: the reading loop, the window's "Measure" of the Measure Device page with
// both automations on.

#include "cli/MeasureSeries.h"
#include "cli/CliSupport.h"
#include "core/Messages.h"
#include "measure/MeasurementLog.h"
#include "measure/ModalReading.h"
#include "measure/QuillonEngine.h"
#include "measure/SeriesRunner.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <poll.h>
#include <string>
#include <unistd.h>

namespace quillon::cli {

namespace {

// SIGINT, SIGTERM or SIGHUP has come.
bool interrupted()
{
    return stopSignal() != 0;
}

// One answer to a switch prompt: a line of standard input, read a byte at a time (nothing is
// held back in a buffer between prompts) and waited for in steps of 100 ms, so that Ctrl-C
// stops the wait whichever thread the signal lands on.
enum class Answer
{
    Line,
    EndOfInput,
    Interrupted
};

Answer readAnswer()
{
    for (;;) {
        if (interrupted())
            return Answer::Interrupted;
        pollfd in{STDIN_FILENO, POLLIN, 0};
        if (::poll(&in, 1, 100) <= 0)
            continue; // timeout, or EINTR from the signal itself
        char c = 0;
        const ssize_t got = ::read(STDIN_FILENO, &c, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return Answer::EndOfInput;
        if (c == '\n')
            return Answer::Line;
    }
}

// What the user is asked to set when no switch port drives the outputs.
std::string switchPrompt(SeriesKind kind, int reading)
{
    const DeviceSwitchState st = deviceReadingSwitches(reading);
    if (kind == SeriesKind::Calibration)
        return std::string("Connect the ") + (st.dutIn ? "unknown" : "calibrated") +
               " noise source, switch it " + (st.noiseOn ? "ON" : "OFF") + ", then press Enter: ";
    return std::string("Set the noise source ") + (st.noiseOn ? "ON" : "OFF") + " and the DUT " +
           (st.dutIn ? "in circuit" : "out of circuit") + ", then press Enter: ";
}

// What the command shows of the series: the prompts, the progress line on a terminal, and
// each reading and series through the output.
class CliListener : public SeriesListener
{
public:
    CliListener(const MeasureRequest &request, bool prompt, MeasureOutput &output)
        : m_request(request), m_prompt(prompt), m_output(output),
          m_showProgress(isatty(STDERR_FILENO) != 0 && !request.json)
    {
    }

    bool beforeReading(int reading, std::string_view label) override
    {
        if (interrupted())
            return false;
        if (!m_inPass) {
            m_inPass = true;
            m_output.seriesStarted(m_passes);
        }
        if (m_prompt) {
            std::fputs(switchPrompt(m_request.kind, reading).c_str(), stderr);
            const Answer answer = readAnswer();
            if (answer == Answer::Interrupted)
                std::fputs("\n", stderr);
            if (answer == Answer::EndOfInput)
                m_noAnswer = true;
            if (answer != Answer::Line)
                return false;
        }
        m_label = label;
        return true;
    }
    bool waitSlice(ModalReading &reading, std::chrono::milliseconds slice) override
    {
        reading.waitFinished(slice);
        if (!interrupted())
            return true;
        if (m_showProgress)
            std::fputs("\n", stderr);
        return false;
    }
    void afterReading(int) override
    {
        if (m_showProgress)
            std::fprintf(stderr, "\r%-40s\r", "");
    }
    void progress(const ReadingProgress &p) override // delivery thread
    {
        if (m_showProgress)
            std::fprintf(stderr, "\r%-40s", readingProgressText(p, m_label).c_str());
    }
    void readingDone(const SeriesReadingReport &r) override
    {
        MeasureReading taken;
        taken.number = r.reading;
        taken.power = r.power;
        taken.blocks = r.blocks;
        taken.autoDummies = r.autoDummies;
        taken.dummies = r.dummies;
        taken.blockPowers = r.blockPowers;
        taken.statistics = r.statistics;
        taken.warnings = r.warnings;
        m_output.readingTaken(taken);
        m_readings.push_back(std::move(taken));
    }
    void passDone(const SeriesPassReport &pass) override
    {
        MeasureRun run;
        run.cutShort = pass.cutShort;
        run.readings = std::move(m_readings);
        run.evaluation = pass.evaluation;
        run.uncertainty = pass.uncertainty;
        run.warnings = pass.warnings;
        if (!run.cutShort && m_request.kind == SeriesKind::Device) {
            const DeviceResults &res = run.evaluation.device;
            const DeviceResultsUncertainty &u = run.uncertainty.device;
            const bool nfShown = res.complete && res.noise.valid;
            const bool gainShown = res.complete && !m_request.systemMode && res.gainValid;
            run.verdict = verdictFor(m_request.limits.limits, m_request.frequencyMHz,
                                     nfShown ? res.noise.nf : LimitRow::kNone,
                                     u.nf.totalHalfWidth(),
                                     gainShown ? res.gainDb : LimitRow::kNone,
                                     u.gainDb.totalHalfWidth());
            if (res.complete)
                m_verdicts.add(run.verdict.overall);
            if (m_request.limits.reportFile)
                m_reportResults.push_back(reportResult(run));
        }
        m_readings.clear();
        m_inPass = false;
        ++m_passes;
        m_output.seriesComplete(run); // printed, then forgotten: memory stays flat
    }

    int passes() const { return m_passes; }
    bool noAnswer() const { return m_noAnswer; }
    const VerdictCounts &verdicts() const { return m_verdicts; }
    std::vector<ReportResult> takeReportResults() { return std::move(m_reportResults); }

private:
    const MeasureRequest &m_request;
    const bool m_prompt;
    MeasureOutput &m_output;
    const bool m_showProgress;
    std::string_view m_label; // one of the static labels; read by progress() meanwhile
    bool m_inPass = false;
    bool m_noAnswer = false;
    std::vector<MeasureReading> m_readings; // of the pass in progress
    int m_passes = 0;                       // passes reported, the one cut short included
    VerdictCounts m_verdicts;
    std::vector<ReportResult> m_reportResults; // --report: the complete runs

    // A run as the report keeps it: its readings and conditions; the numbers are computed
    // again from them (fillReportResult), as quillon-cli recompute does.
    ReportResult reportResult(const MeasureRun &run) const
    {
        ReportResult r;
        r.label = "Run " + std::to_string(m_passes + 1); // m_passes counts the runs before
        r.frequencyMHz = m_request.frequencyMHz;
        r.enrDb = m_request.enrDb;
        r.stated = m_request.stated;
        for (const MeasureReading &x : run.readings) {
            ReportReading reading;
            reading.number = x.number;
            reading.label = std::string(seriesReadingLabel(m_request.kind, x.number));
            reading.power = x.power;
            reading.blocks = x.blocks;
            reading.statistics = x.statistics;
            reading.warnings = warningList(x.warnings);
            r.readings.push_back(std::move(reading));
        }
        r.warnings = warningList(run.warnings);
        r.corrections = appliedCorrections(m_request.corrections, m_request.systemMode);
        r.drift = run.uncertainty.drift;
        const CaptureRequest &c = m_request.capture;
        fillReportResult(r, m_request.systemMode, c.t0, c.tsOff, m_request.limits.limits);
        return r;
    }
    static std::vector<std::string> warningList(const ReadingWarnings &w)
    {
        std::vector<std::string> list;
        const std::string text = warningText(w);
        std::size_t at = 0;
        while (at < text.size()) {
            const std::size_t end = std::min(text.find('\n', at), text.size());
            list.push_back(text.substr(at, end - at));
            at = end + 1;
        }
        return list;
    }
};

} // namespace

MeasureResult takeMeasureSeries(const MeasureRequest &request, QuillonEngine &engine,
                                MeasureOutput &output)
{
    const Settings &s = engine.settings();
    const CaptureRequest &c = request.capture;
    SeriesPlan plan;
    plan.conditions = {request.kind, request.systemMode, request.enrDb, c.t0, c.tsOff,
                       request.tsOffUnknown, request.corrections};
    plan.stated = request.stated;
    // The window's "Measure" of the first reading with every automation on.
    plan.noiseGen = plan.dutSwitch = true;
    plan.driveSwitches = s.switchPortChosen;
    plan.passes = request.repeat;
    plan.enrFrequencyMHz = c.enr.fromFile ? c.enr.frequencyMHz : PrecisionReading::kNaN;
    plan.reading = c.plan;
    plan.driftOrder = request.driftOrder;
    if (c.plan.precision)
        plan.precision = c.plan.precision->target;

    catchStopSignals();
    SeriesRunner runner(engine, s, engine.resultLine());
    SeriesReadings readings(request.kind);
    CliListener listener(request, !s.switchPortChosen, output);
    const SeriesOutcome outcome = runner.run(plan, readings, listener);

    MeasureResult result;
    result.runs = listener.passes();
    result.cancelled = outcome.end == SeriesEnd::Cancelled;
    result.verdicts = listener.verdicts();
    result.reportResults = listener.takeReportResults();
    if (listener.noAnswer())
        throw CliError("no switch port drives the noise source and the DUT: give --port, or "
                       "answer the prompts on standard input");
    if (outcome.end == SeriesEnd::Failed)
        throw CliError(messageText(outcome.messageId != kMsgNone ? outcome.messageId
                                                                 : kMsgCannotOpenWaveDevice),
                       kExitFailed);
    return result;
}

} // namespace quillon::cli
