// quillon-cli bench: the virtual bench's true answers for its current settings.

#include "bench/VirtualBench.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "cli/Json.h"
#include "core/SettingsStore.h"

#include <QSettings>

#include <cstdio>

namespace quillon::cli {

int runBench(const std::vector<std::string> &args)
{
    const Options o("bench", args, {}, {"json"});
    if (o.flag("help"))
        return printHelp("bench");
    if (!o.positional().empty())
        throw CliError("bench takes no argument '" + o.positional().front() + "'");

    // The bench's own group of the window program's store, read as the window program reads it.
    VirtualBench bench;
    {
        SettingsStore store;
        QSettings raw(store.qsettings().organizationName(), store.qsettings().applicationName());
        bench.load(raw);
    }
    const BenchParameters &p = bench.parameters();
    const BenchTruth t = bench.truth();
    if (!o.flag("json")) {
        std::fputs(formatTruth(p, t).c_str(), stdout);
        return kExitOk;
    }

    const bool dut = p.dutSwitchSelects == DutSwitchSelects::Dut;
    Json doc;
    doc.beginObject().key("parameters").beginObject();
    doc.key("referenceEnrDb").value(p.referenceEnrDb).key("unknownEnrDb").value(p.unknownEnrDb);
    doc.key("sourceOffTemperatureK").value(p.sourceOffTemperatureK);
    doc.key("receiverNfDb").value(p.receiverNfDb).key("dutGainDb").value(p.dutGainDb);
    doc.key("dutNfDb")
        .value(p.dutNfDb)
        .key("dutSwitchSelects")
        .value(dut ? "DUT" : "UnknownSource");
    doc.key("passbandLowHz").value(p.passbandLowHz).key("passbandHighHz").value(p.passbandHighHz);
    doc.key("loudestLevelDbfs").value(p.loudestLevelDbfs).key("humOn").value(p.humOn);
    doc.key("humDbfs").value(p.humDbfs);
    const BenchChain &c = p.chain;
    doc.key("inputLossDb").value(c.inputLossDb);
    doc.key("inputLossTemperatureK").value(c.inputLossTemperatureK);
    doc.key("outputLossDb").value(c.outputLossDb);
    doc.key("outputLossTemperatureK").value(c.outputLossTemperatureK);
    doc.key("calibrationLossDb").value(c.calibrationLossDb);
    doc.key("calibrationLossTemperatureK").value(c.calibrationLossTemperatureK);
    doc.key("converterOn").value(c.converterOn).key("converterLoMHz").value(c.converterLoMHz);
    doc.key("converterSideband").value(benchSidebandName(c.sideband));
    doc.key("imageRejectionDb").value(c.imageRejectionDb).endObject();
    doc.key("truth").beginObject().key("t0").value(kBenchT0);
    doc.key("offTemperatureK").value(t.offTemperatureK);
    doc.key("hotReferenceK").value(t.hotReferenceK).key("hotUnknownK").value(t.hotUnknownK);
    doc.key("unknownEnrDb").value(t.unknownEnrDb);
    doc.key("receiverTeK").value(t.receiverTeK).key("receiverNfDb").value(t.receiverNfDb);
    doc.key("dutTeK").value(t.dutTeK).key("dutNfDb").value(t.dutNfDb);
    doc.key("dutGain").value(t.dutGain).key("dutGainDb").value(t.dutGainDb);
    doc.key("chainTeK").value(t.chainTeK).key("chainNfDb").value(t.chainNfDb);
    doc.key("ySystem").value(t.ySystem).key("yDutOutput").value(t.yDutOutput);
    doc.key("humPower").value(t.humPower);
    doc.key("inputFrequencyMHz").value(t.inputFrequencyMHz);
    doc.key("imageFrequencyMHz").value(t.imageFrequencyMHz);
    doc.key("enrSignalDb").value(t.enrSignalDb).key("enrImageDb").value(t.enrImageDb);
    doc.key("uncorrectedDutNfDb").value(t.uncorrectedDutNfDb);
    doc.key("uncorrectedDutGainDb").value(t.uncorrectedDutGainDb);
    // In the order of the table and of the Measure Device page's readings.
    doc.key("states").beginArray();
    for (const int i : {1, 0, 3, 2}) {
        const SwitchStateTruth &st = t.states[static_cast<std::size_t>(i)];
        doc.beginObject().key("noiseOn").value(st.noiseOn).key("dutSwitchOn").value(st.dutIn);
        doc.key("noiseTemperatureK").value(st.noiseTemperatureK);
        doc.key("power").value(st.power).key("levelDbfs").value(st.levelDbfs).endObject();
    }
    doc.endArray().endObject().endObject();
    std::fputs(doc.text().c_str(), stdout);
    return kExitOk;
}

} // namespace quillon::cli
