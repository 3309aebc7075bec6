// SPDX-License-Identifier: GPL-3.0-or-later
// The verification journal's cost: one raw reading written through to the disk (as the
// procedure writes every reading it takes), and a full check of the chain. Prints figures;
// asserts nothing.
//
//   verify_journal_bench [rows] [folder]     (default 2000 rows, in a temporary folder)

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "verify/journal.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rows = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
    QTemporaryDir dir(argc > 2 ? QString(argv[2]) + "/journal-XXXXXX" : QString());
    zta::verify::Journal journal;
    QString error;
    if (!dir.isValid() || !journal.open(dir.filePath("journal.sqlite"), &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    zta::verify::JournalRecorder recorder(journal, 1);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < rows; ++i)
        recorder.onRawReading(i % 50, 1, false, i * 0.04, i * 40, {50.0 + i % 3, true, false});
    const double perRow = timer.nsecsElapsed() / 1e6 / rows;
    timer.restart();
    const auto changed = journal.check();
    std::printf(
        "journal: %d raw readings, %.2f ms each (%.0f a second at most); check %lld ms, "
        "%zu rows changed\n",
        rows, perRow, 1000.0 / perRow, static_cast<long long>(timer.elapsed()), changed.size());
    return 0;
}
