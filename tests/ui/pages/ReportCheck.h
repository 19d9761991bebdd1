#pragma once

// A page's report against what the page shows: tests/cli/check_report.py (Debian's python3
// with python3-html5lib) parses the HTML strictly, refuses anything that loads from outside,
// and finds every decimal number of the shown texts in the report's text.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace quillon::test {

// `shown`: the texts as the page shows them (fields, table cells, labels); `wanted`: texts
// that must be in the report as they are. Empty when all holds, else the checker's lines.
inline QString checkReport(const QString &htmlPath, const QStringList &shown,
                           const QStringList &wanted = {})
{
    const QString printed = htmlPath + ".shown.txt";
    QFile file(printed);
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("cannot write ") + printed;
    file.write(shown.join('\n').toUtf8() + '\n');
    file.close();
    QProcess checker;
    checker.setProcessChannelMode(QProcess::MergedChannels);
    checker.start(QStringLiteral("/usr/bin/python3"),
                  QStringList{QStringLiteral(QUILLON_CHECK_REPORT_SCRIPT), htmlPath, printed} +
                      wanted);
    if (!checker.waitForFinished(60000))
        return QStringLiteral("check_report.py did not finish");
    const QString out = QString::fromUtf8(checker.readAll());
    QFile::remove(printed);
    return checker.exitCode() == 0 ? QString() : out;
}

} // namespace quillon::test
