// SPDX-License-Identifier: GPL-3.0-or-later
#include "verify/plan.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <cmath>

#include "verify/records_json.h"

namespace zta::verify {

namespace {

bool refuse(QString* error, const QString& text) {
    *error = "План: " + text;
    return false;
}

bool text(const QJsonObject& o, const char* key, bool required, QString* out, QString* error) {
    const QJsonValue v = o.value(key);
    if (v.isUndefined() && !required) return true;
    if (!v.isString() || (required && v.toString().trimmed().isEmpty()))
        return refuse(error, QStringLiteral("поле \"%1\": нужна непустая строка").arg(key));
    *out = v.toString();
    return true;
}

bool wholeNumber(const QJsonValue& v, double lo, double hi, double* out) {
    const double d = v.toDouble(NAN);
    if (!v.isDouble() || d != std::floor(d) || d < lo || d > hi) return false;
    *out = d;
    return true;
}

}  // namespace

std::optional<Plan> parsePlan(const QByteArray& bytes, QString* error) {
    if (bytes.size() > kMaxPlanBytes) {
        refuse(error, QStringLiteral("файл больше %1 байт").arg(kMaxPlanBytes));
        return std::nullopt;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        refuse(error, QStringLiteral("не JSON (%1, байт %2)")
                          .arg(parseError.errorString())
                          .arg(parseError.offset));
        return std::nullopt;
    }
    if (!doc.isObject()) {
        refuse(error, "нужен объект JSON");
        return std::nullopt;
    }
    const QJsonObject o = doc.object();
    static const QSet<QString> known = {"method",   "cylinders",  "analyzers",
                                        "operator", "conditions", "lab"};
    for (const QString& key : o.keys())
        if (!known.contains(key)) {
            refuse(error, QStringLiteral("неизвестное поле \"%1\"").arg(key));
            return std::nullopt;
        }
    Plan plan;

    const QJsonObject method = o.value("method").toObject();
    const QJsonValue name = method.value("name");
    double version = 0;
    if (!o.value("method").isObject() || method.size() != 2 || !name.isString() ||
        name.toString().trimmed().isEmpty() ||
        !wholeNumber(method.value("version"), 1, 1e6, &version)) {
        refuse(error, "поле \"method\": нужен объект {\"name\": строка, \"version\": целое от 1}");
        return std::nullopt;
    }
    plan.methodName = name.toString();
    plan.methodVersion = int(version);

    const QJsonValue cylinders = o.value("cylinders");
    if (!cylinders.isArray() || cylinders.toArray().isEmpty()) {
        refuse(error, "поле \"cylinders\": нужен массив, по баллону на точку");
        return std::nullopt;
    }
    int index = 0;
    for (const QJsonValue& v : cylinders.toArray()) {
        const QString where = QStringLiteral("поле \"cylinders\"[%1]: ").arg(index++);
        double number = 0;
        if (wholeNumber(v, 1, 9e15, &number)) {
            plan.cylinders.push_back({qint64(number), {}});
        } else if (v.isObject()) {
            static const QSet<QString> fields = {
                "number",      "gas",  "certified", "unit", "uncertainty", "uncertaintyRelative",
                "certificate", "made", "expires"};
            for (const QString& key : v.toObject().keys())
                if (!fields.contains(key)) {
                    refuse(error, where + QStringLiteral("неизвестное поле \"%1\"").arg(key));
                    return std::nullopt;
                }
            QString why;
            auto c = cylinderFromJson(v.toObject(), &why);
            if (!c) {
                refuse(error, where + why);
                return std::nullopt;
            }
            plan.cylinders.push_back({0, *c});
        } else {
            refuse(error, where + "нужен номер баллона в журнале (целое от 1) или его данные");
            return std::nullopt;
        }
    }

    const QJsonValue analyzers = o.value("analyzers");
    if (!analyzers.isArray() || analyzers.toArray().isEmpty() ||
        analyzers.toArray().size() > kMaxBatch) {
        refuse(error, QStringLiteral("поле \"analyzers\": нужен массив от 1 до %1 сетевых номеров")
                          .arg(kMaxBatch));
        return std::nullopt;
    }
    index = 0;
    for (const QJsonValue& v : analyzers.toArray()) {
        double n = 0;
        const QString where = QStringLiteral("поле \"analyzers\"[%1]: ").arg(index++);
        if (!wholeNumber(v, 0, 255, &n)) {
            refuse(error, where + "нужен сетевой номер 0-255");
            return std::nullopt;
        }
        if (std::find(plan.networkNumbers.begin(), plan.networkNumbers.end(), int(n)) !=
            plan.networkNumbers.end()) {
            refuse(error, where + QStringLiteral("номер %1 повторён").arg(int(n)));
            return std::nullopt;
        }
        plan.networkNumbers.push_back(int(n));
    }

    if (!text(o, "operator", true, &plan.conditions.operatorName, error)) return std::nullopt;
    if (!text(o, "lab", false, &plan.lab, error)) return std::nullopt;
    const QJsonValue conditions = o.value("conditions");
    if (!conditions.isObject()) {
        refuse(error, "поле \"conditions\": нужен объект с temperature, pressure, humidity");
        return std::nullopt;
    }
    const QJsonObject c = conditions.toObject();
    for (const QString& key : c.keys())
        if (key != "temperature" && key != "pressure" && key != "humidity") {
            refuse(error, QStringLiteral("поле \"conditions\": неизвестное поле \"%1\"").arg(key));
            return std::nullopt;
        }
    if (!text(c, "temperature", true, &plan.conditions.temperature, error) ||
        !text(c, "pressure", true, &plan.conditions.pressure, error) ||
        !text(c, "humidity", true, &plan.conditions.humidity, error)) {
        error->replace("План: поле", "План: поле \"conditions\": поле");
        return std::nullopt;
    }
    return plan;
}

std::optional<ResolvedPlan> resolvePlan(const Plan& plan, Journal& journal, Date today,
                                        QString* error) {
    ResolvedPlan r;
    auto method = journal.method(plan.methodName, plan.methodVersion);
    if (!method) {
        refuse(error, QStringLiteral("методики \"%1\" версии %2 нет в журнале")
                          .arg(plan.methodName)
                          .arg(plan.methodVersion));
        return std::nullopt;
    }
    r.method = *method;
    if (plan.cylinders.size() != r.method.points.size()) {
        refuse(error, QStringLiteral("баллонов %1, а точек в методике %2")
                          .arg(plan.cylinders.size())
                          .arg(r.method.points.size()));
        return std::nullopt;
    }
    for (size_t i = 0; i < plan.cylinders.size(); ++i) {
        std::optional<Cylinder> c;
        std::optional<qint64> number;
        if (const qint64 n = plan.cylinders[i].journalNumber) {
            number = n;
            c = journal.cylinder(n);
            if (!c) {
                refuse(error, QStringLiteral("баллона с номером %1 нет в журнале").arg(n));
                return std::nullopt;
            }
        } else {
            c = plan.cylinders[i].data;
        }
        const CylinderCheck check = checkCylinder(*c, r.method, int(i), today);
        if (check.refusal != CylinderRefusal::None) {
            refuse(error, QString::fromStdString(check.message));
            return std::nullopt;
        }
        if (check.uncertaintyWarning) r.warnings.push_back(QString::fromStdString(check.message));
        // Only a cylinder that passed is stored: the journal keeps what was used.
        if (!number) number = journal.addCylinder(*c);
        if (!number) {
            *error = journal.lastError();
            return std::nullopt;
        }
        r.cylinders.push_back(*c);
        r.cylinderNumbers.push_back(*number);
    }
    return r;
}

}  // namespace zta::verify
