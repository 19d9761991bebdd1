// quillon-cli sweep: noise figure and gain against frequency, the receiver tuned per point.

#include "cli/CaptureOptions.h"
#include "cli/CliSupport.h"
#include "cli/CorrectionOptions.h"
#include "cli/Commands.h"
#include "cli/Json.h"
#include "cli/LimitOptions.h"
#include "core/Messages.h"
#include "core/SettingsRecord.h"
#include "core/SettingsStore.h"
#include "measure/QuillonEngine.h"
#include "measure/SweepPlan.h"
#include "measure/SweepReport.h"
#include "measure/SweepRunner.h"
#include "nf/Uncertainty.h"
#include "rig/RigControl.h"
#include "rig/RigKinds.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace quillon::cli {

namespace {

// Where --csv cannot be written, the message to refuse it with before the first point; empty
// when it can: "-" (standard output), a device or FIFO open for writing, or a file whose
// folder exists and takes new files (the file is replaced through one beside it).
std::string csvPathProblem(const std::string &path)
{
    if (path == "-")
        return {};
    auto refused = [&](const std::string &reason) {
        return "The CSV file \"" + path + "\" could not be written: " + reason + ".";
    };
    struct stat st{};
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return refused("it is a folder");
        if (!S_ISREG(st.st_mode)) // a device or a FIFO: written directly, never replaced
            return ::access(path.c_str(), W_OK) == 0 ? std::string() : refused(std::strerror(errno));
    }
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    const std::string folder = parent.empty() ? "." : parent.string();
    if (::stat(folder.c_str(), &st) != 0)
        return refused("its folder " + folder + ": " + std::strerror(errno));
    if (!S_ISDIR(st.st_mode))
        return refused(folder + " is not a folder");
    // A file made there and removed again: permissions alone do not tell (root, read-only
    // mounts, /proc).
    std::string probe = folder + "/.quillon-csv-XXXXXX";
    const int fd = ::mkstemp(probe.data());
    if (fd < 0)
        return refused("its folder " + folder + ": " + std::strerror(errno));
    ::close(fd);
    ::unlink(probe.c_str());
    return {};
}

// A regular file (or a path not there yet) is rewritten whole after every point, each time
// replacing the last; a device, a FIFO or standard output gets the CSV once, at the end.
bool csvAfterEveryPoint(const std::string &path)
{
    struct stat st{};
    return path != "-" && (::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode));
}

// Why a point has no noise figure (over range, a reading or result out of range), or empty
// for a point that has one.
std::string pointFailure(const SweepRow &r)
{
    if (std::isfinite(r.nfDb))
        return {};
    return r.warnings.empty() ? "no result" : r.warnings;
}

// "1.234 ± 0.012": a value and its standard uncertainty, or "-" for a value not available.
std::string withUncertainty(double value, double u, int decimals)
{
    if (!std::isfinite(value))
        return "-";
    std::string text = fixed(value, decimals);
    if (std::isfinite(u))
        text += " ± " + fixed(u, decimals);
    return text;
}

std::string pointLine(const SweepRow &r)
{
    std::string line = fixed(r.frequencyMHz, 6) + " MHz  ENR " + fixed(r.enrDb, 3) + " dB  NF " +
                       withUncertainty(r.nfDb, r.nfUncertaintyDb, 3) + " dB  Gain " +
                       withUncertainty(r.gainDb, r.gainUncertaintyDb, 3) + " dB  Te " +
                       withUncertainty(r.teK, r.teUncertaintyK, 1) + " K";
    if (!r.warnings.empty())
        line += "  (" + r.warnings + ")";
    if (!r.correctedFor.empty())
        line += "  [" + r.correctedFor + "]";
    return line;
}

// A point's verdict against the limits at its frequency.
ResultVerdict pointVerdict(const Limits &limits, const SweepRow &r)
{
    return verdictFor(limits, r.frequencyMHz, r.nfDb, r.nfHalfWidth95Db, r.gainDb,
                      r.gainHalfWidth95Db);
}

