// SPDX-License-Identifier: GPL-3.0-or-later
#include "verify/journal.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <atomic>

#include "verify/records_json.h"

namespace zta::verify {

namespace {

std::atomic<int> connections{0};

// The first row's "previous" hash.
const QString kGenesis(64, QLatin1Char('0'));

QString compact(const QJsonObject& o) {
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

QJsonObject parse(const QString& text) { return QJsonDocument::fromJson(text.toUtf8()).object(); }

QString rowHash(const QString& prev, qint64 id, qint64 written, const QString& kind, qint64 proc,
                const QString& data, const QByteArray& blob) {
    QCryptographicHash h(QCryptographicHash::Sha256);
    h.addData(QStringLiteral("%1\n%2\n%3\n%4\n%5\n")
                  .arg(prev)
                  .arg(id)
                  .arg(written)
                  .arg(kind)
                  .arg(proc)
                  .toUtf8());
    h.addData(data.toUtf8());
    h.addData(QByteArrayView("\n"));
    h.addData(QCryptographicHash::hash(blob, QCryptographicHash::Sha256).toHex());
    return QString::fromLatin1(h.result().toHex());
}

struct Row {
    qint64 id = 0;
    qint64 written = 0;
    QString kind;
    qint64 proc = 0;
    QString data;
};

std::vector<Row> rows(const QString& connection, const QString& kind, qint64 proc = -1) {
    QSqlQuery q(QSqlDatabase::database(connection));
    q.prepare(proc < 0
                  ? "SELECT id, written, kind, proc, data FROM entries WHERE kind = ? ORDER BY id"
                  : "SELECT id, written, kind, proc, data FROM entries WHERE kind = ? AND proc = ? "
                    "ORDER BY id");
    q.addBindValue(kind);
    if (proc >= 0) q.addBindValue(proc);
    std::vector<Row> all;
    if (!q.exec()) return all;
    while (q.next())
        all.push_back({q.value(0).toLongLong(), q.value(1).toLongLong(), q.value(2).toString(),
                       q.value(3).toLongLong(), q.value(4).toString()});
    return all;
}

const char* phaseKey(Phase phase) {
    switch (phase) {
        case Phase::Warmup:
            return "warmup";
        case Phase::AwaitGas:
            return "awaitGas";
        case Phase::Measuring:
            return "measuring";
        case Phase::PointDone:
            return "pointDone";
        case Phase::Finished:
            return "finished";
        case Phase::Stopped:
            return "stopped";
    }
    return "";
}

}  // namespace

Journal::Journal() : connection_(QStringLiteral("zta-verify-journal-%1").arg(connections++)) {}

Journal::~Journal() {
    if (QSqlDatabase::contains(connection_)) {
        QSqlDatabase::database(connection_, false).close();
        QSqlDatabase::removeDatabase(connection_);
    }
}

bool Journal::open(const QString& path, QString* error) {
    auto fail = [&](const QString& what) {
        *error = lastError_ = QStringLiteral("Журнал поверок %1: %2").arg(path, what);
        return false;
    };
    if (!QSqlDatabase::isDriverAvailable("QSQLITE"))
        return fail("нет драйвера SQLite для Qt (пакет libqt6sql6-sqlite)");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", connection_);
        db.setDatabaseName(path);
        db.setConnectOptions("QSQLITE_BUSY_TIMEOUT=5000");
        if (!db.open()) return fail(db.lastError().text());
        QSqlQuery q(db);
        const char* setup[] = {
            "PRAGMA journal_mode=WAL",
            // A reading written is a reading kept, even when the power goes.
            "PRAGMA synchronous=FULL",
            "CREATE TABLE IF NOT EXISTS entries (id INTEGER PRIMARY KEY, written INTEGER NOT NULL, "
            "kind TEXT NOT NULL, proc INTEGER NOT NULL, data TEXT NOT NULL, blob BLOB, "
            "prev TEXT NOT NULL, hash TEXT NOT NULL)",
            "CREATE INDEX IF NOT EXISTS entries_kind ON entries (kind, proc)",
            "CREATE TRIGGER IF NOT EXISTS entries_no_update BEFORE UPDATE ON entries "
            "BEGIN SELECT RAISE(ABORT, 'the journal is append-only'); END",
            "CREATE TRIGGER IF NOT EXISTS entries_no_delete BEFORE DELETE ON entries "
            "BEGIN SELECT RAISE(ABORT, 'the journal is append-only'); END",
        };
        for (const char* sql : setup)
            if (!q.exec(sql)) return fail(q.lastError().text());
        // A file that is not a journal answers the first query with an error, not rows.
        if (!q.exec("SELECT id, written, kind, proc, data, blob, prev, hash FROM entries LIMIT 1"))
            return fail(q.lastError().text());
    }
    return true;
}

std::optional<qint64> Journal::append(const QString& kind, qint64 proc, const QJsonObject& data,
                                      const QByteArray& blob) {
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    QSqlQuery q(db);
    auto fail = [&]() -> std::optional<qint64> {
        lastError_ =
            QStringLiteral("Журнал поверок: запись не сохранена: %1").arg(q.lastError().text());
        QSqlQuery(db).exec("ROLLBACK");
        return std::nullopt;
    };
    // Another station on the same file waits here, so the chain never forks.
    if (!q.exec("BEGIN IMMEDIATE")) return fail();
    if (!q.exec("SELECT id, hash FROM entries ORDER BY id DESC LIMIT 1")) return fail();
    qint64 id = 1;
    QString prev = kGenesis;
    if (q.next()) {
        id = q.value(0).toLongLong() + 1;
        prev = q.value(1).toString();
    }
    const qint64 written = QDateTime::currentMSecsSinceEpoch();
    const QString text = compact(data);
    q.prepare(
        "INSERT INTO entries (id, written, kind, proc, data, blob, prev, hash) "
        "VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
    for (const QVariant& v : {QVariant(id), QVariant(written), QVariant(kind), QVariant(proc),
                              QVariant(text), QVariant(blob), QVariant(prev),
                              QVariant(rowHash(prev, id, written, kind, proc, text, blob))})
        q.addBindValue(v);
    if (!q.exec() || !q.exec("COMMIT")) return fail();
    return id;
}

std::optional<qint64> Journal::addCylinder(const Cylinder& c) {
    const QString text = compact(toJson(c));
    for (const Row& r : rows(connection_, "cylinder"))
        if (r.data == text) return r.id;
    return append("cylinder", 0, toJson(c));
}

std::optional<Cylinder> Journal::cylinder(qint64 journalNumber) const {
    for (const Row& r : rows(connection_, "cylinder")) {
        if (r.id != journalNumber) continue;
        QString error;
        return cylinderFromJson(parse(r.data), &error);
    }
    return std::nullopt;
}

bool Journal::saveMethod(Method& m) {
    std::optional<Method> latest;
    for (const Row& r : rows(connection_, "method")) {
        QString error;
        auto stored = methodFromJson(parse(r.data), &error);
        if (stored && stored->name == m.name && (!latest || stored->version > latest->version))
            latest = stored;
    }
    if (latest && sameContent(*latest, m)) {
        m.version = latest->version;
        return true;
    }
    Method next = m;
    next.version = latest ? latest->version + 1 : 1;
    if (!append("method", 0, toJson(next))) return false;
    m.version = next.version;
    return true;
}

std::optional<Method> Journal::method(const QString& name, int version) const {
    for (const Row& r : rows(connection_, "method")) {
        QString error;
        auto stored = methodFromJson(parse(r.data), &error);
        if (stored && stored->name == name.toStdString() && stored->version == version)
            return stored;
    }
    return std::nullopt;
}

namespace {

QJsonObject startToJson(const ProcedureStart& s) {
    QJsonArray cylinders, analyzers;
    for (qint64 c : s.cylinders) cylinders.append(double(c));
    for (const AnalyzerInfo& a : s.analyzers) analyzers.append(toJson(a));
    return {{"method", s.methodName},
            {"methodVersion", s.methodVersion},
            {"cylinders", cylinders},
            {"analyzers", analyzers},
            {"operator", s.conditions.operatorName},
            {"temperature", s.conditions.temperature},
            {"pressure", s.conditions.pressure},
            {"humidity", s.conditions.humidity},
            {"station", s.station}};
}

ProcedureStart startFromJson(const QJsonObject& o) {
    ProcedureStart s;
    s.methodName = o.value("method").toString();
    s.methodVersion = o.value("methodVersion").toInt();
    for (const QJsonValue& v : o.value("cylinders").toArray())
        s.cylinders.push_back(qint64(v.toDouble()));
    for (const QJsonValue& v : o.value("analyzers").toArray()) {
        QString error;
        if (auto a = analyzerFromJson(v.toObject(), &error)) s.analyzers.push_back(*a);
    }
    s.conditions = {o.value("operator").toString(), o.value("temperature").toString(),
                    o.value("pressure").toString(), o.value("humidity").toString()};
    s.station = o.value("station").toString();
    return s;
}

}  // namespace

std::optional<qint64> Journal::beginProcedure(const ProcedureStart& start) {
    return append("procedure", 0, startToJson(start));
}

bool Journal::addRecord(qint64 procedure, const QString& kind, const QJsonObject& data) {
    return append(kind, procedure, data).has_value();
}

bool Journal::endProcedure(qint64 procedure, const QString& how) {
    return append("end", procedure, {{"how", how}}).has_value();
}

std::optional<StoredProcedure> Journal::procedure(qint64 id) const {
    for (const Row& r : rows(connection_, "procedure")) {
        if (r.id != id) continue;
        StoredProcedure p;
        p.id = id;
        p.start = startFromJson(parse(r.data));
        for (const Row& result : rows(connection_, "result", id)) {
            const QJsonObject o = parse(result.data);
            QString error;
            if (auto pr = resultFromJson(o.value("result").toObject(), &error))
                p.results.push_back({AnalyzerId(o.value("analyzer").toDouble()), *pr});
        }
        return p;
    }
    return std::nullopt;
}

std::vector<StoredProcedure> Journal::interrupted() const {
    std::vector<StoredProcedure> open;
    for (const Row& r : rows(connection_, "procedure"))
        if (rows(connection_, "end", r.id).empty())
            if (auto p = procedure(r.id)) open.push_back(*p);
    return open;
}

int Journal::nextProtocolSequence(const QString& station, int year) const {
    const QString prefix = QStringLiteral("%1-%2-").arg(station).arg(year);
    int highest = 0;
    for (const Row& r : rows(connection_, "protocol")) {
        const QString number = parse(r.data).value("number").toString();
        if (!number.startsWith(prefix)) continue;
        bool ok = false;
        const int seq = number.mid(prefix.size()).toInt(&ok);
        if (ok) highest = std::max(highest, seq);
    }
    return highest + 1;
}

bool Journal::addProtocol(qint64 procedure, const QString& number, int factoryNumber, bool pass,
                          const QByteArray& pdf) {
    return append("protocol", procedure,
                  {{"number", number}, {"factoryNumber", factoryNumber}, {"pass", pass}}, pdf)
        .has_value();
}

std::vector<StoredProtocol> Journal::protocols(const Filter& filter) const {
    std::vector<StoredProtocol> found;
    for (const Row& r : rows(connection_, "protocol")) {
        const QJsonObject o = parse(r.data);
        StoredProtocol p{r.id,
                         o.value("number").toString(),
                         r.proc,
                         o.value("factoryNumber").toInt(),
                         o.value("pass").toBool(),
                         r.written,
                         {}};
        if (filter.factoryNumber && *filter.factoryNumber != p.factoryNumber) continue;
        if (filter.pass && *filter.pass != p.pass) continue;
        if (!filter.date.isEmpty() &&
            QDateTime::fromMSecsSinceEpoch(p.writtenMs).date().toString(Qt::ISODate) != filter.date)
            continue;
        if (!filter.cylinder.isEmpty()) {
            bool uses = false;
            if (auto proc = procedure(p.procedure))
                for (qint64 n : proc->start.cylinders)
                    if (auto c = cylinder(n))
                        uses = uses || c->number == filter.cylinder.toStdString();
            if (!uses) continue;
        }
        QSqlQuery q(QSqlDatabase::database(connection_));
        q.prepare("SELECT blob FROM entries WHERE id = ?");
        q.addBindValue(p.id);
        if (q.exec() && q.next()) p.pdf = q.value(0).toByteArray();
        found.push_back(p);
    }
    return found;
}

std::vector<ChangedRow> Journal::check() const {
    std::vector<ChangedRow> changed;
    QSqlQuery q(QSqlDatabase::database(connection_));
    if (!q.exec(
            "SELECT id, written, kind, proc, data, blob, prev, hash FROM entries ORDER BY id")) {
        changed.push_back({0, QStringLiteral("журнал не читается: %1").arg(q.lastError().text())});
        return changed;
    }
    QString previous = kGenesis;
    qint64 expectedId = 1;
    while (q.next()) {
        const qint64 id = q.value(0).toLongLong();
        const QString prev = q.value(6).toString();
        const QString hash = q.value(7).toString();
        if (id != expectedId || prev != previous)
            changed.push_back(
                {id, QStringLiteral("перед записью %1 запись удалена или вставлена").arg(id)});
        if (rowHash(prev, id, q.value(1).toLongLong(), q.value(2).toString(),
                    q.value(3).toLongLong(), q.value(4).toString(),
                    q.value(5).toByteArray()) != hash)
            changed.push_back({id, QStringLiteral("запись %1 изменена после записи").arg(id)});
        previous = hash;
        expectedId = id + 1;
    }
    return changed;
}

void JournalRecorder::onRawReading(AnalyzerId id, int point, bool after, double steadyTime,
                                   std::int64_t wallMs, const ReadingValues& v) {
    journal_.addRecord(procedure_, "raw",
                       {{"analyzer", double(id)},
                        {"point", point},
                        {"after", after},
                        {"t", steadyTime},
                        {"wall", double(wallMs)},
                        {"concentration", v.concentration},
                        {"relay1", v.relay1},
                        {"relay2", v.relay2}});
}

void JournalRecorder::onPointResult(AnalyzerId id, const PointResult& result) {
    journal_.addRecord(procedure_, "result",
                       {{"analyzer", double(id)}, {"result", toJson(result)}});
}

void JournalRecorder::onPhase(Phase phase, int point) {
    journal_.addRecord(procedure_, "phase", {{"phase", phaseKey(phase)}, {"point", point}});
}

void JournalRecorder::onCommand(AnalyzerId id, Command command, double value) {
    journal_.addRecord(procedure_, "command",
                       {{"analyzer", double(id)},
                        {"command", QString::fromUtf8(commandText(command))},
                        {"value", value}});
}

}  // namespace zta::verify
