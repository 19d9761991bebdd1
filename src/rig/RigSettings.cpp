#include "rig/RigSettings.h"

#include <QString>

namespace quillon {

namespace {

int inRangeOr(int v, int lo, int hi, int fallback)
{
    return v >= lo && v <= hi ? v : fallback;
}

bool sameText(const std::string &a, const char *b)
{
    return QString::fromStdString(a).trimmed().compare(QLatin1String(b), Qt::CaseInsensitive) == 0;
}

} // namespace

const char *rigModeName(RigMode mode)
{
    return mode == RigMode::Cw ? "CW" : "USB";
}

RigSettings loadRigSettings(const SettingsStore &store)
{
    namespace k = receiverKeys;
    RigSettings s;
    const std::string control = store.read(k::Control);
    for (const RigKindInfo &info : rigKinds()) {
        if (sameText(control, info.storedName))
            s.kind = info.kind;
    }
    s.hamlibModel = inRangeOr(store.read(k::HamlibModel), 1, 999999, k::HamlibModel.defaultValue);
    s.port = QString::fromStdString(store.read(k::Port)).trimmed().toStdString();
    s.baudRate = inRangeOr(store.read(k::BaudRate), 0, 10'000'000, k::BaudRate.defaultValue);
    s.mode = sameText(store.read(k::Mode), "CW") ? RigMode::Cw : RigMode::Usb;
    s.timeoutMs = inRangeOr(store.read(k::TimeoutMs), 100, 10000, k::TimeoutMs.defaultValue);
    s.retries = inRangeOr(store.read(k::Retries), 0, 5, k::Retries.defaultValue);
    return s;
}

Result saveRigSettings(SettingsStore &store, const RigSettings &s)
{
    namespace k = receiverKeys;
    SaveBatch batch(store);
    batch.write(k::Control, rigKindInfo(s.kind).storedName);
    batch.write(k::HamlibModel, s.hamlibModel);
    batch.write(k::Port, s.port);
    batch.write(k::BaudRate, s.baudRate);
    batch.write(k::Mode, rigModeName(s.mode));
    batch.write(k::TimeoutMs, s.timeoutMs);
    batch.write(k::Retries, s.retries);
    return batch.outcome();
}

} // namespace quillon
