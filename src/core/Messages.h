#pragma once

namespace quillon {

// The program's string table. Every user-facing message lives here, by number; engine
// routines that can fail several ways return one of these numbers (0 = success) and the
// window code shows it in a message box titled with the application name.
enum MessageId : int {
    kMsgNone = 0,
    kMsgWait = 120,        // " Wait...": a result field with no value yet
    kMsgResultError = 121, // " Error": a result field whose value cannot be computed

    // ENR calibration file reader.
    kMsgEnrCannotOpen = 135,
    kMsgEnrMissingFrequency = 136,
    kMsgEnrFrequencyRange = 137,
    kMsgEnrMissingEnr = 138,
    kMsgEnrEnrRange = 139,
    kMsgEnrTooManyRows = 140,
    kMsgEnrReadError = 141,
    kMsgEnrLineTooLong = 142,
    kMsgEnrNoFile = 143,
    kMsgEnrNoData = 144,

    kMsgSaveFailed = 150,
    kMsgCannotOpenWaveDevice = 151,
    kMsgSignalTooHigh = 152,
    kMsgCannotOpenLog = 153,
    kMsgCannotOpenComPort = 154,
    kMsgCannotSetComPort = 155,
    kMsgCannotWriteUsb = 156,
    kMsgDeviceStoppedDelivering = 157, // a device that opened and started but sends no blocks
    kMsgEnrNotANumber = 158,           // an ENR file's frequency or ENR that is not a number
    kMsgEnrUncertaintyRange = 159,     // an ENR file's third column that cannot be a half-width
    kMsgLiveNeedsSwitchPort = 160,     // live mode without a port that switches the source
};

// The text of message `id`; an empty string for an unknown number.
const char *messageText(int id);

// Where engine code reports a message for the user: the window code implements it as a
// message box (one OK button); tests record the numbers. Called on the thread that hit
// the failure; an implementation that shows a box from another thread must hand over
// to the window thread itself.
class MessageSink
{
public:
    virtual ~MessageSink() = default;
    virtual void showMessage(int messageId) = 0;
};

// The application name: caption of the main window and title of every message box; with
// the organisation, the name of the per-user settings store (~/.config/Tremont/Quillon.conf).
inline constexpr const char *kApplicationName = "Quillon";
inline constexpr const char *kOrganisationName = "Tremont";

} // namespace quillon