RigMode modeArg(const Options &o, RigMode stored)
{
    const auto text = o.text("mode");
    if (!text)
        return stored;
    if (*text == "usb" || *text == "USB")
        return RigMode::Usb;
    if (*text == "cw" || *text == "CW")
        return RigMode::Cw;
    throw CliError("--mode must be usb or cw");
}

// A sweep switches through the stored port (its --port names the receiver) and reads the ENR
// at each point; averaging is always on, or to a precision.
constexpr CaptureOptionSet kSweepOptions{false, true, EnrLookup::AtEachPoint, true};

} // namespace

int runSweep(const std::vector<std::string> &args)
{
    std::vector<std::string_view> valued{"start", "stop", "step", "list",   "rig", "model",
                                         "port",  "baud", "mode", "settle", "csv"};
    std::vector<std::string_view> flags{"json"};
    addCaptureOptionNames(kSweepOptions, valued, flags);
    addCorrectionOptionNames(valued, flags);
    addLimitOptionNames(valued, true);
    const Options o("sweep", args, valued, flags);
    if (o.flag("help"))
        return printHelp("sweep");
    if (!o.positional().empty())
        throw CliError("sweep takes no argument '" + o.positional().front() + "'");

    // The frequencies.
    SweepConfig config;
    SweepPlanResult planned;
    if (const auto list = o.text("list")) {
        if (o.has("start") || o.has("stop") || o.has("step"))
            throw CliError("give --list or --start, --stop and --step, not both");
        planned = planSweepList(*list, config.frequenciesMHz);
    } else {
        const auto start = o.number("start"), stop = o.number("stop"), step = o.number("step");
        if (!start || !stop || (!step && *start != *stop))
            throw CliError("give --start, --stop and --step in MHz, or --list");
        planned = planSweep(*start, *stop, step.value_or(0.0), config.frequenciesMHz);
    }
    if (!planned.ok())
        throw CliError(planned.message);

    const LimitRequest limits = parseLimitOptions(o);
    CommandEngine command(o);
    QuillonEngine &engine = command.engine;
    const CaptureRequest request = parseCaptureOptions(o, kSweepOptions, engine);
    const bool onBench = request.onBench;
    if (!onBench && !automationPresentFor(request.switchPort))
        throw CliError("a sweep needs a switch port for the noise source and the DUT (set it "
                       "on the Setup page)");
    config.plan = request.plan;
    if (request.plan.precision)
        config.precision = request.plan.precision->target;

    // The receiver: the bench by default on the bench, else the stored "Receiver" group.
    {
        SettingsStore store(kReceiverGroup);
        config.rig = loadRigSettings(store);
    }
    if (onBench && !o.has("rig"))
        config.rig.kind = RigKind::VirtualBench;
    if (const auto rig = o.text("rig")) {
        const std::optional<RigKind> kind = rigKindFromCliName(*rig);
        if (!kind)
            throw CliError("--rig must be " + rigKindCliNames());
        config.rig.kind = *kind;
    }
    if (config.rig.kind == RigKind::VirtualBench && !onBench)
        throw CliError("--rig bench tunes the virtual bench: measure it (leave out --device)");
    config.rig.hamlibModel = o.integer("model", 1, 999'999).value_or(config.rig.hamlibModel);
    config.rig.port = o.text("port").value_or(config.rig.port);
    config.rig.baudRate = o.integer("baud", 0, 10'000'000).value_or(config.rig.baudRate);
    config.rig.mode = modeArg(o, config.rig.mode);
    config.settleMs = o.integer("settle", 0, 600'000).value_or(0);

    // The noise source at each point, and the temperatures.
    setSweepEnr(request.enr, config);
    config.tsOff = request.tsOff;
    config.t0 = request.t0;
    config.tsOffUncertaintyK = request.tsOffUncertaintyK;
    config.driftOrder = SettingsStore().read(keys::DriftCancellingOrder) != 0;

    // The corrections, checked at every point before the first is measured: a table that
    // does not cover one refuses the sweep (status 2) rather than stopping it half-way.
    config.corrections = parseCorrectionOptions(o, storedCorrectionSettings());
    for (double f : config.frequenciesMHz) {
        const auto enrAt = [&config](double mhz) {
            return config.useEnrFile ? enrForEntry(mhz, true, config.enrTable) : config.typedEnrDb;
        };
        resolveCorrectionsOrThrow(config.corrections, config.lossTables, f, enrAt);
    }

    const std::string csv = o.text("csv").value_or("");
    if (o.has("csv") && csv.empty())
        throw CliError("--csv needs a file name");
    const BenchParameters bench = engine.bench().parameters();
    applyCaptureRequest(request, engine);
    Settings &s = engine.settings();
    if (!request.logFile)
        s.logMeasurements = false;
    config.settings = s;
    const bool json = o.flag("json");

    if (!csv.empty())
        if (const std::string problem = csvPathProblem(csv); !problem.empty())
            throw CliError(problem);
    const bool csvAsWeGo = !csv.empty() && csvAfterEveryPoint(csv);

    // The report states the sweep's settings as it ran with them.
    const std::optional<SweepConfig> reportConfig =
        limits.reportFile ? std::optional<SweepConfig>(config) : std::nullopt;
    SweepRunner runner(engine);
    SweepOutcome outcome;
    runner.setFinishedHook([&outcome](const SweepOutcome &done) { outcome = done; });
    catchStopSignals();
    runner.start(std::move(config));
    std::size_t printed = 0;
    std::size_t written = 0; // rows in the CSV file so far
    std::string csvFailure;  // why the CSV could not be written; ends the sweep
    int interruptsSeen = 0;
    for (bool ended = false; !ended;) {
        ended = runner.waitFinished(std::chrono::milliseconds(100));
        const int interrupts = stopSignalCount();
        if (interrupts != interruptsSeen) {
            interruptsSeen = interrupts;
            // The first stop signal completes the point being read, a second drops it.
            if (interrupts == 1)
                runner.requestStop();
            else
                runner.abort();
        }
        const std::vector<SweepRow> rows = runner.rows();
        for (; !json && printed < rows.size(); ++printed) {
            std::string line = pointLine(rows[printed]);
            if (limits.limits.any()) {
                const ResultVerdict v = pointVerdict(limits.limits, rows[printed]);
                line += "  " + (v.overall != Verdict::None ? std::string(verdictText(v.overall))
                                : v.message.empty()           ? std::string("no verdict")
                                                              : v.message);
            }
            std::printf("%s\n", line.c_str());
        }
        std::fflush(stdout);
        // The file is replaced whole each time: a kill loses at most the point being read.
        if (csvAsWeGo && csvFailure.empty() && written < rows.size()) {
            csvFailure = writeSweepCsv(csv, rows);
            written = rows.size();
            if (!csvFailure.empty())
                runner.requestStop();
        }
    }
    restoreStopSignals();
    const std::vector<SweepRow> rows = runner.rows();
    VerdictCounts verdicts;
    for (const SweepRow &r : rows)
        verdicts.add(pointVerdict(limits.limits, r).overall);

    std::vector<std::pair<double, std::string>> failedPoints; // frequency, why
    for (const SweepRow &r : rows)
        if (const std::string why = pointFailure(r); !why.empty())
            failedPoints.emplace_back(r.frequencyMHz, why);
    int status = kExitOk;
    std::string error;
    SweepEnd end = outcome.end;
    if (outcome.end == SweepEnd::Failed) {
        status = kExitFailed;
        error = outcome.message;
    } else if (outcome.end == SweepEnd::Stopped && stopSignal() != 0) {
        status = stopStatus();
        error = "sweep cancelled";
    } else if (!failedPoints.empty()) {
        status = kExitFailed;
        end = SweepEnd::Failed;
    }
    if (!csv.empty() && csvFailure.empty() && (!csvAsWeGo || written < rows.size() || rows.empty()))
        csvFailure = writeSweepCsv(csv, rows);
    if (!csvFailure.empty()) {
        printError(csvFailure);
        status = kExitFailed;
    }
    if (reportConfig) {
        ReportData report = sweepReportData(*reportConfig, rows, limits.limits, limits.dut);
        if (!report.results.empty()) {
            report.dateTime = reportDateTime();
            DeviceCaps caps;
            engine.devices().deviceCaps(request.device, caps);
            report.soundDevice =
                caps.productName.empty() && onBench ? "Quillon virtual bench" : caps.productName;
            if (reportConfig->useEnrFile)
                report.enrFile = o.text("enr-file").value_or(s.enrCalibrationFile);
            // The results are printed; a report that cannot be written leaves no file.
            if (const std::string failed = writeReport(*limits.reportFile, report);
                !failed.empty()) {
                printError(failed);
                status = kExitFailed;
            }
        }
    }
    if (status == kExitOk)
        status = verdictExitStatus(limits.limits, verdicts);
    if (limits.limits.any() && !json)
        std::printf("Verdicts: %s\n", verdicts.summary().c_str());
    if (json) {
        Json out;
        out.beginObject();
        out.key("ended").value(end == SweepEnd::Complete  ? "complete"
                               : end == SweepEnd::Stopped ? "stopped"
                                                          : "failed");
        out.key("message").value(outcome.message);
        out.key("virtualBench").value(onBench);
        if (limits.limits.any())
            out.key("verdicts").value(verdicts.summary());
        out.key("dut").beginObject().key("name").value(limits.dut.name);
        out.key("serial").value(limits.dut.serial).key("notes").value(limits.dut.notes).endObject();
        out.key("points").beginArray();
        for (const SweepRow &r : rows) {
            out.beginObject().key("frequencyMHz").value(r.frequencyMHz);
            out.key("enrDb").value(r.enrDb);
            out.key("enrUncertaintyDb").value(request.enr.uncertaintyDbAt(r.frequencyMHz));
            out.key("nfDb").value(r.nfDb);
            out.key("gainDb").value(r.gainDb).key("teK").value(r.teK);
            out.key("nfUncertaintyDb").value(r.nfUncertaintyDb);
            out.key("gainUncertaintyDb").value(r.gainUncertaintyDb);
            out.key("teUncertaintyK").value(r.teUncertaintyK);
            out.key("warnings").value(r.warnings);
            if (!r.correctedFor.empty()) {
                out.key("inputFrequencyMHz").value(r.inputFrequencyMHz);
                out.key("inputLossDb").value(r.inputLossDb);
                out.key("outputLossDb").value(r.outputLossDb);
                out.key("calibrationLossDb").value(r.calibrationLossDb);
                out.key("correctedFor").value(r.correctedFor);
            }
            if (limits.limits.any()) {
                const ResultVerdict v = pointVerdict(limits.limits, r);
                out.key("verdict").beginObject().key("overall").value(verdictText(v.overall));
                out.key("noiseFigure").value(verdictText(v.nf)).key("gain").value(verdictText(v.gain));
                out.key("nfMaxDb").value(v.limits.nfMaxDb).key("gainMinDb").value(v.limits.gainMinDb);
                out.key("gainMaxDb").value(v.limits.gainMaxDb).key("message").value(v.message);
                out.endObject();
            }
            if (onBench) {
                const BenchTruth t = computeTruth(bench, r.frequencyMHz);
                out.key("benchTruth").beginObject().key("dutNfDb").value(t.dutNfDb);
                out.key("dutGainDb").value(t.dutGainDb).key("dutTeK").value(t.dutTeK);
                if (bench.chain.any()) {
                    out.key("uncorrectedDutNfDb").value(t.uncorrectedDutNfDb);
                    out.key("uncorrectedDutGainDb").value(t.uncorrectedDutGainDb);
                }
                out.endObject();
            }
            out.endObject();
        }
        out.endArray();
        out.key("failedPoints").beginArray();
        for (const auto &[frequencyMHz, why] : failedPoints)
            out.beginObject().key("frequencyMHz").value(frequencyMHz).key("reason").value(why).endObject();
        out.endArray().endObject();
        std::fputs(out.text().c_str(), stdout);
    }
    for (const auto &[frequencyMHz, why] : failedPoints)
        printError("point " + fixed(frequencyMHz, 6) + " MHz failed: " + why);
    if (!error.empty())
        printError(error);
    return status;
}

} // namespace quillon::cli
