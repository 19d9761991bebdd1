#include "measure/CorrectionSettings.h"

#include "core/Messages.h"
#include "core/NumberText.h"

#include <cctype>
#include <cmath>

namespace quillon {

namespace {

constexpr const char *kPrefix[kLossPlaceCount] = {"InputLoss", "OutputLoss", "CalibrationLoss"};

// The keys of one loss entry; their names live as long as the program.
struct LossKeys
{
    std::string on, db, useFile, file, temperature;
};
const LossKeys &lossKeys(int k)
{
    static const std::array<LossKeys, kLossPlaceCount> keys = [] {
        std::array<LossKeys, kLossPlaceCount> a;
        for (int i = 0; i < kLossPlaceCount; ++i) {
            const std::string p = kPrefix[i];
            a[static_cast<std::size_t>(i)] = {p + "On", p + "Db", p + "UseFile", p + "File",
                                              p + "TemperatureK"};
        }
        return a;
    }();
    return keys[static_cast<std::size_t>(k)];
}

const TextValue kConverterLo{"ConverterLoMHz", "0"};
const TextValue kConverterSideband{"ConverterSideband", "upper"};
const IntValue kConverterOn{"ConverterOn", 0};
const TextValue kImageRejection{"ImageRejectionDb", "100"};
const TextValue kFrequency{"FrequencyMHz", "144"};

std::string capitalised(std::string s)
{
    if (!s.empty())
        s[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(s[0])));
    return s;
}

std::string fileName(const std::string &path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The entry named in a message: "Input loss", or "Input loss table loss.txt".
std::string entryName(LossPlace place, const LossSetting &s)
{
    std::string name = capitalised(lossPlaceName(place));
    if (s.fromTable)
        name += " table " + fileName(s.file);
    return name;
}

Result failure(int id, const std::string &entry, const std::string &tail = {})
{
    std::string text = entry + ": " + messageText(id);
    if (!tail.empty())
        text += " " + tail;
    return {id, text};
}

} // namespace

bool CorrectionSettings::any() const
{
    if (converter.on)
        return true;
    for (const LossSetting &l : loss)
        if (l.on)
            return true;
    return false;
}

const char *sidebandName(Sideband sideband)
{
    switch (sideband) {
    case Sideband::Upper: return "upper";
    case Sideband::Lower: return "lower";
    case Sideband::Double: return "double";
    }
    return "upper";
}

Sideband sidebandFromName(const std::string &name, bool *known)
{
    for (Sideband s : {Sideband::Upper, Sideband::Lower, Sideband::Double}) {
        if (name == sidebandName(s)) {
            if (known)
                *known = true;
            return s;
        }
    }
    if (known)
        *known = false;
    return Sideband::Upper;
}

CorrectionSettings loadCorrectionSettings(const SettingsStore &store)
{
    CorrectionSettings s;
    for (int k = 0; k < kLossPlaceCount; ++k) {
        const LossKeys &key = lossKeys(k);
        LossSetting &l = s.loss[static_cast<std::size_t>(k)];
        l.on = store.read(IntValue{key.on.c_str(), 0}) != 0;
        l.db = store.readNumber(TextValue{key.db.c_str(), "0"});
        l.fromTable = store.read(IntValue{key.useFile.c_str(), 0}) != 0;
        l.file = store.read(TextValue{key.file.c_str(), ""});
        l.temperatureK = store.readNumber(TextValue{key.temperature.c_str(), "290"});
    }
    s.converter.on = store.read(kConverterOn) != 0;
    s.converter.loMHz = store.readNumber(kConverterLo);
    s.converter.sideband = sidebandFromName(store.read(kConverterSideband));
    s.converter.imageRejectionDb = store.readNumber(kImageRejection);
    s.frequencyMHz = store.readNumber(kFrequency);
    return s;
}

Result saveCorrectionSettings(SettingsStore &store, const CorrectionSettings &s)
{
    SaveBatch batch(store);
    for (int k = 0; k < kLossPlaceCount; ++k) {
        const LossKeys &key = lossKeys(k);
        const LossSetting &l = s.loss[static_cast<std::size_t>(k)];
        batch.write(IntValue{key.on.c_str(), 0}, l.on ? 1 : 0);
        batch.write(TextValue{key.db.c_str(), "0"}, formatShortest(l.db));
        batch.write(IntValue{key.useFile.c_str(), 0}, l.fromTable ? 1 : 0);
        batch.write(TextValue{key.file.c_str(), ""}, l.file);
        batch.write(TextValue{key.temperature.c_str(), "290"}, formatShortest(l.temperatureK));
    }
    batch.write(kConverterOn, s.converter.on ? 1 : 0);
    batch.write(kConverterLo, formatShortest(s.converter.loMHz));
    batch.write(kConverterSideband, sidebandName(s.converter.sideband));
    batch.write(kImageRejection, formatShortest(s.converter.imageRejectionDb));
    batch.write(kFrequency, formatShortest(s.frequencyMHz));
    return batch.outcome();
}

Result readLossTables(const CorrectionSettings &settings, LossTables &tables)
{
    for (int k = 0; k < kLossPlaceCount; ++k) {
        const auto place = static_cast<LossPlace>(k);
        const LossSetting &l = settings.at(place);
        auto &slot = tables.table[static_cast<std::size_t>(k)];
        slot.reset();
        if (!l.on || !l.fromTable)
            continue;
        auto table = std::make_shared<EnrTable>();
        const int rc = parseEnrFile(l.file, *table);
        if (rc != kMsgNone)
            return failure(kMsgLossTableUnreadable, entryName(place, l),
                           enrReadMessage(rc, *table));
        slot = std::move(table);
    }
    return {};
}

Result resolveCorrections(const CorrectionSettings &settings, const LossTables &tables,
                          double outputMHz, const std::function<double(double)> &enrAt,
                          ChainCorrections &out)
{
    out = {};
    out.converter = settings.converter;
    if (const int rc = checkConverter(settings.converter, outputMHz); rc != kMsgNone)
        return failure(rc, "Converter");
    out.frequencies = converterFrequencies(settings.converter, outputMHz);
    for (int k = 0; k < kLossPlaceCount; ++k) {
        const auto place = static_cast<LossPlace>(k);
        const LossSetting &l = settings.at(place);
        AppliedLoss &a = out.at(place);
        if (!l.on)
            continue;
        a.active = true;
        a.temperatureK = l.temperatureK;
        const double at =
            place == LossPlace::Input ? out.frequencies.inputMHz : out.frequencies.outputMHz;
        if (l.fromTable) {
            const auto &table = tables.table[static_cast<std::size_t>(k)];
            if (!table)
                return failure(kMsgLossTableUnreadable, entryName(place, l),
                               messageText(kMsgEnrNoFile));
            const LossLookup lookup = lookUpLoss(*table, at);
            if (lookup.messageId != kMsgNone)
                return failure(lookup.messageId, entryName(place, l),
                               formatFixed(at, 3) + " MHz.");
            a.db = lookup.db;
            a.uncertaintyDb = lookup.uncertaintyDb;
        } else {
            a.db = l.db;
        }
        if (const int rc = checkLoss(a); rc != kMsgNone)
            return failure(rc, entryName(place, l));
    }
    if (out.converter.on) {
        out.enrSignalDb = enrAt(out.frequencies.inputMHz);
        out.enrImageDb = enrAt(out.frequencies.imageMHz);
    }
    return {};
}

std::string correctionsLogText(const ChainCorrections &corrections)
{
    std::string text = correctedForText(corrections);
    if (text.empty())
        return text;
    std::string joined;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == ',' && i + 1 < text.size() && text[i + 1] == ' ')
            joined += ';';
        else
            joined += text[i];
    }
    return joined;
}

} // namespace quillon
