#pragma once

#include <QString>

#include <functional>
#include <string>

class QWidget;

namespace quillon {

// "Save Report..." of a page (Measure Device, Sweep, Antenna and Sky). With nothing to report
// (`nothingYet` non-empty) it says so and asks for no file; else it asks `dialog` for the HTML
// file's path (empty: cancelled) and writes the two files with `write`, showing the message it
// returns on failure. The page's readings and results stay as they are either way. `dialog`
// may be empty (no file asked: nothing written). Window thread.
void saveReportFiles(QWidget *page, const QString &nothingYet,
                     const std::function<QString()> &dialog,
                     const std::function<std::string(const std::string &htmlPath)> &write);

// The file dialog "Save Report..." opens by default.
QString askReportPath(QWidget *page);

} // namespace quillon
