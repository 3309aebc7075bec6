// SPDX-License-Identifier: GPL-3.0-or-later
// The reading columns: every id has its row, every output names only columns that carry what
// it needs and shows each once, no row is left unshown, and no two columns read one value.
#include "core/reading_columns.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <span>
#include <string>
#include <variant>

namespace {

using zta::ReadingColumn;
using zta::readingColumn;
using zta::readingColumns;

struct Output {
    const char* name;
    std::span<const ReadingColumn> columns;
    const char* needs;  // "csv", "overview" or "" (the key alone)
};

const Output kOutputs[] = {
    {"record line", zta::kRecordLineColumns, ""},
    {"CSV identity", zta::kCsvIdentityColumns, "csv"},
    {"CSV readings", zta::kCsvReadingColumns, "csv"},
    {"overview", zta::kOverviewReadingColumns, "overview"},
    {"JSON", zta::kJsonReadingColumns, ""},
};

TEST(ReadingColumns, EveryIdHasItsRowWithAUniqueKey) {
    std::set<std::string> keys;
    for (size_t i = 0; i < readingColumns().size(); ++i) {
        const zta::ReadingColumnInfo& info = readingColumns()[i];
        EXPECT_EQ(static_cast<size_t>(info.id), i);
        EXPECT_EQ(&readingColumn(info.id), &info);
        ASSERT_NE(info.key, nullptr);
        EXPECT_GT(std::strlen(info.key), 0u);
        EXPECT_TRUE(keys.insert(info.key).second) << "key " << info.key << " twice";
        EXPECT_NE(info.value, nullptr) << info.key;
    }
}

TEST(ReadingColumns, EveryOutputShowsItsColumnsOnceWithTheirHeadings) {
    std::set<ReadingColumn> shown;
    std::set<std::string> csvHeadings;
    for (const Output& output : kOutputs) {
        std::set<ReadingColumn> once;
        for (ReadingColumn column : output.columns) {
            const zta::ReadingColumnInfo& info = readingColumn(column);
            EXPECT_TRUE(once.insert(column).second) << output.name << ": " << info.key << " twice";
            shown.insert(column);
            const std::string needs = output.needs;
            if (needs == "csv") {
                ASSERT_NE(info.csvHeading, nullptr) << output.name << ": " << info.key;
                EXPECT_TRUE(csvHeadings.insert(info.csvHeading).second) << info.csvHeading;
            }
            if (needs == "overview") {
                EXPECT_NE(info.overviewHeading, nullptr) << output.name << ": " << info.key;
            }
        }
    }
    // A row no output shows is a value added halfway.
    for (const zta::ReadingColumnInfo& info : readingColumns())
        EXPECT_TRUE(shown.count(info.id)) << info.key << " is shown nowhere";
}

// Each column reads its own value: readings with a different value in every field give every
// column a different value (the relay bits apart, which rebuild the relay byte).
TEST(ReadingColumns, NoTwoColumnsReadTheSameValue) {
    zta::Readings r;
    r.concentration = 23.5;
    r.relayState = 5;
    r.threshold1 = 20;
    r.threshold2 = 50;
    r.auxValue = 7;
    r.refChannel = 1500;
    r.workChannel = 1480;
    r.dValue = -3;
    r.temperature = 25;
    r.factoryNumber = 40000;
    r.softwareVersion = 12;
    r.gasCode = 2;
    r.extendedModel = true;
    r.deviceRange = 4.4;
    r.deviceMidGas = 2.7;
    r.deviceMaxGas = 4.5;
    zta::SlotTexts texts{"CH4", "ppm"};

    std::set<zta::ReadingValue> values;
    int relays = 0;
    for (const zta::ReadingColumnInfo& info : readingColumns()) {
        const zta::ReadingValue value = info.value(r, texts);
        const int bit = info.id == ReadingColumn::HealthRelay       ? 0
                        : info.id == ReadingColumn::Threshold1Relay ? 1
                        : info.id == ReadingColumn::Threshold2Relay ? 2
                                                                    : -1;
        if (bit >= 0)
            relays |= static_cast<int>(std::get<long long>(value)) << bit;
        else
            EXPECT_TRUE(values.insert(value).second) << info.key << " repeats another column";
    }
    EXPECT_EQ(relays, r.relayState);

    // A standard analyzer's unit is the volume fraction of its gas, whatever texts it has.
    r.extendedModel = false;
    EXPECT_EQ(std::get<std::string>(zta::readingValue(ReadingColumn::UnitName, r, texts)),
              zta::kVolumeUnitName);
}

}  // namespace
