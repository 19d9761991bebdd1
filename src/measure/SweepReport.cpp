#include "measure/SweepReport.h"

#include "capture/WaveFormat.h"
#include "core/NumberText.h"
#include "rig/HamlibRig.h"
#include "rig/RigKinds.h"

#include <algorithm>

namespace quillon {

std::string rigReportText(const RigSettings &rig)
{
    switch (rig.kind) {
    case RigKind::None:
        return "none (tuned by hand)";
    case RigKind::VirtualBench:
        return "Virtual bench";
    case RigKind::Hamlib:
        return "hamlib model " + std::to_string(rig.hamlibModel) +
               (rig.port.empty() ? std::string() : " at " + rig.port);
    }
    return {};
}

std::string sweepCorrectedForText(const std::vector<SweepRow> &rows)
{
    const auto corrected = [](const SweepRow &r) { return !r.correctedFor.empty(); };
    const auto first = std::find_if(rows.begin(), rows.end(), corrected);
    if (first == rows.end())
        return {};
    if (std::all_of(first, rows.end(), [&](const SweepRow &r) {
            return !corrected(r) || r.correctedFor == first->correctedFor;
        }))
        return first->correctedFor;
    std::string text;
    for (auto r = first; r != rows.end(); ++r) {
        if (!corrected(*r))
            continue;
        if (!text.empty())
            text += '\n';
        text += formatFixed(r->frequencyMHz, 3) + " MHz: " + r->correctedFor;
    }
    return text;
}

ReportData sweepReportData(const SweepConfig &config, const std::vector<SweepRow> &rows,
                           const Limits &limits, const DutRecord &dut)
{
    const Settings &s = config.settings;
    ReportData d;
    d.page = "Sweep";
    d.dut = dut;
    if (s.waveInFormat >= 0 && s.waveInFormat < kWaveFormatCount)
        d.format = WaveFormatTable[static_cast<std::size_t>(s.waveInFormat)].label;
    d.captureTimeMs = static_cast<int>(s.captureTimeMs);
    d.dummyReads = config.plan.dummyReads;
    d.averageCount = ModalReading::countedBlocks(config.plan);
    d.highPass = s.highPassFilter;
    d.switchPort = s.switchPortName;
    d.rig = rigReportText(config.rig);
    if (config.rig.kind == RigKind::Hamlib)
        d.hamlibVersion = hamlibVersionText();
    d.systemMode = false;
    d.tsOff = config.tsOff;
    d.t0 = config.t0;
    d.enrFromFile = config.useEnrFile;
    d.limits = limits;
    for (const SweepRow &row : rows) {
        if (row.report.readings.empty())
            continue; // no complete series: nothing the report can recompute
        ReportResult r = row.report;
        fillReportResult(r, false, d.t0, d.tsOff, d.limits);
        if (config.useEnrFile)
            for (const EnrRow &e : enrRowsUsed(config.enrTable, r.frequencyMHz))
                if (std::none_of(d.enrRows.begin(), d.enrRows.end(), [&e](const EnrRow &x) {
                        return x.frequencyMHz == e.frequencyMHz;
                    }))
                    d.enrRows.push_back(e);
        const std::string correctedFor = correctedForText(r.corrections);
        if (!correctedFor.empty() && std::find(d.corrections.begin(), d.corrections.end(),
                                               correctedFor) == d.corrections.end())
            d.corrections.push_back(correctedFor);
        d.results.push_back(std::move(r));
    }
    std::sort(d.enrRows.begin(), d.enrRows.end(),
              [](const EnrRow &a, const EnrRow &b) { return a.frequencyMHz < b.frequencyMHz; });
    return d;
}

} // namespace quillon
