// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <span>
#include <string>
#include <variant>

#include "poll/readings.h"

namespace zta {

// One value of what an analyzer reports. Every output of the readings (record line, CSV log,
// bus overview, zta-bus's JSON) names its values by these ids and keeps its own order and
// format; a new value is a row in readingColumns() and an id in the outputs that show it.
enum class ReadingColumn {
    Concentration,
    RelayState,
    Threshold1,
    Threshold2,
    AuxValue,
    RefChannel,
    WorkChannel,
    DValue,
    Temperature,
    FactoryNumber,
    SoftwareVersion,
    GasCode,
    GasName,
    DeviceRange,
    DeviceMidGas,
    DeviceMaxGas,
    UnitName,
    UnitValue,
    HealthRelay,
    Threshold1Relay,
    Threshold2Relay,
};

// Whole numbers, decimals and texts (UTF-8) stay apart: JSON writes 37 and 37.0 differently.
using ReadingValue = std::variant<long long, double, std::string>;

struct ReadingColumnInfo {
    ReadingColumn id;
    const char* key;              // the stable name of zta-bus's JSON
    const char* csvHeading;       // the CSV log's heading, or nullptr (UTF-8)
    const char* overviewHeading;  // the bus overview's heading, or nullptr (UTF-8)
    bool extendedOnly;            // only an extended model reports it
    ReadingValue (*value)(const Readings& readings, const SlotTexts& texts);
};

// Every column, in the order of the ids.
std::span<const ReadingColumnInfo> readingColumns();
const ReadingColumnInfo& readingColumn(ReadingColumn id);
ReadingValue readingValue(ReadingColumn id, const Readings& readings, const SlotTexts& texts = {});
// A whole number or a decimal as a double; a text gives 0.
double readingNumber(const ReadingValue& value);

// What each output shows, in its order.

// A record line: "T d ref work conc aux relays", the rest is the line's own.
inline constexpr std::array kRecordLineColumns{
    ReadingColumn::Temperature, ReadingColumn::DValue,        ReadingColumn::RefChannel,
    ReadingColumn::WorkChannel, ReadingColumn::Concentration, ReadingColumn::AuxValue,
    ReadingColumn::RelayState};

// Who the analyzer is opens a CSV line and stays there once it has answered.
inline constexpr std::array kCsvIdentityColumns{ReadingColumn::FactoryNumber,
                                                ReadingColumn::GasName};
// The CSV line's readings: left empty when nothing new came.
inline constexpr std::array kCsvReadingColumns{
    ReadingColumn::Concentration,   ReadingColumn::UnitValue,       ReadingColumn::UnitName,
    ReadingColumn::Threshold1,      ReadingColumn::Threshold2,      ReadingColumn::HealthRelay,
    ReadingColumn::Threshold1Relay, ReadingColumn::Threshold2Relay, ReadingColumn::Temperature,
    ReadingColumn::DValue,          ReadingColumn::RefChannel,      ReadingColumn::WorkChannel};

// The overview's reading columns, one after the other; threshold 2 shares threshold 1's.
inline constexpr std::array kOverviewReadingColumns{
    ReadingColumn::FactoryNumber, ReadingColumn::GasName,    ReadingColumn::Concentration,
    ReadingColumn::UnitValue,     ReadingColumn::Threshold1, ReadingColumn::RelayState};

// zta-bus's readings object; columns of an extended model only with one.
inline constexpr std::array kJsonReadingColumns{
    ReadingColumn::Concentration, ReadingColumn::RelayState,      ReadingColumn::Threshold1,
    ReadingColumn::Threshold2,    ReadingColumn::AuxValue,        ReadingColumn::RefChannel,
    ReadingColumn::WorkChannel,   ReadingColumn::DValue,          ReadingColumn::Temperature,
    ReadingColumn::FactoryNumber, ReadingColumn::SoftwareVersion, ReadingColumn::GasCode,
    ReadingColumn::GasName,       ReadingColumn::DeviceRange,     ReadingColumn::DeviceMidGas,
    ReadingColumn::DeviceMaxGas,  ReadingColumn::UnitName};

}  // namespace zta
