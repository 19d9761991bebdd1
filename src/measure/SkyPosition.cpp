#include "measure/SkyPosition.h"

#include "nf/SkyMath.h"

#include <libnova/earth.h>
#include <libnova/julian_day.h>
#include <libnova/lunar.h>
#include <libnova/parallax.h>
#include <libnova/precession.h>
#include <libnova/solar.h>
#include <libnova/transform.h>

#include <cctype>
#include <cmath>

namespace quillon {

namespace {

constexpr const char *kNotALocator =
    "The locator is not a Maidenhead locator (two letters A-R, two digits, two letters A-X, "
    "two digits: JO01, IO91wm, IO91wm48).";

} // namespace

LocatorResult parseLocator(std::string_view text)
{
    LocatorResult r;
    const std::size_t n = text.size();
    if (n != 2 && n != 4 && n != 6 && n != 8) {
        r.error = kNotALocator;
        return r;
    }
    // Field (20 x 10 deg), square (2 x 1 deg), subsquare (5' x 2.5'), extended square
    // (30" x 15"); each pair is longitude, then latitude.
    double lon = -180.0;
    double lat = -90.0;
    double lonStep = 20.0;
    double latStep = 10.0;
    for (std::size_t i = 0; i < n; i += 2) {
        const int pair = static_cast<int>(i / 2);
        int a = 0, b = 0, range = 0;
        if (pair % 2 == 0) { // letters
            a = std::toupper(static_cast<unsigned char>(text[i])) - 'A';
            b = std::toupper(static_cast<unsigned char>(text[i + 1])) - 'A';
            range = pair == 0 ? 18 : 24;
        } else {
            a = text[i] - '0';
            b = text[i + 1] - '0';
            range = 10;
        }
        if (a < 0 || a >= range || b < 0 || b >= range) {
            r.error = kNotALocator;
            return r;
        }
        if (pair > 0) {
            lonStep /= range;
            latStep /= range;
        }
        lon += a * lonStep;
        lat += b * latStep;
    }
    r.station.longitudeDeg = lon + lonStep / 2.0;
    r.station.latitudeDeg = lat + latStep / 2.0;
    return r;
}

LocatorResult stationFromDegrees(double latitudeDeg, double longitudeDeg)
{
    LocatorResult r;
    if (!(std::isfinite(latitudeDeg) && std::abs(latitudeDeg) <= 90.0))
        r.error = "The latitude must be a number from -90 to 90 degrees.";
    else if (!(std::isfinite(longitudeDeg) && std::abs(longitudeDeg) <= 180.0))
        r.error = "The longitude must be a number from -180 to 180 degrees.";
    else
        r.station = {latitudeDeg, longitudeDeg, 0.0};
    return r;
}

double julianDayFromUnix(double unixSeconds)
{
    return 2440587.5 + unixSeconds / 86400.0;
}

void horizontalFromEquatorial(double rightAscensionDeg, double declinationDeg,
                              const Station &station, double julianDay, double &azimuthDeg,
                              double &elevationDeg)
{
    ln_equ_posn equ{rightAscensionDeg, declinationDeg};
    ln_lnlat_posn observer{station.longitudeDeg, station.latitudeDeg}; // east positive
    ln_hrz_posn hrz{};
    ln_get_hrz_from_equ(&equ, &observer, julianDay, &hrz);
    // libnova counts azimuth from the south through the west.
    azimuthDeg = std::fmod(hrz.az + 180.0, 360.0);
    elevationDeg = hrz.alt;
}

SkyPositions skyPositions(const Station &station, double julianDay)
{
    SkyPositions p;
    p.julianDay = julianDay;
    ln_lnlat_posn observer{station.longitudeDeg, station.latitudeDeg};

    // libnova gives the Sun and the Moon at the mean equinox of J2000; the sky turns about
    // the equinox of date, which has moved 50" a year since (0.36 deg by 2026): precessed
    // here. Nutation (under 0.006 deg) is left out.
    const auto ofDate = [julianDay](ln_equ_posn j2000) {
        ln_equ_posn date{};
        ln_get_equ_prec(&j2000, julianDay, &date);
        return date;
    };
    ln_equ_posn sun{};
    ln_get_solar_equ_coords(julianDay, &sun);
    sun = ofDate(sun);
    p.sun.rightAscensionDeg = sun.ra;
    p.sun.declinationDeg = sun.dec;
    p.sun.distanceKm = ln_get_earth_solar_dist(julianDay) * kAstronomicalUnitKm;
    p.sun.diameterDeg = angularDiameterDeg(kSunRadiusKm, p.sun.distanceKm);
    // The Sun's parallax (9") is far below what a beam resolves: left out.
    horizontalFromEquatorial(sun.ra, sun.dec, station, julianDay, p.sun.azimuthDeg,
                             p.sun.elevationDeg);

    ln_equ_posn moon{};
    ln_get_lunar_equ_coords(julianDay, &moon);
    moon = ofDate(moon);
    p.moon.rightAscensionDeg = moon.ra;
    p.moon.declinationDeg = moon.dec;
    p.moon.distanceKm = ln_get_lunar_earth_dist(julianDay);
    // The Moon's parallax is up to a degree: the station sees it from the Earth's surface.
    ln_equ_posn shift{};
    ln_get_parallax(&moon, p.moon.distanceKm / kAstronomicalUnitKm, &observer, station.heightM,
                    julianDay, &shift);
    const double ra = moon.ra + shift.ra;
    const double dec = moon.dec + shift.dec;
    horizontalFromEquatorial(ra, dec, station, julianDay, p.moon.azimuthDeg, p.moon.elevationDeg);
    // From the station the Moon is nearer by about the Earth's radius times sin(elevation).
    const double nearer = 6378.14 * std::sin(p.moon.elevationDeg * M_PI / 180.0);
    p.moon.diameterDeg = angularDiameterDeg(kMoonRadiusKm, p.moon.distanceKm - nearer);

    p.sun.aboveHorizon = p.sun.elevationDeg > 0.0;
    p.moon.aboveHorizon = p.moon.elevationDeg > 0.0;
    return p;
}

} // namespace quillon
