#pragma once

#include "capture/ResultText.h"
#include "capture/WaveCapture.h"

#include <QString>

namespace quillon {

// The continuously capturing pages' note on audio lost since their capture started ("" when
// none was). Window thread; the counters are atomics the capture's producer adds to.
inline QString lostAudioNote(const WaveCapture &capture)
{
    return QString::fromStdString(
        lostAudioText(capture.lostFrames(), capture.lostEvents(), capture.format().samplesPerSec));
}

} // namespace quillon
