#include "core/SettingsFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <QTemporaryFile>

#include <map>

namespace quillon {

namespace {

// Every key with its value as text, lists joined with a separator no value holds: a value
// written and read back compares equal to itself (an integer set as 8 reads back as "8").
std::map<QString, QString> snapshot(const QSettings &settings)
{
    std::map<QString, QString> values;
    for (const QString &key : settings.allKeys()) {
        const QVariant v = settings.value(key);
        values[key] = v.typeId() == QMetaType::QStringList
                          ? QStringLiteral("L") + v.toStringList().join(QChar(0x1f))
                          : QStringLiteral("S") + v.toString();
    }
    return values;
}

} // namespace

FileWriteResult updateSettingsFile(const QString &path,
                                   const std::function<void(QSettings &)> &change)
{
    const std::string name = path.toStdString();
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath()))
        return {FileWriteError::Open, name + ": its folder cannot be made"};

    QTemporaryFile reserved(info.absolutePath() + QStringLiteral("/.") + info.fileName() +
                            QStringLiteral(".XXXXXX"));
    if (!reserved.open())
        return {FileWriteError::Open, name + ": " + reserved.errorString().toStdString()};
    reserved.close();
    const QString scratchPath = reserved.fileName();

    QByteArray bytes;
    {
        const QSettings current(path, QSettings::IniFormat);
        QSettings scratch(scratchPath, QSettings::IniFormat);
        for (const QString &key : current.allKeys())
            scratch.setValue(key, current.value(key));
        change(scratch);
        const std::map<QString, QString> expected = snapshot(scratch);
        scratch.sync();
        if (scratch.status() != QSettings::NoError)
            return {FileWriteError::Write, name + ": the new settings cannot be written"};
        // With nothing left to save, sync() reads the file again as it is on disk.
        scratch.sync();
        if (scratch.status() != QSettings::NoError || snapshot(scratch) != expected)
            return {FileWriteError::Write,
                    name + ": the new settings could not be written in full (is the disk full?)"};
        QFile written(scratchPath);
        if (!written.open(QIODevice::ReadOnly))
            return {FileWriteError::Open, name + ": " + written.errorString().toStdString()};
        bytes = written.readAll();
    }
    reserved.remove();
    return writeFileReplacing(
        name, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

} // namespace quillon
