// SPDX-License-Identifier: GPL-3.0-or-later
#include "verify/plan.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#ifndef ZTA_SOURCE_DIR
#error "the tests need the source folder for the schema and the example"
#endif

namespace zta::verify {
namespace {

using namespace std::chrono;

QByteArray readSource(const QString& relative) {
    QFile f(QString(ZTA_SOURCE_DIR) + "/" + relative);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

const char* kCylinder =
    R"({"number": "Б-1", "gas": 1, "certified": 2.2, "unit": "vol", "uncertainty": 0.02,
        "certificate": "ПС-1", "made": "2026-01-01", "expires": "2027-01-01"})";

const QString kMethod = R"({"name": "МП", "version": 1})";

QByteArray plan(const QString& method = kMethod, const QString& cylinders = "[1, 2, 3]",
                const QString& analyzers = "[1, 2]", const QString& extra = "") {
    return QString(R"({"method": %1, "cylinders": %2, "analyzers": %3, "operator": "Иванов",
                       "conditions": {"temperature": "21 °C", "pressure": "101 кПа",
                                      "humidity": "40 %"}%4})")
        .arg(method, cylinders, analyzers, extra)
        .toUtf8();
}

struct Case {
    const char* what;
    QByteArray json;
    const char* error;  // nullptr: a good plan
};

std::vector<Case> cases() {
    const QString inlineCylinders = QString("[1, %1, 3]").arg(kCylinder);
    return {
        {"plain", plan(), nullptr},
        {"inline cylinder", plan(kMethod, inlineCylinders), nullptr},
        {"with lab", plan(kMethod, "[1]", "[0, 255]", R"(, "lab": "ЛГК")"), nullptr},
        {"the README's example", readSource("docs/verify-plan.example.json"), nullptr},
        {"not JSON", "{\"method\": ", "не JSON"},
        {"an array", "[]", "нужен объект JSON"},
        {"unknown field", plan(kMethod, "[1]", "[1]", R"(, "colour": "red")"),
         "неизвестное поле \"colour\""},
        {"method without version", plan(R"({"name": "МП"})"), "поле \"method\""},
        {"method version 0", plan(R"({"name": "МП", "version": 0})"), "поле \"method\""},
        {"method version text", plan(R"({"name": "МП", "version": "1"})"), "поле \"method\""},
        {"no cylinders", plan(kMethod, "[]"), "поле \"cylinders\""},
        {"cylinder 0", plan(kMethod, "[0]"), "поле \"cylinders\"[0]"},
        {"cylinder 1.5", plan(kMethod, "[1, 1.5]"), "поле \"cylinders\"[1]"},
        {"cylinder without expiry",
         plan(kMethod,
              QString("[%1]").arg(QString(kCylinder).replace(R"(, "expires": "2027-01-01")", ""))),
         "поле \"cylinders\"[0]: поле \"expires\""},
        {"cylinder in ppm",
         plan(kMethod, QString("[%1]").arg(QString(kCylinder).replace("\"vol\"", "\"ppm\""))),
         "поле \"unit\""},
        {"cylinder with a stray field",
         plan(kMethod, QString("[%1]").arg(QString(kCylinder).replace("{", R"({"colour": 1, )"))),
         "неизвестное поле \"colour\""},
        {"no analyzers", plan(kMethod, "[1]", "[]"), "поле \"analyzers\""},
        {"fifty-one analyzers",
         plan(kMethod, "[1]",
              [] {
                  QStringList n;
                  for (int i = 0; i < 51; ++i) n << QString::number(i);
                  return "[" + n.join(",") + "]";
              }()),
         "от 1 до 50"},
        {"number 256", plan(kMethod, "[1]", "[1, 256]"),
         "поле \"analyzers\"[1]: нужен сетевой номер"},
        {"number twice", plan(kMethod, "[1]", "[3, 4, 3]"),
         "поле \"analyzers\"[2]: номер 3 повторён"},
        {"blank operator", QByteArray(plan()).replace("\"Иванов\"", "\"  \""), "поле \"operator\""},
        {"humidity not text", QByteArray(plan()).replace("\"40 %\"", "40"),
         "поле \"conditions\": поле \"humidity\""},
    };
}

