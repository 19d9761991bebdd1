#include "core/SettingsStore.h"

#include "core/Messages.h"
#include "core/NumberText.h"
#include "core/SettingsFile.h"

#include <QStringList>

namespace quillon {

SettingsStore::SettingsStore(const char *group) : m_group(QString::fromLatin1(group))
{
    open();
}

void SettingsStore::open()
{
    m_settings = std::make_unique<QSettings>(QString::fromLatin1(kOrganisationName),
                                             QString::fromLatin1(kApplicationName));
    m_settings->beginGroup(m_group);
}

SettingsStore::~SettingsStore() = default;

std::int32_t SettingsStore::read(const IntValue &value) const
{
    const QVariant v = m_settings->value(QString::fromLatin1(value.name));
    if (!v.isValid())
        return value.defaultValue;
    bool ok = false;
    const qlonglong n = v.toLongLong(&ok);
    if (!ok || n < INT32_MIN || n > UINT32_MAX)
        return value.defaultValue;
    // A DWORD holds 32 bits; the program reads them as a signed number.
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(n));
}

std::string SettingsStore::read(const TextValue &value) const
{
    const QVariant v = m_settings->value(QString::fromLatin1(value.name));
    if (!v.isValid())
        return value.defaultValue;
    // An unquoted comma in a hand-edited file makes QSettings return a list.
    if (v.typeId() == QMetaType::QStringList)
        return v.toStringList().join(QLatin1Char(',')).toStdString();
    if (!v.canConvert<QString>())
        return value.defaultValue;
    return v.toString().toStdString();
}

double SettingsStore::readNumber(const TextValue &value) const
{
    return parseDecimal(read(value));
}

bool SettingsStore::write(const IntValue &value, std::int32_t v)
{
    return store(value.name, QVariant(v));
}

bool SettingsStore::write(const TextValue &value, const std::string &text)
{
    return store(value.name, QVariant(QString::fromStdString(text)));
}

bool SettingsStore::writeNumber(const TextValue &value, double v, int decimals)
{
    return write(value, formatFixed(v, decimals));
}

void SettingsStore::reopenAfterFailure()
{
    // QSettings keeps the first error for the rest of its life (and an object made while
    // the file cannot be reached starts with one): after a failure the next write gets a
    // fresh object, made now, so that it is judged by its own outcome alone.
    if (m_failed)
        open();
}

bool SettingsStore::store(const char *name, const QVariant &v)
{
    reopenAfterFailure();
    // Never through m_settings->setValue(): QSettings' own sync can replace the file with an
    // empty one on a full disk and report success (see updateSettingsFile).
    const QString key = m_group + QLatin1Char('/') + QString::fromLatin1(name);
    const FileWriteResult written = updateSettingsFile(
        m_settings->fileName(), [&](QSettings &file) { file.setValue(key, v); });
    // With nothing of its own to save, sync() reads the file as it now is.
    m_settings->sync();
    const bool ok = written.ok() && m_settings->status() == QSettings::NoError;
    m_failed = !ok;
    if (m_observer)
        m_observer(name, ok);
    return ok;
}

void SaveBatch::note(const char *name, bool ok)
{
    if (ok)
        return;
    if (!m_failed.empty())
        m_failed += ", ";
    m_failed += name;
}

Result SaveBatch::outcome() const
{
    if (m_failed.empty())
        return {};
    return {kMsgSaveFailed,
            m_store.qsettings().fileName().toStdString() + ": could not write " + m_failed};
}

} // namespace quillon
