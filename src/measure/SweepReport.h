#pragma once

#include "measure/Report.h"
#include "measure/SweepRunner.h"

#include <string>
#include <vector>

namespace quillon {

// The report of a sweep: its settings from the configuration it ran with (format, capture
// time, blocks, switch port, receiver control and, through hamlib, hamlib's version,
// temperatures, the ENR file's rows that the points read), each point that has complete
// readings as one result (recomputed from them against `limits`, as quillon-cli recompute
// does), and the points' "corrected for" lines, each once. The caller adds the date, the
// sound device's name and the ENR file's name. Any thread.
ReportData sweepReportData(const SweepConfig &config, const std::vector<SweepRow> &rows,
                           const Limits &limits, const DutRecord &dut);

// What the points of a sweep are corrected for, as the Sweep page shows it: the one "corrected
// for" line (Measure Device's) when every point has the same, else, where a loss table or a
// converter's ENR makes them differ, each point's line after its frequency, one point a line
// in the order measured ("144.000 MHz: corrected for: output loss 0.90 dB at 280 K"); "" when
// no point is corrected. Any thread.
std::string sweepCorrectedForText(const std::vector<SweepRow> &rows);

// The receiver control as the report names it: "none (tuned by hand)", "Virtual bench",
// "hamlib model 2 at localhost:4532".
std::string rigReportText(const RigSettings &rig);

} // namespace quillon
