// SPDX-License-Identifier: GPL-3.0-or-later
// zta-k7's command line: arguments separated by NUL bytes. Whatever is accepted opens at most
// fifty windows at distinct network numbers and waits a bounded time.
#include <QStringList>
#include <cstdint>

#include "app/station_options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QStringList args{QStringLiteral("zta-k7")};
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    for (const QByteArray& a : bytes.split('\0')) args << QString::fromUtf8(a);

    zta::StationCommandLine r;
    QString error;
    if (!zta::parseStationCommandLine(args, &r, &error)) {
        if (error.isEmpty()) __builtin_trap();
        return 0;
    }
    if (r.waitMs < 0 || r.waitMs > 600000 || r.openNumbers.size() > 50) __builtin_trap();
    for (qsizetype i = 0; i < r.openNumbers.size(); ++i) {
        const int n = r.openNumbers[i];
        if (n < 0 || n > 255 || r.openNumbers.indexOf(n) != i) __builtin_trap();
    }
    return 0;
}
