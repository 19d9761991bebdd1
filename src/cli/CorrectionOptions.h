#pragma once

#include "measure/CorrectionSettings.h"

#include <functional>
#include <string_view>
#include <vector>

namespace quillon {
class QuillonEngine;
}

namespace quillon::cli {

struct CaptureRequest;

class Json;
class Options;
struct CaptureRequest;

// The correction options of measure, sweep, live and calc, one set for all four:
//   --loss-before DB[@K]      a fixed loss between the noise source and the DUT, at K kelvin
//                             (290 when left out)
//   --loss-after DB[@K]       between the DUT and the receiver
//   --loss-cal DB[@K]         in the calibration path (DUT out of circuit)
//   --loss-file-before FILE[@K], --loss-file-after FILE[@K], --loss-file-cal FILE[@K]
//                             the same as a table against frequency (the ENR file's format:
//                             MHz, loss dB, optional standard uncertainty dB)
//   --lo MHZ                  the DUT is a converter with its LO at MHZ
//   --sideband upper|lower|double   its input above or below the LO, or both bands equally
//                             (default upper)
//   --image-rejection DB      single sideband: the image band DB below the signal's
//                             (default 100, all but perfect)
//   --no-corrections          none, whatever is stored
// Without any of them the stored ones (settings group "Corrections") apply.
void addCorrectionOptionNames(std::vector<std::string_view> &valued,
                              std::vector<std::string_view> &flags);

// The entries the options (or the store) give. Throws CliError for text that is not a
// number or a sideband, or a loss given both fixed and as a table; the values themselves are
// checked where they are resolved.
CorrectionSettings parseCorrectionOptions(const Options &o, const CorrectionSettings &stored);

// The stored entries (the window's "Corrections" group).
CorrectionSettings storedCorrectionSettings();

// Reads the tables and resolves the entries at the receiver's frequency `outputMHz`, the
// ENR at the converter's frequencies from `enrAt`. Throws CliError with the engine's
// message (status 2) when an entry is refused: no result is computed from it.
ChainCorrections resolveCorrectionsOrThrow(const CorrectionSettings &settings, LossTables &tables,
                                           double outputMHz,
                                           const std::function<double(double)> &enrAt);

// measure and live: the corrections of the options (or the store) resolved at the receiver's
// frequency: where the ENR file is read, else the bench's tuning, else the one stored with
// the corrections; the bench's own source (no --enr, --enr-file or --freq) gives its ENR
// curve at a converter's frequencies. Nothing entered: none. Throws as
// resolveCorrectionsOrThrow.
ChainCorrections capturedCorrections(const Options &o, const CaptureRequest &capture,
                                     QuillonEngine &engine);

// "corrections": {"correctedFor": text, "inputLoss"/"outputLoss"/"calibrationLoss":
// {"db", "temperatureK", "uncertaintyDb"} or null, "converter": {"loMHz", "sideband",
// "imageRejectionDb", "inputMHz", "imageMHz", "outputMHz", "enrSignalDb", "enrImageDb"} or
// null}; null when nothing is corrected for.
void writeCorrectionsJson(Json &doc, const ChainCorrections &corrections);

} // namespace quillon::cli
