// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/reading_columns.h"

#include <cstddef>

namespace zta {

namespace {

using R = const Readings&;
using T = const SlotTexts&;

ReadingValue relayBit(R r, int bit) { return static_cast<long long>((r.relayState >> bit) & 1); }

constexpr ReadingColumnInfo kColumns[] = {
    {ReadingColumn::Concentration, "concentration", "Концентрация, %НКПР", "%НКПР", false,
     [](R r, T) -> ReadingValue { return r.concentration; }},
    // The overview draws the relays from the whole byte; the CSV log writes one bit a column.
    {ReadingColumn::RelayState, "relayState", nullptr, "Реле", false,
     [](R r, T) -> ReadingValue { return static_cast<long long>(r.relayState); }},
    {ReadingColumn::Threshold1, "threshold1", "Порог 1, %НКПР", "Пороги", false,
     [](R r, T) -> ReadingValue { return static_cast<long long>(r.threshold1); }},
    {ReadingColumn::Threshold2, "threshold2", "Порог 2, %НКПР", nullptr, false,
     [](R r, T) -> ReadingValue { return static_cast<long long>(r.threshold2); }},
    {ReadingColumn::AuxValue, "auxValue", nullptr, nullptr, false,
     [](R r, T) -> ReadingValue { return static_cast<long long>(r.auxValue); }},
    {ReadingColumn::RefChannel, "refChannel", "Опорный канал", nullptr, false,
     [](R r, T) -> ReadingValue { return static_cast<long long>(r.refChannel); }},
    {ReadingColumn::WorkChannel, "workChannel", "Рабочий канал", nullptr, false,
     [](R r, T) -> ReadingValue { return static_cast<long long>(r.workChannel); }},
    {ReadingColumn::DValue, "dValue", "d", nullptr, false,
     [](R r, T) -> ReadingValue { return static_cast<long long>(r.dValue); }},
    {ReadingColumn::Temperature, "temperature", "Т(у.е.)", nullptr, false,
     [](R r, T) -> ReadingValue { return static_cast<long long>(r.temperature); }},
    {ReadingColumn::FactoryNumber, "factoryNumber", "Заводской номер", "Зав. №", false,
     [](R r, T) -> ReadingValue { return static_cast<long long>(r.factoryNumber); }},
    {ReadingColumn::SoftwareVersion, "softwareVersion", nullptr, nullptr, false,
     [](R r, T) -> ReadingValue { return static_cast<long long>(r.softwareVersion); }},
    {ReadingColumn::GasCode, "gasCode", nullptr, nullptr, false,
     [](R r, T) -> ReadingValue { return static_cast<long long>(r.gasCode); }},
    {ReadingColumn::GasName, "gasName", "Газ", "Газ", false,
     [](R, T t) -> ReadingValue { return t.gasName; }},
    {ReadingColumn::DeviceRange, "deviceRange", nullptr, nullptr, true,
     [](R r, T) -> ReadingValue { return r.deviceRange; }},
    {ReadingColumn::DeviceMidGas, "deviceMidGas", nullptr, nullptr, true,
     [](R r, T) -> ReadingValue { return r.deviceMidGas; }},
    {ReadingColumn::DeviceMaxGas, "deviceMaxGas", nullptr, nullptr, true,
     [](R r, T) -> ReadingValue { return r.deviceMaxGas; }},
    // Only an extended analyzer names its unit; a standard one's is the volume fraction of its gas.
    {ReadingColumn::UnitName, "unitName", "Единица", nullptr, true,
     [](R r, T t) -> ReadingValue {
         return r.extendedModel ? t.unitName : std::string(kVolumeUnitName);
     }},
    {ReadingColumn::UnitValue, "unitValue", "Концентрация", "Ед. прибора", false,
     [](R r, T) -> ReadingValue { return unitValue(r); }},
    {ReadingColumn::HealthRelay, "healthRelay", "Реле исправности", nullptr, false,
     [](R r, T) { return relayBit(r, 0); }},
    {ReadingColumn::Threshold1Relay, "threshold1Relay", "Реле порога 1", nullptr, false,
     [](R r, T) { return relayBit(r, 1); }},
    {ReadingColumn::Threshold2Relay, "threshold2Relay", "Реле порога 2", nullptr, false,
     [](R r, T) { return relayBit(r, 2); }},
};

constexpr bool inIdOrder() {
    for (std::size_t i = 0; i < std::size(kColumns); ++i)
        if (static_cast<std::size_t>(kColumns[i].id) != i) return false;
    return true;
}
static_assert(inIdOrder(), "a column's row sits at its id");
static_assert(std::size(kColumns) == static_cast<std::size_t>(ReadingColumn::Threshold2Relay) + 1,
              "every id has its row");

}  // namespace

std::span<const ReadingColumnInfo> readingColumns() { return kColumns; }

const ReadingColumnInfo& readingColumn(ReadingColumn id) {
    return kColumns[static_cast<std::size_t>(id)];
}

ReadingValue readingValue(ReadingColumn id, const Readings& readings, const SlotTexts& texts) {
    return readingColumn(id).value(readings, texts);
}

double readingNumber(const ReadingValue& value) {
    if (const auto* whole = std::get_if<long long>(&value)) return static_cast<double>(*whole);
    if (const auto* decimal = std::get_if<double>(&value)) return *decimal;
    return 0.0;
}

}  // namespace zta
