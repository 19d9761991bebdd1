#pragma once

#include "core/NumberText.h"

#include <QSettings>
#include <QString>

#include <charconv>
#include <cmath>

// How the bench's parameters (VirtualBench, BenchFaults, BenchChain) are read from and
// written to the store's group "VirtualBench": numbers as the shortest text that reads back
// as the same double with "." as decimal point in any locale. For the bench's own sources.
namespace quillon::benchstore {

inline double inRangeOr(double v, double lo, double hi, double fallback)
{
    return (std::isfinite(v) && v >= lo && v <= hi) ? v : fallback;
}

// The key's number, NaN for text that is not one (the range check then falls back), or
// `fallback` when the key is missing.
inline double readNumber(const QSettings &s, const char *key, double fallback)
{
    const QVariant v = s.value(QLatin1String(key));
    if (!v.isValid())
        return fallback;
    return parseDecimal(v.toString().toStdString());
}

inline QString numberText(double v)
{
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return QString::fromLatin1(buf, static_cast<int>(r.ptr - buf));
}

} // namespace quillon::benchstore
