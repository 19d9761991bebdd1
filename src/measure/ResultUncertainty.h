#pragma once

#include "capture/ReadingStatistics.h"
#include "measure/ReadingGuards.h"
#include "nf/NoiseResults.h"
#include "nf/Uncertainty.h"

#include <array>
#include <string>

namespace quillon {

// What the Measure Device and Calibrate Noise Source pages and quillon-cli measure show
// beside each result: its 95% half-widths as "± x dB (95%)" texts, statistical and total,
// and the warnings of the readings behind it. Any thread; pure functions.

// The noise of one reading for the propagation: its relative standard error and that
// error's degrees of freedom (an unmeasured error counts as 0 with infinite degrees).
ReadingError readingError(const ReadingStatistics &s);
// A reading taken in two halves (the drift-cancelling order): its mean power is the
// block-weighted mean of the halves', and its error theirs combined, each half with its own
// scatter (a level that differs between the halves is the drift, not noise of the mean).
ReadingError halvesError(const ReadingStatistics &first, const ReadingStatistics &second);

// One result's two half-width texts ("" when it has none).
struct HalfWidthTexts
{
    std::string statistical;
    std::string total;
};
HalfWidthTexts halfWidthTexts(const Uncertain &u, std::string_view unit);

// Measure Device: gain in dB (empty in system mode), Te in K, F without a unit, NF in dB.
struct DeviceUncertaintyTexts
{
    bool complete = false;
    HalfWidthTexts gain;
    HalfWidthTexts te;
    HalfWidthTexts f;
    HalfWidthTexts nf;
};
DeviceUncertaintyTexts deviceUncertaintyTexts(const DeviceResultsUncertainty &u);

// Calibrate Noise Source: the unknown source's ENR from readings 0..3 (reference ON, OFF,
// unknown ON, OFF); `complete` needs all four. Texts in dB.
struct CalibrationUncertainty
{
    bool complete = false;
    Uncertain enrDb;
    HalfWidthTexts texts;
};
CalibrationUncertainty
calibrationUncertainty(const std::array<double, kDeviceReadingCount> &power,
                       const std::array<ReadingError, kDeviceReadingCount> &error,
                       const std::array<bool, kDeviceReadingCount> &present, double referenceEnrDb,
                       double tsOffReference, double tsOffUnknown, double t0,
                       const StatedUncertainty &stated, const DriftTerm &drift = {});

// The warnings of the readings present, merged (a warning shows once however many readings
// raise it).
ReadingWarnings mergedWarnings(const std::array<ReadingWarnings, kDeviceReadingCount> &warnings,
                               const std::array<bool, kDeviceReadingCount> &present);

} // namespace quillon
