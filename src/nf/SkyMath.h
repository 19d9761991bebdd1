#pragma once

#include "nf/Uncertainty.h"

#include <string>
#include <vector>

namespace quillon {

// Y-factor measurements of a whole receiving system, antenna included, on natural noise
// sources: the Sun, the Moon, the cold sky and the warm ground. Pure formulas: numbers in,
// results or one message out.
//
// Units: frequencies in MHz, angles in degrees, temperatures in kelvin, flux densities in
// solar flux units (1 sfu = 1e-22 W m^-2 Hz^-1), Y linear unless a name says dB, G/T in
// dB/K. Uncertainties are standard uncertainties (Uncertain) with 95% half-widths from
// coverageFactor95; stated values are 95% half-widths (k = 2).

inline constexpr double kBoltzmann = 1.380649e-23;   // J/K
inline constexpr double kSpeedOfLight = 299792458.0; // m/s
inline constexpr double kSolarFluxUnit = 1e-22;      // W m^-2 Hz^-1

// Default brightness temperature of the Moon's disk, K: the mean over a lunation at
// centimetre and decimetre wavelengths (the disk's temperature at those wavelengths follows
// the phase only weakly, about 200 to 250 K).
inline constexpr double kDefaultMoonTemperatureK = 225.0;
// Defaults of the cold sky and ground measurement: the ground seen by the whole beam at its
// physical temperature, and the cold sky away from the Milky Way above about 1 GHz.
inline constexpr double kDefaultGroundTemperatureK = 290.0;
inline constexpr double kDefaultColdSkyTemperatureK = 10.0;
// Mean radius of the Sun and the Moon, km; the astronomical unit, km.
inline constexpr double kSunRadiusKm = 695700.0;
inline constexpr double kMoonRadiusKm = 1737.4;
inline constexpr double kAstronomicalUnitKm = 149597870.7;

// A result or the one message that says why there is none.
struct SkyValue
{
    double value = 0.0;
    std::string error; // empty: value is good
    bool ok() const { return error.empty(); }
};

// Beam-size correction K of a uniform disk of angular diameter `sourceDeg` in a Gaussian
// beam of half-power width `beamDeg`: how much more a point source of the same flux would
// raise the antenna temperature. K = x^2 / (1 - exp(-x^2)), x^2 = ln2 (sourceDeg/beamDeg)^2;
// 1 for a point source, (derived in SkyMath.cpp). Messages for a diameter < 0 or a
// beamwidth <= 0.
SkyValue beamCorrection(double sourceDeg, double beamDeg);

// Angular diameter (degrees) of a sphere of `radiusKm` at `distanceKm` from the observer.
double angularDiameterDeg(double radiusKm, double distanceKm);

// One published solar flux value: frequency (MHz) and flux (sfu).
struct FluxPoint
{
    double frequencyMHz = 0.0;
    double fluxSfu = 0.0;
};

// The Sun's flux at `frequencyMHz`, log-log interpolated between the two published
// frequencies around it (a single point at exactly that frequency is taken as it is).
// `sourceLowMHz`/`sourceHighMHz` name the published frequencies used.
struct FluxAt
{
    double fluxSfu = 0.0;
    double sourceLowMHz = 0.0;
    double sourceHighMHz = 0.0;
    std::string error;
    bool ok() const { return error.empty(); }
};
FluxAt fluxAt(std::vector<FluxPoint> points, double frequencyMHz);

// Reads "245:18, 410:33, 1415:80" (MHz:sfu, separated by commas or blanks); a message names
// the item that is not a pair of numbers.
FluxAt parseFluxTable(const std::string &text, std::vector<FluxPoint> &points);

// The two readings of a sky measurement, linear powers with their errors: on the source
// (Sun, Moon, ground) and on cold sky.
struct SkyReadings
{
    double hotPower = 0.0;
    double coldPower = 0.0;
    ReadingError hotError;
    ReadingError coldError;
};

// Sun. `fluxSfu` at the frequency, `fluxUncertaintyPercent` its stated 95% half-width,
// `k` the beam-size correction, `gainDbi` the antenna gain (NaN: not known).
struct SunInput
{
    double frequencyMHz = 0.0;
    double fluxSfu = 0.0;
    double fluxUncertaintyPercent = 0.0;
    double k = 1.0;
    double gainDbi = std::numeric_limits<double>::quiet_NaN();
};
struct SunResult
{
    std::string error; // one message, no numbers, when the input or Y is unusable
    Uncertain yDb;     // statistical only
    Uncertain gOverTDbK;
    Uncertain antennaRiseK; // with a gain: the antenna temperature the Sun adds
    Uncertain tsysK;        // with a gain: the system temperature on cold sky
    bool ok() const { return error.empty(); }
};
// G/T = 8 pi k (Y - 1) K / (S lambda^2); with a gain G: rise = G S lambda^2 / (8 pi k K),
// Tsys = G / (G/T).
SunResult sunResult(const SkyReadings &r, const SunInput &in);

// Moon: the measured Y against the Y expected of a disk at `moonTemperatureK` of angular
// diameter `moonDiameterDeg` in the beam, over a cold sky of `skyTemperatureK` which the
// disk hides, with system temperature `tsysK` (NaN: not known, no expected Y).
struct MoonInput
{
    double moonTemperatureK = kDefaultMoonTemperatureK;
    double skyTemperatureK = kDefaultColdSkyTemperatureK;
    double moonDiameterDeg = 0.5;
    double beamDeg = 0.0;
    double tsysK = std::numeric_limits<double>::quiet_NaN();
};
struct MoonResult
{
    std::string error;
    Uncertain yDb;              // measured
    double expectedRiseK = 0.0; // (Tmoon - Tsky) (1 - exp(-x^2))
    double expectedYDb = std::numeric_limits<double>::quiet_NaN();
    Uncertain impliedTsysK; // the rise over (Y - 1)
    bool ok() const { return error.empty(); }
};
MoonResult moonResult(const SkyReadings &r, const MoonInput &in);

// Cold sky and ground: the ground is the hot load, the sky the cold one. The receiver's
// (and feed's) Te = (Tg - Y Ts)/(Y - 1); the system temperature on cold sky Tsys = Te + Ts =
// (Tg - Ts)/(Y - 1). Stated 95% half-widths of the two temperatures in K.
struct GroundInput
{
    double groundTemperatureK = kDefaultGroundTemperatureK;
    double skyTemperatureK = kDefaultColdSkyTemperatureK;
    double groundUncertaintyK = 0.0;
    double skyUncertaintyK = 0.0;
};
struct GroundResult
{
    std::string error;
    Uncertain yDb;
    Uncertain receiverTeK;
    Uncertain tsysK;
    bool ok() const { return error.empty(); }
};
GroundResult groundResult(const SkyReadings &r, const GroundInput &in);

} // namespace quillon
