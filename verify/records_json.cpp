// SPDX-License-Identifier: GPL-3.0-or-later
#include "verify/records_json.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <cmath>

namespace zta::verify {

namespace {

// Reads the fields of one object, remembering the first that is wrong.
class Fields {
  public:
    Fields(const QJsonObject& object, QString* error) : object_(object), error_(error) {}
    bool ok() const { return ok_; }

    double number(const char* key, std::optional<double> fallback = std::nullopt) {
        const QJsonValue v = object_.value(key);
        if (v.isUndefined() && fallback) return *fallback;
        if (!v.isDouble() || !std::isfinite(v.toDouble())) return fail(key, "число"), 0.0;
        return v.toDouble();
    }
    int integer(const char* key, std::optional<int> fallback = std::nullopt) {
        const QJsonValue v = object_.value(key);
        if (v.isUndefined() && fallback) return *fallback;
        const double d = v.toDouble(NAN);
        if (!v.isDouble() || d != std::floor(d) || std::fabs(d) > 1e9)
            return fail(key, "целое число"), 0;
        return int(d);
    }
    bool boolean(const char* key, std::optional<bool> fallback = std::nullopt) {
        const QJsonValue v = object_.value(key);
        if (v.isUndefined() && fallback) return *fallback;
        if (!v.isBool()) return fail(key, "true или false"), false;
        return v.toBool();
    }
    std::string text(const char* key, std::optional<std::string> fallback = std::nullopt) {
        const QJsonValue v = object_.value(key);
        if (v.isUndefined() && fallback) return *fallback;
        if (!v.isString()) return fail(key, "строка"), std::string();
        return v.toString().toStdString();
    }
    Unit unit(const char* key, std::optional<Unit> fallback = std::nullopt) {
        const QJsonValue v = object_.value(key);
        if (v.isUndefined() && fallback) return *fallback;
        auto u = unitFromKey(v.toString());
        if (!u) return fail(key, "\"vol\" или \"lel\""), Unit::Lel;
        return *u;
    }
    Date date(const char* key) {
        auto d = dateFromText(object_.value(key).toString());
        if (!d) return fail(key, "дата ГГГГ-ММ-ДД"), Date{};
        return *d;
    }
    std::optional<double> optionalNumber(const char* key) {
        const QJsonValue v = object_.value(key);
        if (v.isUndefined() || v.isNull()) return std::nullopt;
        return number(key);
    }
    void fail(const char* key, const char* wanted) {
        if (!ok_) return;
        ok_ = false;
        *error_ = QStringLiteral("поле \"%1\": нужно %2").arg(key, QString::fromUtf8(wanted));
    }
    void failText(const QString& text) {
        if (!ok_) return;
        ok_ = false;
        *error_ = text;
    }

