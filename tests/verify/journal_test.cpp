// SPDX-License-Identifier: GPL-3.0-or-later
#include "verify/journal.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "fake_clock.h"

namespace zta::verify {
namespace {

using namespace std::chrono;

class NoCommands : public CommandPort {
  public:
    void send(AnalyzerId, Command, double) override {}
};

Cylinder methaneMid() {
    Cylinder c;
    c.number = "4711";
    c.gasCode = 1;
    c.certified = 2.2;
    c.unit = Unit::VolumePercent;
    c.uncertainty = {0.04, false};
    c.certificate = "ПГС-123";
    c.made = Date{year{2026}, month{3}, day{1}};
    c.expires = Date{year{2027}, month{3}, day{1}};
    return c;
}

// Runs sqlite3 on the journal as anyone with the file could; its output and exit code.
std::pair<int, QString> sqlite(const QString& path, const QString& sql) {
    QProcess p;
    p.start("sqlite3", {path, sql});
    if (!p.waitForFinished(30000)) return {-1, "sqlite3 did not run"};
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardError() + p.readAllStandardOutput())};
}

class JournalTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath("journal.sqlite");
        QString error;
        ASSERT_TRUE(journal.open(path, &error)) << error.toStdString();
    }
    QTemporaryDir dir;
    QString path;
    Journal journal;
};

TEST_F(JournalTest, CylindersAndMethodVersionsAreKeptOnce) {
    const auto first = journal.addCylinder(methaneMid());
    ASSERT_TRUE(first) << journal.lastError().toStdString();
    EXPECT_EQ(journal.addCylinder(methaneMid()), first) << "the same cylinder, the same number";
    Cylinder other = methaneMid();
    other.certified = 2.25;
    EXPECT_NE(journal.addCylinder(other), first);
    const auto back = journal.cylinder(*first);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->certificate, "ПГС-123");
    EXPECT_EQ(back->expires, methaneMid().expires);

    Method m = defaultMethod("МП-К7", 1, 100, Unit::Lel);
    ASSERT_TRUE(journal.saveMethod(m));
    EXPECT_EQ(m.version, 1);
    Method again = defaultMethod("МП-К7", 1, 100, Unit::Lel);
    ASSERT_TRUE(journal.saveMethod(again));
    EXPECT_EQ(again.version, 1) << "unchanged: no new version";
    Method changed = again;
    changed.points[1].limit.value = 4.0;
    ASSERT_TRUE(journal.saveMethod(changed));
    EXPECT_EQ(changed.version, 2) << "a changed method is a new version";
    EXPECT_EQ(journal.method("МП-К7", 1)->points[1].limit.value, 5.0) << "the old one stays";
    EXPECT_EQ(journal.method("МП-К7", 2)->points[1].limit.value, 4.0);
    EXPECT_FALSE(journal.method("МП-К7", 3));
}

TEST_F(JournalTest, AnInterruptedProcedureIsFoundAndResumes) {
    Method m = defaultMethod("МП-К7", 1, 100, Unit::Lel);
    m.warmupS = 0;
    m.settle.seconds = 2;
    m.averageCount = 2;
    ASSERT_TRUE(journal.saveMethod(m));
    Cylinder air = methaneMid();
    air.gasCode = 0;
    air.certified = 0;
    const std::vector<Cylinder> cylinders = {air, methaneMid(), methaneMid()};
    ProcedureStart start{"МП-К7", m.version, {}, {}, {"Иванов", "21 °C", "101 кПа", "45 %"}, "ST"};
    for (const Cylinder& c : cylinders) start.cylinders.push_back(*journal.addCylinder(c));
    AnalyzerInfo a;
    a.id = 7;
    a.factoryNumber = 1234;
    start.analyzers = {a};
    const auto id = journal.beginProcedure(start);
    ASSERT_TRUE(id);

    FakeClock clock;
    NoCommands commands;
    {
        JournalRecorder recorder(journal, *id);
        Procedure p(m, cylinders, {a}, clock, commands, &recorder);
        p.onReading(7, 0, 0, {0.5, false, false}, true);
        ASSERT_TRUE(p.confirmGas());
        for (int i = 1; i <= 4; ++i) {
            clock.t = i;
            p.onReading(7, i, i * 1000, {0.5, false, false}, true);
        }
        ASSERT_EQ(p.phase(), Phase::PointDone);
        // the station stops here: no end is written
    }

    const auto open = journal.interrupted();
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(open[0].start.conditions.operatorName, "Иванов");
    EXPECT_EQ(open[0].start.analyzers.at(0).factoryNumber, 1234);
    ASSERT_EQ(open[0].results.size(), 1u);
    EXPECT_NEAR(open[0].results[0].second.averageLel, 0.5, 1e-9);
    EXPECT_EQ(open[0].results[0].second.readings.size(), 2u);

    Procedure resumed(m, cylinders, {a}, clock, commands);
    ASSERT_TRUE(resumed.restore(open[0].results[0].first, open[0].results[0].second));
    clock.t = 5;
    resumed.onReading(7, 5, 5000, {50, false, false}, true);
    EXPECT_EQ(resumed.phase(), Phase::AwaitGas);
    EXPECT_EQ(resumed.point(), 1) << "goes on at the second point";

    ASSERT_TRUE(journal.endProcedure(*id, "closed"));
    EXPECT_TRUE(journal.interrupted().empty());
    EXPECT_TRUE(journal.check().empty());
}

