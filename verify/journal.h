// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The verification journal: one SQLite file, append-only, every row chained to the one before
// by a hash, so that a row changed after it was written is found. It keeps the cylinders, the
// method versions, each procedure with every reading taken and every result, and each
// protocol with its PDF bytes. One journal is used from the thread that opened it.

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <optional>
#include <vector>

#include "verify/models.h"
#include "verify/procedure.h"

namespace zta::verify {

struct Conditions {
    QString operatorName;
    QString temperature;  // as typed: "21.5 °C"
    QString pressure;
    QString humidity;
};

struct ProcedureStart {
    QString methodName;
    int methodVersion = 0;
    std::vector<qint64> cylinders;  // journal numbers, one per point
    std::vector<AnalyzerInfo> analyzers;
    Conditions conditions;
    QString station;
};

struct ChangedRow {
    qint64 id = 0;
    QString reason;  // in the operator's words
};

struct StoredProcedure {
    qint64 id = 0;
    ProcedureStart start;
    std::vector<std::pair<AnalyzerId, PointResult>> results;  // in the order they were taken
};

struct StoredProtocol {
    qint64 id = 0;
    QString number;
    qint64 procedure = 0;
    int factoryNumber = 0;
    bool pass = false;
    qint64 writtenMs = 0;
    QByteArray pdf;
};

class Journal {
  public:
    Journal();
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // Opens or creates the journal at `path`; false with *error in the operator's words.
    bool open(const QString& path, QString* error);
    QString lastError() const { return lastError_; }

    // A cylinder's journal number; the same data given again gets the number it already has.
    std::optional<qint64> addCylinder(const Cylinder& cylinder);
    std::optional<Cylinder> cylinder(qint64 journalNumber) const;

    // Stores a method unless its latest version of that name has the same content; sets
    // `method.version` to the version it is kept as (a changed method is a new version).
    bool saveMethod(Method& method);
    std::optional<Method> method(const QString& name, int version) const;

    std::optional<qint64> beginProcedure(const ProcedureStart& start);
    bool addRecord(qint64 procedure, const QString& kind, const QJsonObject& data);
    // The end of a procedure: "finished", "stopped" or "closed" (interrupted, closed later).
    bool endProcedure(qint64 procedure, const QString& how);
    // Procedures begun and never ended: a crash or a lost power in the middle.
    std::vector<StoredProcedure> interrupted() const;
    std::optional<StoredProcedure> procedure(qint64 id) const;

    // The protocol's sequence for `<station>-<year>-`: one more than the highest stored.
    int nextProtocolSequence(const QString& station, int year) const;
    bool addProtocol(qint64 procedure, const QString& number, int factoryNumber, bool pass,
                     const QByteArray& pdf);
    // Protocols whose factory number, date (YYYY-MM-DD), verdict or cylinder number match;
    // an empty filter matches all.
    struct Filter {
        std::optional<int> factoryNumber;
        QString date;
        std::optional<bool> pass;
        QString cylinder;
    };
    std::vector<StoredProtocol> protocols(const Filter& filter) const;

    // Every row whose content or place in the chain is not as written.
    std::vector<ChangedRow> check() const;

  private:
    std::optional<qint64> append(const QString& kind, qint64 procedure, const QJsonObject& data,
                                 const QByteArray& blob = {});
    QString connection_;
    mutable QString lastError_;
};

// Writes what a procedure tells into the journal as it happens.
class JournalRecorder : public ProcedureListener {
  public:
    JournalRecorder(Journal& journal, qint64 procedure)
        : journal_(journal), procedure_(procedure) {}
    void onRawReading(AnalyzerId id, int point, bool after, double steadyTime, std::int64_t wallMs,
                      const ReadingValues& values) override;
    void onPointResult(AnalyzerId id, const PointResult& result) override;
    void onPhase(Phase phase, int point) override;
    void onCommand(AnalyzerId id, Command command, double value) override;

  private:
    Journal& journal_;
    qint64 procedure_;
};

}  // namespace zta::verify
