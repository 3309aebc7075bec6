// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The protocol of one analyzer's verification as a PDF/A-1b document, and the batch summary as
// PDF and CSV. The font (DejaVu Sans) travels in the program's resources and is embedded, so
// the document reads the same where no DejaVu is installed. Needs a QGuiApplication.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <vector>

#include "verify/journal.h"
#include "verify/models.h"
#include "verify/procedure.h"

namespace zta::verify {

// "<station>-<year>-<sequence>"
QString protocolNumber(const QString& station, int year, int sequence);

struct ProtocolData {
    QString number;
    QString lab;
    QString station;
    Conditions conditions;
    QDateTime date;
    AnalyzerInfo analyzer;
    Method method;
    std::vector<Cylinder> cylinders;  // one per point
    std::vector<PointResult> results;
    Verdict verdict;
    bool stopped = false;
};

// The document's bytes; empty, with *error, when it could not be written.
QByteArray protocolPdf(const ProtocolData& data, QString* error);

struct SummaryLine {
    QString number;
    AnalyzerInfo analyzer;
    Verdict verdict;
};
struct SummaryData {
    QString lab;
    QString station;
    Conditions conditions;
    QDateTime date;
    QString methodName;
    int methodVersion = 0;
    std::vector<SummaryLine> lines;
};
QByteArray summaryPdf(const SummaryData& data, QString* error);
// UTF-8 with a header line; fields a spreadsheet would take for a formula are quoted away.
QByteArray summaryCsv(const SummaryData& data);

}  // namespace zta::verify
