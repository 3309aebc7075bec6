// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QtGlobal>

class QIODevice;

#include <array>

namespace zta {

// The calibration gas the operator chose, kept from one run to the next in "CalDataK7.cfg"
// (current directory). Texts are UTF-8 in memory; the file holds Windows-1251.
inline constexpr const char* kCalDataFileName = "CalDataK7.cfg";

inline constexpr int kCalGasCount = 8;

// The most of the file that is read: a station writes some twenty bytes.
inline constexpr qint64 kCalDataReadLimit = 1024 * 1024;

// The gas menu, in the order of its check marks.
struct CalGasEntry {
    const char* name;
    int menuId;
};
inline constexpr std::array<CalGasEntry, kCalGasCount> kCalGasMenu{{
    {"Метан", 145},
    {"Пропан", 146},
    {"Гексан", 150},
    {"Бутан", 32794},
    {"Изобутан", 32796},
    {"Пентан", 32807},
    {"Циклопентан", 32808},
    {"Пропилен", 32809},
}};

struct CalData {
    QString calGasName = QStringLiteral("Метан");
    double maxGas = 4.4;
    double midGas = 2.7;
    std::array<bool, kCalGasCount> gasMarks{};
};

enum class CalReadStatus {
    Loaded,     // values and marks come from the file
    Missing,    // no file (or it cannot be opened): defaults, no marks
    Malformed,  // truncated or garbled: defaults, no marks, `warning` says so
};

struct CalReadResult {
    CalReadStatus status = CalReadStatus::Missing;
    QString warning;  // non-empty only for Malformed; the main window shows it
};

// Sets the mark of the gas whose name equals `data.calGasName` exactly, clears the others.
void markCalGas(CalData& data);

// Reads `path` into `data`. Whatever goes wrong, `data` ends with either the file's complete
// contents or the defaults, never a mix.
CalReadResult readCalDataFile(const QString& path, CalData& data);

// The same from an open device, or from the bytes of a file.
CalReadResult readCalData(QIODevice& device, CalData& data);
CalReadResult decodeCalData(const QByteArray& bytes, CalData& data);

// Writes through a temporary file that replaces `path` only once it is complete, so a crash or
// a full disk never leaves a cut file behind. Returns false (and leaves any old file as it was)
// when the file cannot be written; `error` then gets the reason.
bool writeCalDataFile(const QString& path, const CalData& data, QString* error = nullptr);

// The bytes writeCalDataFile stores, for the given values.
QByteArray encodeCalData(const CalData& data);

}  // namespace zta
