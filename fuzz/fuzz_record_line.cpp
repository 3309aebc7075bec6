// SPDX-License-Identifier: GPL-3.0-or-later
// One record line from any readings and any note: it stays one small line of the file's
// format, ends with CR LF, and its note never exceeds the limit.
#include <QRegularExpression>
#include <cstdint>
#include <cstring>

#include "device/record_file.h"

using namespace zta;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    struct {
        int16_t temperature, dValue, refChannel, workChannel, auxValue;
        uint8_t relays;
        int32_t concentration;  // the decoded reading is an integer register
        uint8_t hour, minute, second;
    } raw{};
    const size_t head = size < sizeof raw ? size : sizeof raw;
    std::memcpy(&raw, data, head);
    RecordValues v{raw.temperature,          raw.dValue,   raw.refChannel, raw.workChannel,
                   raw.concentration / 10.0, raw.auxValue, raw.relays};
    const QTime time(raw.hour % 24, raw.minute % 60, raw.second % 60);
    const QString note = QString::fromUtf8(reinterpret_cast<const char*>(data) + head,
                                           static_cast<qsizetype>(size - head));

    const QByteArray line = buildRecordLine(v, time, note);
    if (!line.endsWith("\r\n")) __builtin_trap();
    static const QRegularExpression fields(
        QStringLiteral("^-?\\d+ -?\\d+ -?\\d+ -?\\d+ -?\\d+ -?\\d+ [01]+ \\d\\d:\\d\\d:\\d\\d "));
    if (!fields.match(QString::fromLatin1(line.left(80))).hasMatch()) __builtin_trap();
    // Every character of the note is at most one byte, and a line end within it two.
    if (line.size() > 80 + 2 * kNoteLimit + 2) __builtin_trap();
    // A line end inside the note is always the file's CR LF.
    for (qsizetype i = 0; i < line.size(); ++i)
        if (line[i] == '\n' && (i == 0 || line[i - 1] != '\r')) __builtin_trap();
    return 0;
}
