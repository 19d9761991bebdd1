#include "core/Messages.h"

namespace quillon {

const char *messageText(int id)
{
    switch (id) {
    case kMsgWait: return " Wait...";
    case kMsgResultError: return " Error";
    case kMsgEnrCannotOpen: return "The specified calibration file cannot be opened.";
    case kMsgEnrMissingFrequency: return "A line in the calibration file was missing a frequency";
    case kMsgEnrFrequencyRange:
        return "One or more frequencies in the calibration file are out of range.";
    case kMsgEnrMissingEnr: return "A line in the calibration file is missing an ENR value (dB)";
    case kMsgEnrEnrRange:
        return "One or more lines in the calibration file has an ENR value out of range";
    case kMsgEnrTooManyRows: return "The calibration file contains too many rows of data. Sorry.";
    case kMsgEnrReadError:
        return "An error occurred reading from the calibration file (sorry-no diagnosis).";
    case kMsgEnrLineTooLong:
        return "One or more lines in the calibration file are too long to handle.";
    case kMsgEnrNoFile: return "You must specify a valid ENR calibration file.";
    case kMsgEnrNoData: return "The Calibration file appears to contain no valid data!";
    case kMsgSaveFailed: return "Saving parameters to the registry failed for some reason.";
    case kMsgCannotOpenWaveDevice: return "I could not open the wave device to read audio.";
    case kMsgSignalTooHigh: return "Error. Signal level too high.";
    case kMsgCannotOpenLog: return "Error - Cannot open log file.";
    case kMsgCannotOpenComPort: return "OOPS - I cannot open the COM port to  set switch settings.";
    case kMsgCannotSetComPort: return "Error. Cannot set Com port status.";
    case kMsgCannotWriteUsb: return "Error - Cannot write to Kestrel VNA USB device.";
    case kMsgEnrNotANumber:
        return "A line in the calibration file has a frequency or ENR that is not a number.";
    case kMsgEnrUncertaintyRange:
        return "A line in the calibration file has an ENR uncertainty above 10 dB "
               "(is a decimal comma used?).";
    case kMsgDeviceStoppedDelivering:
        return "The wave device stopped delivering audio during the reading.";
    case kMsgLiveNeedsSwitchPort:
        return "Live mode switches the noise source itself: choose a switch port on the Setup "
               "page first.";
    default: return "";
    }
}

} // namespace quillon
