#pragma once

#include "core/SettingsRecord.h"

namespace quillon {

class AudioBackend;

// The product names of `devices` for the settings load's device check and for "Save as
// Default"; a null list gives no names (every stored device is then unset).
ProductNameLookup productNamesOf(AudioBackend *devices);

// A load context with the format table and the device list of `devices` filled in; the
// caller adds the filter selection and the ENR file read it needs.
SettingsLoadContext captureLoadContext(AudioBackend *devices);

} // namespace quillon
