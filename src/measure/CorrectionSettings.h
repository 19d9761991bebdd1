#pragma once

#include "core/Result.h"
#include "core/SettingsStore.h"
#include "nf/Corrections.h"
#include "nf/EnrTable.h"

#include <array>
#include <functional>
#include <memory>
#include <string>

namespace quillon {

// The correction chain as the user enters it, kept in the per-user store in a group of its
// own beside "Setup", and resolved at the frequency of each measurement into the numbers
// the series applies (ChainCorrections). Any thread; the store's functions on the window
// thread, as the store.

inline constexpr const char *kCorrectionsGroup = "Corrections";

// One loss entry: off, a fixed value or a table against frequency (the ENR file's format:
// MHz, loss dB, optional standard uncertainty dB), at its physical temperature.
struct LossSetting
{
    bool on = false;
    bool fromTable = false;      // the table in `file`; else `db`
    double db = 0.0;             // dB
    std::string file;            // a loss table
    double temperatureK = 290.0; // K
};

// Keys, by place: "<Prefix>On", "<Prefix>Db", "<Prefix>UseFile", "<Prefix>File",
// "<Prefix>TemperatureK" with the prefixes "InputLoss", "OutputLoss", "CalibrationLoss";
// the converter's "ConverterOn", "ConverterLoMHz", "ConverterSideband" ("upper", "lower",
// "double"), "ImageRejectionDb"; and "FrequencyMHz", where the receiver listens when the
// ENR entry does not say (no calibration file in use).
struct CorrectionSettings
{
    std::array<LossSetting, kLossPlaceCount> loss{}; // by LossPlace
    ConverterPlan converter;
    double frequencyMHz = 144.0;

    const LossSetting &at(LossPlace p) const { return loss[static_cast<std::size_t>(p)]; }
    LossSetting &at(LossPlace p) { return loss[static_cast<std::size_t>(p)]; }
    bool any() const;
};

// The stored name of a sideband and back ("upper", "lower", "double"); an unknown name reads
// as Upper and says so through `known`.
const char *sidebandName(Sideband sideband);
Sideband sidebandFromName(const std::string &name, bool *known = nullptr);

// `store` is opened on kCorrectionsGroup. Values are loaded as stored, even out of range:
// resolving them refuses them with a message, so none is used silently.
CorrectionSettings loadCorrectionSettings(const SettingsStore &store);
Result saveCorrectionSettings(SettingsStore &store, const CorrectionSettings &settings);

// The loss tables the settings name, read once (a sweep looks them up at every point).
struct LossTables
{
    std::array<std::shared_ptr<const EnrTable>, kLossPlaceCount> table{};
};

// Reads the tables of the entries that use one. On failure the Result's code is
// kMsgLossTableUnreadable and its detail the whole message for the user, naming the entry
// and the file and ending with the reader's own message ("Input loss table loss.txt: the
// loss table cannot be read: A line in the calibration file was missing a frequency (line
// 3)").
Result readLossTables(const CorrectionSettings &settings, LossTables &tables);

// The corrections at the receiver's frequency `outputMHz`: each loss checked and looked up
// (the input loss at the converter's input frequency, the output and calibration path
// losses at the output), the converter checked, and the ENR at its signal and image
// frequencies taken from `enrAt` (MHz in, dB out; the series' own ENR is the one at
// outputMHz). On failure the Result's code is the message number and its detail the whole
// message, naming the entry ("Output loss: the physical temperature must be above 0 K.");
// `out` is then not to be used.
Result resolveCorrections(const CorrectionSettings &settings, const LossTables &tables,
                          double outputMHz, const std::function<double(double)> &enrAt,
                          ChainCorrections &out);

// What a log line carries after its results (which end with ","): "corrected for: input
// loss 0.40 dB at 300 K; output loss ..." (the corrected-for text with its parts joined by
// "; ", so that it is one field), "" when nothing is corrected for.
std::string correctionsLogText(const ChainCorrections &corrections);

} // namespace quillon