  private:
    const QJsonObject& object_;
    QString* error_;
    bool ok_ = true;
};

QJsonValue optional(const std::optional<double>& v) { return v ? QJsonValue(*v) : QJsonValue(); }

}  // namespace

QString unitKey(Unit unit) { return unit == Unit::Lel ? "lel" : "vol"; }

std::optional<Unit> unitFromKey(const QString& key) {
    if (key == "lel") return Unit::Lel;
    if (key == "vol") return Unit::VolumePercent;
    return std::nullopt;
}

std::optional<Date> dateFromText(const QString& text) {
    static const QRegularExpression form(R"(^(\d{4})-(\d{2})-(\d{2})$)");
    const auto m = form.match(text);
    if (!m.hasMatch()) return std::nullopt;
    const Date d{std::chrono::year{m.captured(1).toInt()},
                 std::chrono::month{unsigned(m.captured(2).toInt())},
                 std::chrono::day{unsigned(m.captured(3).toInt())}};
    if (!d.ok()) return std::nullopt;
    return d;
}

QJsonObject toJson(const Cylinder& c) {
    return {{"number", QString::fromStdString(c.number)},
            {"gas", c.gasCode},
            {"certified", c.certified},
            {"unit", unitKey(c.unit)},
            {"uncertainty", c.uncertainty.value},
            {"uncertaintyRelative", c.uncertainty.relative},
            {"certificate", QString::fromStdString(c.certificate)},
            {"made", QString::fromStdString(dateText(c.made))},
            {"expires", QString::fromStdString(dateText(c.expires))}};
}

std::optional<Cylinder> cylinderFromJson(const QJsonObject& o, QString* error) {
    Fields f(o, error);
    Cylinder c;
    c.number = f.text("number");
    c.gasCode = f.integer("gas");
    c.certified = f.number("certified");
    c.unit = f.unit("unit");
    c.uncertainty.value = f.number("uncertainty");
    c.uncertainty.relative = f.boolean("uncertaintyRelative", false);
    c.certificate = f.text("certificate");
    c.made = f.date("made");
    c.expires = f.date("expires");
    if (f.ok() && c.number.empty()) f.failText("поле \"number\": номер баллона пуст");
    if (f.ok() && (c.gasCode < 0 || c.gasCode > 8)) f.fail("gas", "код газа 0-8");
    if (f.ok() && (c.certified < 0 || c.uncertainty.value < 0))
        f.failText("концентрация и неопределённость не могут быть отрицательными");
    if (!f.ok()) return std::nullopt;
    return c;
}

QJsonObject toJson(const Method& m) {
    QJsonArray points;
    for (const MethodPoint& p : m.points)
        points.append(QJsonObject{{"nominal", p.nominalPercent},
                                  {"spreadLow", p.spreadLowPercent},
                                  {"spreadHigh", p.spreadHighPercent},
                                  {"limit", p.limit.value},
                                  {"limitRelative", p.limit.relative},
                                  {"adjustment", int(p.adjustment)}});
    return {{"name", QString::fromStdString(m.name)},
            {"version", m.version},
            {"gas", m.gasCode},
            {"range", m.range},
            {"rangeUnit", unitKey(m.rangeUnit)},
            {"points", points},
            {"t90Limit", m.t90LimitS},
            {"t90Point", m.t90Point},
            {"warmup", m.warmupS},
            {"settleBand", m.settle.bandPercent},
            {"settleSeconds", m.settle.seconds},
            {"average", m.averageCount},
            {"checkThresholds", m.checkThresholds},
            {"thresholdTolerance", m.thresholdToleranceLel},
            {"adjustmentAllowed", m.adjustmentAllowed},
            {"settleTimeout", m.settleTimeoutS}};
}

std::optional<Method> methodFromJson(const QJsonObject& o, QString* error) {
    Fields f(o, error);
    Method m;
    const Method d;
    m.name = f.text("name");
    m.version = f.integer("version", 1);
    m.gasCode = f.integer("gas");
    m.range = f.number("range");
    m.rangeUnit = f.unit("rangeUnit", Unit::Lel);
    m.t90LimitS = f.number("t90Limit", d.t90LimitS);
    m.t90Point = f.integer("t90Point", d.t90Point);
    m.warmupS = f.number("warmup", d.warmupS);
    m.settle.bandPercent = f.number("settleBand", d.settle.bandPercent);
    m.settle.seconds = f.number("settleSeconds", d.settle.seconds);
    m.averageCount = f.integer("average", d.averageCount);
    m.checkThresholds = f.boolean("checkThresholds", d.checkThresholds);
    m.thresholdToleranceLel = f.number("thresholdTolerance", d.thresholdToleranceLel);
    m.adjustmentAllowed = f.boolean("adjustmentAllowed", d.adjustmentAllowed);
    m.settleTimeoutS = f.number("settleTimeout", d.settleTimeoutS);
    if (!o.contains("points")) {
        m.points = defaultPoints();
    } else if (!o.value("points").isArray()) {
        f.fail("points", "массив точек");
    } else {
        for (const QJsonValue& v : o.value("points").toArray()) {
            if (!v.isObject()) {
                f.fail("points", "массив объектов");
                break;
            }
            const QJsonObject po = v.toObject();
            Fields pf(po, error);
            MethodPoint p;
            p.nominalPercent = pf.number("nominal");
            p.spreadLowPercent = pf.number("spreadLow");
            p.spreadHighPercent = pf.number("spreadHigh");
            p.limit.value = pf.number("limit", 5.0);
            p.limit.relative = pf.boolean("limitRelative", false);
            const int a = pf.integer("adjustment", 0);
            if (pf.ok() && (a < 0 || a > 3)) pf.fail("adjustment", "0-3");
            p.adjustment = Adjustment(a);
            if (!pf.ok()) return std::nullopt;
            m.points.push_back(p);
        }
    }
    if (!f.ok()) return std::nullopt;
    const auto problems = methodProblems(m);
    if (!problems.empty()) {
        *error = QString::fromStdString(problems.front());
        return std::nullopt;
    }
    return m;
}

QJsonObject toJson(const AnalyzerInfo& a) {
    return {{"id", double(a.id)},
            {"factoryNumber", a.factoryNumber},
            {"networkNumber", a.networkNumber},
            {"gas", a.gasCode},
            {"unit", unitKey(a.unit)},
            {"range", a.range},
            {"softwareVersion", QString::fromStdString(a.softwareVersion)},
            {"softwareId", QString::fromStdString(a.softwareId)},
            {"threshold1", a.threshold1},
            {"threshold2", a.threshold2}};
}

std::optional<AnalyzerInfo> analyzerFromJson(const QJsonObject& o, QString* error) {
    Fields f(o, error);
    AnalyzerInfo a;
    a.id = AnalyzerId(f.number("id"));
    a.factoryNumber = f.integer("factoryNumber");
    a.networkNumber = f.integer("networkNumber");
    a.gasCode = f.integer("gas");
    a.unit = f.unit("unit");
    a.range = f.number("range");
    a.softwareVersion = f.text("softwareVersion", "");
    a.softwareId = f.text("softwareId", "");
    a.threshold1 = f.integer("threshold1", 0);
    a.threshold2 = f.integer("threshold2", 0);
    if (!f.ok()) return std::nullopt;
    return a;
}

QJsonObject toJson(const PointResult& r) {
    QJsonArray readings;
    for (double v : r.readings) readings.append(v);
    return {{"point", r.point},
            {"after", r.afterAdjustment},
            {"status", int(r.status)},
            {"appliedAt", r.appliedAt},
            {"certifiedLel", r.certifiedLel},
            {"readings", readings},
            {"averageLel", r.averageLel},
            {"averageUnit", r.averageUnit},
            {"errorLel", r.error.errorLel},
            {"errorUnit", r.error.errorUnit},
            {"limitLel", r.error.limitLel},
            {"pass", r.error.pass},
            {"t90", optional(r.t90)},
            {"relay1Trip", optional(r.relay1Trip)},
            {"relay2Trip", optional(r.relay2Trip)},
            {"relay1Seen", r.relay1Seen},
            {"relay2Seen", r.relay2Seen}};
}

std::optional<PointResult> resultFromJson(const QJsonObject& o, QString* error) {
    Fields f(o, error);
    PointResult r;
    r.point = f.integer("point");
    r.afterAdjustment = f.boolean("after");
    const int status = f.integer("status");
    if (f.ok() && (status < 0 || status > 2)) f.fail("status", "0-2");
    r.status = PointStatus(status);
    r.appliedAt = f.number("appliedAt");
    r.certifiedLel = f.optionalNumber("certifiedLel").value_or(NAN);
    if (o.value("readings").isArray())
        for (const QJsonValue& v : o.value("readings").toArray())
            r.readings.push_back(v.toDouble());
    r.averageLel = f.number("averageLel");
    r.averageUnit = f.optionalNumber("averageUnit").value_or(NAN);
    r.error.errorLel = f.number("errorLel");
    r.error.errorUnit = f.optionalNumber("errorUnit").value_or(NAN);
    r.error.limitLel = f.number("limitLel");
    r.error.pass = f.boolean("pass");
    r.t90 = f.optionalNumber("t90");
    r.relay1Trip = f.optionalNumber("relay1Trip");
    r.relay2Trip = f.optionalNumber("relay2Trip");
    r.relay1Seen = f.boolean("relay1Seen", false);
    r.relay2Seen = f.boolean("relay2Seen", false);
    if (!f.ok()) return std::nullopt;
    return r;
}

}  // namespace zta::verify