TEST_F(JournalTest, ProtocolNumbersAndSearch) {
    Cylinder c = methaneMid();
    ProcedureStart start{"МП-К7", 1, {*journal.addCylinder(c)}, {}, {}, "ST"};
    const qint64 proc = *journal.beginProcedure(start);
    EXPECT_EQ(journal.nextProtocolSequence("ST", 2026), 1);
    ASSERT_TRUE(journal.addProtocol(proc, "ST-2026-1", 1001, true, "%PDF-1.4 one"));
    ASSERT_TRUE(journal.addProtocol(proc, "ST-2026-2", 1002, false, "%PDF-1.4 two"));
    ASSERT_TRUE(journal.addProtocol(proc, "ST-2-2026-9", 1003, false, "%PDF-1.4 three"));
    EXPECT_EQ(journal.nextProtocolSequence("ST", 2026), 3);
    EXPECT_EQ(journal.nextProtocolSequence("ST", 2027), 1);
    EXPECT_EQ(journal.nextProtocolSequence("ST-2", 2026), 10);

    Journal::Filter byNumber;
    byNumber.factoryNumber = 1002;
    const auto found = journal.protocols(byNumber);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].pdf, QByteArray("%PDF-1.4 two")) << "re-printed from the stored bytes";
    Journal::Filter failed;
    failed.pass = false;
    EXPECT_EQ(journal.protocols(failed).size(), 2u);
    Journal::Filter byCylinder;
    byCylinder.cylinder = "4711";
    EXPECT_EQ(journal.protocols(byCylinder).size(), 3u);
    byCylinder.cylinder = "999";
    EXPECT_TRUE(journal.protocols(byCylinder).empty());
    Journal::Filter today;
    today.date = QDate::currentDate().toString(Qt::ISODate);
    EXPECT_EQ(journal.protocols(today).size(), 3u);
}

TEST_F(JournalTest, ARowChangedOrRemovedAfterWritingIsReported) {
    const qint64 cyl = *journal.addCylinder(methaneMid());
    Method m = defaultMethod("МП-К7", 1, 100, Unit::Lel);
    ASSERT_TRUE(journal.saveMethod(m));
    Cylinder other = methaneMid();
    other.number = "4712";
    ASSERT_TRUE(journal.addCylinder(other));
    ASSERT_TRUE(journal.check().empty());

    const auto refused = sqlite(path, QString("UPDATE entries SET data = replace(data, '2.2', "
                                              "'2.3') WHERE id = %1;")
                                          .arg(cyl));
    EXPECT_NE(refused.first, 0) << "append-only: " << refused.second.toStdString();
    EXPECT_TRUE(journal.check().empty());

    const auto edited =
        sqlite(path, QString("DROP TRIGGER entries_no_update; UPDATE entries SET data = "
                             "replace(data, '2.2', '2.3') WHERE id = %1;")
                         .arg(cyl));
    ASSERT_EQ(edited.first, 0) << edited.second.toStdString();
    auto changed = journal.check();
    ASSERT_EQ(changed.size(), 1u);
    EXPECT_EQ(changed[0].id, cyl);
    EXPECT_EQ(changed[0].reason, QString("запись %1 изменена после записи").arg(cyl));

    const auto removed =
        sqlite(path, "DROP TRIGGER entries_no_delete; DELETE FROM entries WHERE id = 2;");
    ASSERT_EQ(removed.first, 0) << removed.second.toStdString();
    changed = journal.check();
    ASSERT_EQ(changed.size(), 2u);
    EXPECT_EQ(changed[1].reason, "перед записью 3 запись удалена или вставлена");
}

TEST(JournalOpen, AFileThatIsNoJournalIsRefusedWithItsName) {
    QTemporaryDir dir;
    const QString path = dir.filePath("notes.txt");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(4096, 'x'));
    f.close();
    Journal journal;
    QString error;
    EXPECT_FALSE(journal.open(path, &error));
    EXPECT_TRUE(error.startsWith("Журнал поверок " + path + ": ")) << error.toStdString();
    Journal missing;
    EXPECT_FALSE(missing.open(dir.filePath("no/such/folder/j.sqlite"), &error));
}

}  // namespace
}  // namespace zta::verify
