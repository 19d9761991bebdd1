#pragma once

#include "core/FileWriter.h"

#include <QString>

#include <functional>

class QSettings;

namespace quillon {

// Changes the INI settings file `path` (QSettings' format) without ever leaving it empty or
// cut short, which QSettings::sync() itself can do: Qt 6.4 buffers the whole file in its
// QSaveFile and flushes it only in commit(), whose close ignores a failed flush, so on a
// full disk an empty temporary replaced the file and status() still said NoError.
//
// `change` receives a scratch QSettings holding every key of the file (no group open) and
// makes its changes there. The scratch file is written beside `path` by QSettings, read
// back and compared key by key with what was set; only a complete copy goes on, through
// writeFileReplacing, to replace `path`. On any failure the file keeps its earlier content;
// the detail names the file and the reason. The scratch copy and its lock file need room
// beside the file while the file is written.
//
// No lock is held around the change (QSettings' "<path>.lock" is left to QSettings: an
// object of the program with unsaved values would wait for it forever while reading the
// file here): the rename lets readers see the old file or the new one, never a part; two
// programs changing the file at the same moment can lose one change (quillon-cli only
// reads). QSettings objects open on `path` see the new content after their next sync();
// none of them should hold unsaved values, which their own sync would write the old way.
// Window thread (QSettings is not shared between threads).
FileWriteResult updateSettingsFile(const QString &path,
                                   const std::function<void(QSettings &)> &change);

} // namespace quillon
