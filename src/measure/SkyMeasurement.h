#pragma once

#include "capture/ReadingStatistics.h"
#include "measure/SkyPosition.h"
#include "nf/SkyMath.h"

#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

// One measurement of the Antenna and Sky page or `quillon-cli sky`: two readings of a sky
// series (SeriesKind::Sky, the source and cold sky) evaluated with what the user gives, and
// recorded with everything that makes it comparable with another day's: the UTC time, the
// frequency, the flux and where it came from, the source's position, the beam and K, the
// readings with their statistics and the results with their 95% half-widths.

enum class SkyTarget
{
    Sun,
    Moon,
    Ground // cold sky and ground
};
// "Sun", "Moon", "Ground": the log's and the CLI's name; nullopt for any other text.
std::string_view skyTargetName(SkyTarget target);
std::optional<SkyTarget> skyTargetFromName(std::string_view name);

inline constexpr double kSkyNaN = std::numeric_limits<double>::quiet_NaN();

// What the user gives. NaN = not given.
struct SkySetup
{
    SkyTarget target = SkyTarget::Sun;
    double unixSeconds = 0.0; // UTC time of the measurement, s since 1970
    double frequencyMHz = kSkyNaN;
    std::optional<Station> station; // where: the Sun's and the Moon's elevation
    double beamDeg = kSkyNaN;       // half-power beamwidth
    // Sun
    std::vector<FluxPoint> flux; // one value at the frequency, or published values around it
    double fluxUncertaintyPercent = 0.0; // 95% half-width of the flux
    double k = kSkyNaN;                  // typed beam-size correction; NaN: from the beam
    double sunDiameterDeg = kSkyNaN;     // the radio Sun's diameter; NaN: the optical disk
    double gainDbi = kSkyNaN;
    // Moon
    double moonTemperatureK = kDefaultMoonTemperatureK;
    double tsysK = kSkyNaN;
    // Moon and ground: the cold sky; ground: the hot load
    double skyTemperatureK = kDefaultColdSkyTemperatureK;
    double groundTemperatureK = kDefaultGroundTemperatureK;
    double skyUncertaintyK = 0.0;
    double groundUncertaintyK = 0.0;
};

// One reading as recorded.
struct SkyReadingRecord
{
    double power = 0.0; // mean linear power, full-scale units
    int blocks = 0;
    ReadingStatistics statistics;
};

struct SkyRecord
{
    std::string error; // one message and no results when the input or the readings are unusable
    SkyTarget target = SkyTarget::Sun;
    double unixSeconds = 0.0;
    std::string utcText; // "2026-12-07T04:31:06Z"
    double frequencyMHz = kSkyNaN;
    double fluxSfu = kSkyNaN; // at the frequency
    double fluxSourceLowMHz = kSkyNaN;
    double fluxSourceHighMHz = kSkyNaN; // == low when published at the frequency itself
    double fluxUncertaintyPercent = 0.0;
    double azimuthDeg = kSkyNaN; // of the source (Sun, Moon) where the station is known
    double elevationDeg = kSkyNaN;
    double sourceDiameterDeg = kSkyNaN;
    double beamDeg = kSkyNaN;
    double k = kSkyNaN;
    bool kTyped = false;
    SkyReadingRecord hot;  // on the source
    SkyReadingRecord cold; // on cold sky
    SunResult sun;
    MoonResult moon;
    GroundResult ground;
    bool ok() const { return error.empty(); }
};

// The measurement of `setup` from the two readings. Positions from libnova at the setup's time.
SkyRecord evaluateSky(const SkySetup &setup, const SkyReadingRecord &hot,
                      const SkyReadingRecord &cold);

// The setup's checks alone, before any reading is taken: the first message, or empty.
std::string checkSkySetup(const SkySetup &setup);

// "2026-12-07T04:31:06Z".
std::string utcText(double unixSeconds);

// The results as text lines, as the page and `quillon-cli sky` show them:
//   "G/T: -1.47 dB/K ± 0.21 dB (95%)" ...
std::vector<std::string> skyResultLines(const SkyRecord &record);

// The record as rows of a report's table (name, text), in the order a reader compares two
// measurements by: what was measured and when, the conditions, the readings, the results with
// their 95% half-widths (or the one message). For the HTML and JSON report, which calls this
// for each sky measurement it holds.
struct SkyReportRow
{
    std::string name;
    std::string text;
};
std::vector<SkyReportRow> skyReportRows(const SkyRecord &record);

// The fields of the measurement's "SKY" log line after its time (MeasurementLog::appendSky):
//   <target>,<UTC>,<MHz>,<flux sfu>,<flux source MHz>,<flux 95% %>,<az>,<el>,<source deg>,
//   <beam deg>,<K>,<on dB>,<on rel. error>,<on blocks>,<cold dB>,<cold rel. error>,
//   <cold blocks>,<Y dB>,<Y 95% dB>,<result>,<result 95%>,<result 2>,<result 2 95%>
// 95% values are total half-widths (the flux's and the temperatures' stated parts in).
// Unknown values are empty; a Sun line's results are G/T (dB/K) and Tsys (K, with a gain), a
// Moon line's the expected Y (dB, with a Tsys; no half-width) and the Tsys the Moon implies
// (K), a ground line's Tsys on cold sky and the receiver's Te (K).
std::string skyLogFields(const SkyRecord &record);

} // namespace quillon
