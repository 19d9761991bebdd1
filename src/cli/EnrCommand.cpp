// quillon-cli enr: read an ENR calibration file, print its table and interpolated ENRs.

#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "cli/Json.h"
#include "core/Messages.h"
#include "nf/EnrTable.h"

#include <cstdio>
#include <memory>

namespace quillon::cli {

int runEnr(const std::vector<std::string> &args)
{
    const Options o("enr", args, {}, {"json"});
    if (o.flag("help"))
        return printHelp("enr");
    if (o.positional().empty())
        throw CliError("enr needs the calibration file: quillon-cli enr FILE [FREQ_MHZ...]");
    const std::string &path = o.positional().front();
    std::vector<double> frequencies;
    for (std::size_t i = 1; i < o.positional().size(); ++i) {
        const double f = parseNumberArg(o.positional()[i], "a frequency (MHz)");
        if (!(f >= 0.0 && f <= 30000.0))
            throw CliError("frequency " + o.positional()[i] + " MHz is outside 0 to 30000 MHz");
        frequencies.push_back(f);
    }

    auto table = std::make_unique<EnrTable>(); // 16 KiB: not on the stack
    const int rc = parseEnrFile(path, *table);
    if (rc != kMsgNone)
        throw CliError(enrReadMessage(rc, *table), kExitBadInput);

    if (o.flag("json")) {
        Json doc;
        doc.beginObject().key("file").value(path).key("rows").beginArray();
        for (int i = 0; i < table->count; ++i) {
            const EnrRow &row = table->rows[static_cast<std::size_t>(i)];
            doc.beginObject().key("frequencyMHz").value(row.frequencyMHz);
            doc.key("enrDb").value(row.enrDb).endObject();
        }
        doc.endArray().key("lookups").beginArray();
        for (const double f : frequencies) {
            doc.beginObject().key("frequencyMHz").value(f);
            doc.key("enrDb").value(enrForEntry(f, true, *table)).endObject();
        }
        doc.endArray().endObject();
        std::fputs(doc.text().c_str(), stdout);
        return kExitOk;
    }

    std::printf("%s: %d rows\n", path.c_str(), static_cast<int>(table->count));
    std::printf("%12s %10s\n", "Freq (MHz)", "ENR (dB)");
    for (int i = 0; i < table->count; ++i) {
        const EnrRow &row = table->rows[static_cast<std::size_t>(i)];
        std::printf("%12s %10s\n", fixed(row.frequencyMHz, 3).c_str(), fixed(row.enrDb, 3).c_str());
    }
    for (const double f : frequencies)
        std::printf("ENR at %s MHz: %s\n", fixed(f, 3).c_str(),
                    fixed(enrForEntry(f, true, *table), 3).c_str());
    return kExitOk;
}

} // namespace quillon::cli
