#include "bench/BenchChain.h"

#include "bench/BenchStoreValues.h"
#include "core/NumberText.h"

#include <QSettings>
#include <QString>

#include <charconv>
#include <cmath>

namespace quillon {

namespace {

using benchstore::inRangeOr;
using benchstore::numberText;
using benchstore::readNumber;

} // namespace

bool BenchChain::any() const
{
    return converterOn || inputLossDb != 0.0 || outputLossDb != 0.0 || calibrationLossDb != 0.0;
}

BenchChain sanitized(const BenchChain &c)
{
    const BenchChain d;
    BenchChain r = c;
    r.inputLossDb = inRangeOr(c.inputLossDb, 0.0, 30.0, d.inputLossDb);
    r.outputLossDb = inRangeOr(c.outputLossDb, 0.0, 30.0, d.outputLossDb);
    r.calibrationLossDb = inRangeOr(c.calibrationLossDb, 0.0, 30.0, d.calibrationLossDb);
    r.inputLossTemperatureK = inRangeOr(c.inputLossTemperatureK, 1.0, 10000.0, d.inputLossTemperatureK);
    r.outputLossTemperatureK =
        inRangeOr(c.outputLossTemperatureK, 1.0, 10000.0, d.outputLossTemperatureK);
    r.calibrationLossTemperatureK =
        inRangeOr(c.calibrationLossTemperatureK, 1.0, 10000.0, d.calibrationLossTemperatureK);
    r.converterLoMHz = inRangeOr(c.converterLoMHz, 0.0, 30000.0, d.converterLoMHz);
    r.imageRejectionDb = inRangeOr(c.imageRejectionDb, 0.0, 200.0, d.imageRejectionDb);
    return r;
}

double benchImageResponse(const BenchChain &c)
{
    if (!c.converterOn)
        return 0.0;
    return c.sideband == BenchSideband::Double ? 1.0 : std::pow(10.0, -c.imageRejectionDb / 10.0);
}

BenchChainFrequencies benchChainFrequencies(const BenchChain &c, double outputMHz)
{
    if (!c.converterOn)
        return {outputMHz, outputMHz};
    const double upper = c.converterLoMHz + outputMHz, lower = c.converterLoMHz - outputMHz;
    return c.sideband == BenchSideband::Lower ? BenchChainFrequencies{lower, upper}
                                              : BenchChainFrequencies{upper, lower};
}

const char *benchSidebandName(BenchSideband s)
{
    switch (s) {
    case BenchSideband::Upper: return "upper";
    case BenchSideband::Lower: return "lower";
    case BenchSideband::Double: return "double";
    }
    return "upper";
}

void loadBenchChain(QSettings &settings, BenchChain &chain)
{
    const BenchChain d;
    BenchChain c;
    c.inputLossDb = readNumber(settings, "InputLossDb", d.inputLossDb);
    c.inputLossTemperatureK = readNumber(settings, "InputLossTemperatureK", d.inputLossTemperatureK);
    c.outputLossDb = readNumber(settings, "OutputLossDb", d.outputLossDb);
    c.outputLossTemperatureK =
        readNumber(settings, "OutputLossTemperatureK", d.outputLossTemperatureK);
    c.calibrationLossDb = readNumber(settings, "CalibrationLossDb", d.calibrationLossDb);
    c.calibrationLossTemperatureK =
        readNumber(settings, "CalibrationLossTemperatureK", d.calibrationLossTemperatureK);
    c.converterOn = readNumber(settings, "ConverterOn", 0.0) != 0.0;
    c.converterLoMHz = readNumber(settings, "ConverterLoMHz", d.converterLoMHz);
    const QString sideband = settings.value(QLatin1String("ConverterSideband")).toString();
    for (BenchSideband s : {BenchSideband::Upper, BenchSideband::Lower, BenchSideband::Double})
        if (sideband.compare(QLatin1String(benchSidebandName(s)), Qt::CaseInsensitive) == 0)
            c.sideband = s;
    c.imageRejectionDb = readNumber(settings, "ImageRejectionDb", d.imageRejectionDb);
    chain = sanitized(c);
}

void saveBenchChain(QSettings &settings, const BenchChain &c)
{
    settings.setValue(QLatin1String("InputLossDb"), numberText(c.inputLossDb));
    settings.setValue(QLatin1String("InputLossTemperatureK"), numberText(c.inputLossTemperatureK));
    settings.setValue(QLatin1String("OutputLossDb"), numberText(c.outputLossDb));
    settings.setValue(QLatin1String("OutputLossTemperatureK"),
                      numberText(c.outputLossTemperatureK));
    settings.setValue(QLatin1String("CalibrationLossDb"), numberText(c.calibrationLossDb));
    settings.setValue(QLatin1String("CalibrationLossTemperatureK"),
                      numberText(c.calibrationLossTemperatureK));
    settings.setValue(QLatin1String("ConverterOn"),
                      c.converterOn ? QStringLiteral("1") : QStringLiteral("0"));
    settings.setValue(QLatin1String("ConverterLoMHz"), numberText(c.converterLoMHz));
    settings.setValue(QLatin1String("ConverterSideband"),
                      QLatin1String(benchSidebandName(c.sideband)));
    settings.setValue(QLatin1String("ImageRejectionDb"), numberText(c.imageRejectionDb));
}

} // namespace quillon
