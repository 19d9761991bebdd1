#include "measure/SharedValues.h"

#include "core/SettingsStore.h"

#include <algorithm>

namespace quillon {

void SharedValues::load(const SettingsStore &store)
{
    m_enrEntry = store.readNumber(keys::ENR);
    m_tsOff = store.readNumber(keys::TSoff);
    m_t0 = store.readNumber(keys::T0);
    m_dummyReads = store.read(keys::DummyReads);
    setAveraging(store.read(keys::TraceAverageFlag) != 0);
    setAverageCount(store.read(keys::TraceAverageCount));
}

int SharedValues::saveAtExit(SettingsStore &store) const
{
    SaveBatch batch(store);
    batch.writeNumber(keys::ENR, m_enrEntry, 3);
    batch.writeNumber(keys::TSoff, m_tsOff, 2);
    batch.writeNumber(keys::T0, m_t0, 2);
    return batch.result();
}

int SharedValues::dummyReadsLimited() const
{
    return std::clamp(m_dummyReads, 0, 10);
}

int SharedValues::averageCountLimited() const
{
    return std::clamp(averageCount(), 1, 32);
}

} // namespace quillon
