#include "measure/DeviceResultsText.h"

#include "core/Messages.h"
#include "core/Settings.h"
#include "capture/ResultText.h"
#include "nf/YFactorMath.h"

#include <cmath>

namespace quillon {

std::string readingText(double power, int decimals)
{
    return resultText(!YFactorMath::readingInRange(power), 10.0 * std::log10(power),
                      kMsgResultError, decimals);
}

DeviceResultTexts showDeviceResults(const DeviceResults &results, const Settings &settings,
                                    ResultLine &line)
{
    DeviceResultTexts texts;
    texts.complete = results.complete;
    line.clear();
    if (!results.complete) {
        texts.logText = kNotCalculated;
        return texts;
    }
    auto show = [&](bool valid, double value) {
        return showResultText(!valid, value, kMsgResultError, true, settings, line);
    };
    if (results.systemMode) {
        if (settings.logMeasurements)
            line.append(kGainNotMeasured);
    } else {
        texts.gain = show(results.gainValid, results.gainDb);
    }
    texts.te = show(results.noise.valid, results.noise.te);
    texts.f = show(results.noise.valid, results.noise.f);
    texts.nf = show(results.noise.valid, results.noise.nf);
    texts.logText = line.text();
    return texts;
}

CalibrationResultTexts showCalibrationResults(const CalibrationResults &results,
                                              const Settings &settings, ResultLine &line)
{
    CalibrationResultTexts texts;
    texts.complete = results.complete;
    line.clear();
    if (!results.complete) {
        texts.logText = kNotCalculated;
        return texts;
    }
    texts.enr = showResultText(!results.enr.valid, results.enr.enrDb, kMsgResultError, true,
                               settings, line);
    texts.logText = line.text();
    return texts;
}

} // namespace quillon
