#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quillon {

// Where to point the antenna: the Sun's and the Moon's positions for a station and a time,
// from libnova (Meeus' algorithms; VSOP87 for the Sun, ELP 2000-82B for the Moon). Pure
// functions, any thread.

// A place on the Earth: degrees, north and east positive; height above sea level in m.
struct Station
{
    double latitudeDeg = 0.0;
    double longitudeDeg = 0.0;
    double heightM = 0.0;
};

// A Maidenhead locator (2, 4, 6 or 8 characters, letters in either case: "JO", "IO91",
// "IO91wm", "IO91wm48") as the centre of its square, or the message that it is not one.
struct LocatorResult
{
    Station station;
    std::string error;
    bool ok() const { return error.empty(); }
};
LocatorResult parseLocator(std::string_view text);

// Latitude and longitude typed as decimal degrees, checked (-90..90, -180..180).
LocatorResult stationFromDegrees(double latitudeDeg, double longitudeDeg);

// The Julian day (UT) of a time in seconds since 1970-01-01 00:00 UTC.
double julianDayFromUnix(double unixSeconds);

// One body as the station sees it: topocentric (the Moon's parallax applied), without
// refraction. Azimuth 0..360 from north through east; elevation -90..90.
struct BodyPosition
{
    double azimuthDeg = 0.0;
    double elevationDeg = 0.0;
    bool aboveHorizon = false;      // elevation > 0
    double rightAscensionDeg = 0.0; // geocentric, mean equinox of date
    double declinationDeg = 0.0;
    double distanceKm = 0.0;  // from the Earth's centre
    double diameterDeg = 0.0; // angular diameter seen from the station
};

struct SkyPositions
{
    double julianDay = 0.0;
    BodyPosition sun;
    BodyPosition moon;
};
SkyPositions skyPositions(const Station &station, double julianDay);

// The horizontal position (azimuth from north, elevation) of apparent equatorial
// coordinates of date seen from `station` at `julianDay` (UT).
void horizontalFromEquatorial(double rightAscensionDeg, double declinationDeg,
                              const Station &station, double julianDay, double &azimuthDeg,
                              double &elevationDeg);

} // namespace quillon
