// libFuzzer target for the ENR calibration file reader. Any byte string is a possible
// calibration file; the reader must end every one of them in one of its thirteen result
// codes without crashing or reading out of bounds (AddressSanitizer and UBSan watch the
// latter), and what it leaves in the table must satisfy the table's invariants.

#include "core/Messages.h"
#include "nf/EnrTable.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

[[noreturn]] void fail(const char *what, int code)
{
    std::fprintf(stderr, "enr_fuzzer: %s (result %d)\n", what, code);
    std::abort();
}

bool isResultCode(int code)
{
    return code == quillon::kMsgNone ||
           (code >= quillon::kMsgEnrCannotOpen && code <= quillon::kMsgEnrNoData) ||
           code == quillon::kMsgEnrNotANumber || code == quillon::kMsgEnrUncertaintyRange;
}

// The table this input left behind must be what the result says.
void checkTable(const quillon::EnrTable &table, int code)
{
    using quillon::EnrTable;
    if (code != quillon::kMsgNone) {
        if (table.count != 0)
            fail("a failed read left rows in the table", code);
        return;
    }
    if (table.count < 1 || table.count > EnrTable::kMaxRows)
        fail("a successful read left a row count outside 1..1023", code);
    for (int i = 0; i < table.count; ++i) {
        const auto &row = table.rows[static_cast<std::size_t>(i)];
        if (!(row.frequencyMHz >= 0.0 && row.frequencyMHz <= 30000.0))
            fail("a stored frequency is out of range", code);
        if (!(row.enrDb >= 0.0 && row.enrDb <= 50.0))
            fail("a stored ENR is out of range", code);
        if (!(row.uncertaintyDb >= 0.0 && row.uncertaintyDb <= quillon::kEnrMaxUncertaintyDb))
            fail("a stored ENR uncertainty is out of range", code);
        if (i > 0 && table.rows[static_cast<std::size_t>(i - 1)].frequencyMHz > row.frequencyMHz)
            fail("the rows are not sorted by frequency", code);
    }
    const auto &terminator = table.rows[static_cast<std::size_t>(table.count)];
    if (terminator.frequencyMHz != 0.0 || terminator.enrDb != 0.0)
        fail("no terminator row after the last row", code);

    // Every lookup stays between the smallest and largest ENR of the table.
    double lowest = table.rows[0].enrDb;
    double highest = lowest;
    for (int i = 1; i < table.count; ++i) {
        lowest = std::fmin(lowest, table.rows[static_cast<std::size_t>(i)].enrDb);
        highest = std::fmax(highest, table.rows[static_cast<std::size_t>(i)].enrDb);
    }
    const double probes[] = {-1.0,
                             0.0,
                             table.rows[0].frequencyMHz,
                             (table.rows[0].frequencyMHz +
                              table.rows[static_cast<std::size_t>(table.count - 1)].frequencyMHz) /
                                 2.0,
                             table.rows[static_cast<std::size_t>(table.count / 2)].frequencyMHz,
                             30000.0,
                             INFINITY,
                             NAN};
    for (double probe : probes) {
        const double enr = quillon::enrForEntry(probe, true, table);
        if (!(enr >= lowest && enr <= highest))
            fail("a lookup left the table's ENR range", code);
        // No uncertainty, or one between the rows' smallest given one and the limit.
        const double u = quillon::enrUncertaintyForEntry(probe, true, table);
        if (!std::isnan(u) && !(u > 0.0 && u <= quillon::kEnrMaxUncertaintyDb))
            fail("an uncertainty lookup gave an impossible value", code);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static quillon::EnrTable table; // reused, as the program reuses its one table
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    const int code = quillon::parseEnrData(bytes, table);
    if (!isResultCode(code))
        fail("result is not one of the reader's codes", code);
    // A buffer cannot fail to open or to read, and has no file name to miss.
    if (code == quillon::kMsgEnrCannotOpen || code == quillon::kMsgEnrReadError ||
        code == quillon::kMsgEnrNoFile)
        fail("a file-only result came from a buffer", code);
    checkTable(table, code);
    return 0;
}