TEST(PlanFile, ParserAndSchemaAgreeOnEveryCase) {
    QTemporaryDir dir;
    const auto all = cases();
    QStringList files;
    for (size_t i = 0; i < all.size(); ++i) {
        const Case& c = all[i];
        ASSERT_FALSE(c.json.isEmpty()) << c.what;
        QString error;
        const auto parsed = parsePlan(c.json, &error);
        if (!c.error) {
            EXPECT_TRUE(parsed) << c.what << ": " << error.toStdString();
        } else {
            EXPECT_FALSE(parsed) << c.what;
            EXPECT_TRUE(error.startsWith("План: ")) << c.what << ": " << error.toStdString();
            EXPECT_TRUE(error.contains(QString::fromUtf8(c.error)))
                << c.what << ": " << error.toStdString();
        }
        files << dir.filePath(QString("plan%1.json").arg(i));
        QFile f(files.back());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(c.json);
    }
    // One run of the reference validator over every case: "ok" or "bad" per file.
    QProcess python;
    python.start("python3", QStringList{"-c", R"(
import json, sys, jsonschema
schema = json.load(open(sys.argv[1], encoding="utf-8"))
jsonschema.Draft202012Validator.check_schema(schema)
for path in sys.argv[2:]:
    try:
        jsonschema.validate(json.load(open(path, encoding="utf-8")), schema,
                            cls=jsonschema.Draft202012Validator)
        print("ok")
    except (ValueError, jsonschema.ValidationError):
        print("bad")
)",
                                        QString(ZTA_SOURCE_DIR) + "/docs/verify-plan.schema.json"} +
                                files);
    ASSERT_TRUE(python.waitForFinished(120000));
    ASSERT_EQ(python.exitCode(), 0)
        << python.readAllStandardError().toStdString() << " (python3-jsonschema is needed)";
    const QStringList verdicts =
        QString::fromUtf8(python.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(verdicts.size(), qsizetype(all.size()));
    for (size_t i = 0; i < all.size(); ++i)
        EXPECT_EQ(verdicts[i], all[i].error ? "bad" : "ok") << all[i].what;
}

TEST(PlanFile, TheReadmeShowsTheExampleThatIsTested) {
    const QString readme = QString::fromUtf8(readSource("README.md"));
    const QString example = QString::fromUtf8(readSource("docs/verify-plan.example.json"));
    ASSERT_FALSE(example.isEmpty());
    EXPECT_TRUE(readme.contains("```json\n" + example + "```\n"));
}

TEST(PlanFile, ResolvingHoldsTheCylindersAgainstTheMethod) {
    QTemporaryDir dir;
    Journal journal;
    QString error;
    ASSERT_TRUE(journal.open(dir.filePath("j.sqlite"), &error));
    Method m = defaultMethod("МП", 1, 100, Unit::Lel);
    ASSERT_TRUE(journal.saveMethod(m));
    Cylinder air;
    air.number = "ВОЗДУХ";
    air.made = Date{year{2026}, month{1}, day{1}};
    air.expires = Date{year{2030}, month{1}, day{1}};
    const qint64 airNumber = *journal.addCylinder(air);
    const Date today{year{2026}, month{12}, day{11}};

    auto resolve = [&](const QString& cylinders, int version = 1) {
        auto p = parsePlan(
            plan(QString(R"({"name": "МП", "version": %1})").arg(version), cylinders), &error);
        EXPECT_TRUE(p) << error.toStdString();
        return p ? resolvePlan(*p, journal, today, &error) : std::nullopt;
    };
    const QString top = QString(kCylinder).replace("2.2", "3.96").replace("Б-1", "Б-2");
    // 0.08 % об. is 1.8 %НКПР: more than a third of the 5 %НКПР limit
    const QString uncertain = QString(kCylinder).replace("0.02", "0.08");
    auto good = resolve(QString("[%1, %2, %3]").arg(airNumber).arg(uncertain, top));
    ASSERT_TRUE(good) << error.toStdString();
    ASSERT_EQ(good->warnings.size(), 1u);
    EXPECT_TRUE(good->warnings[0].contains("больше трети")) << good->warnings[0].toStdString();
    EXPECT_EQ(good->cylinderNumbers[0], airNumber);
    EXPECT_EQ(journal.cylinder(good->cylinderNumbers[2])->number, "Б-2") << "inline is stored";

    struct Refusal {
        QString cylinders;
        int version;
        const char* words;
    } refusals[] = {
        {QString("[%1, %2, %3]").arg(airNumber).arg(kCylinder, top), 2, "версии 2 нет в журнале"},
        {QString("[%1, %2]").arg(airNumber).arg(kCylinder), 1, "баллонов 2, а точек в методике 3"},
        {QString("[%1, 999, %2]").arg(airNumber).arg(top), 1, "баллона с номером 999 нет"},
        {QString("[%1, %2, %2]").arg(airNumber).arg(top), 1, "вне допуска точки 2"},
        {QString("[%1, %2, %3]")
             .arg(airNumber)
             .arg(QString(kCylinder).replace("2027-01-01", "2026-12-10"), top),
         1, "срок годности истёк 2026-12-10"},
        {QString("[%1, %2, %3]")
             .arg(airNumber)
             .arg(QString(kCylinder).replace("\"gas\": 1", "\"gas\": 2"), top),
         1, "газ «Пропан»"},
    };
    for (const Refusal& r : refusals) {
        EXPECT_FALSE(resolve(r.cylinders, r.version)) << r.words;
        EXPECT_TRUE(error.contains(QString::fromUtf8(r.words))) << error.toStdString();
    }
}

}  // namespace
}  // namespace zta::verify
