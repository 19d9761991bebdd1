#pragma once

// The report of the Antenna and Sky page and `quillon-cli sky --report`: the measurements
// taken (the Sun, the Moon, cold sky and ground, each at most once) with everything that makes
// them comparable with another day's, as one self-contained HTML5 file and a JSON file beside
// it with the same numbers, written as the device report's two files are (writeReportFiles).
// Pure functions but writeSkyReport(); any thread.

#include "measure/PrecisionRule.h"
#include "measure/Report.h"
#include "measure/SkyMeasurement.h"

#include <optional>
#include <string>
#include <vector>

namespace quillon {

struct SkyReportData
{
    std::string dateTime; // local, "2026-12-07 04:55:12"
    std::string version = quillonVersionText();
    std::string station; // the locator as typed, or "" where none was given
    std::string soundDevice;
    std::string format; // the format table's label
    int captureTimeMs = 1000;
    int dummyReads = 0;
    int averageCount = 1; // blocks counted per reading without a precision target
    bool highPass = false;
    // Averaging to a precision of Y: its statistical 95% half-width (dB) and the longest
    // counted time of one reading (s); none without a target.
    std::optional<PrecisionTarget> precision;
    std::vector<SkyRecord> records; // in the order Sun, Moon, ground; failed ones included
};

std::string skyReportHtml(const SkyReportData &data);
std::string skyReportJson(const SkyReportData &data);

// Both files (see writeReportFiles): empty on success, else the one message for the user.
std::string writeSkyReport(const std::string &htmlPath, const SkyReportData &data);

} // namespace quillon
