// SPDX-License-Identifier: GPL-3.0-or-later
#include "verify/models.h"

#include <cmath>
#include <cstdio>

#include "gas/gas_table.h"
#include "verify/texts.h"

namespace zta::verify {

const char* unitText(Unit unit) { return unit == Unit::Lel ? "%НКПР" : "% об."; }

std::optional<double> lowerLimitVolume(int gasCode) {
    const GasInfo* gas = gasByCode(gasCode);
    if (!gas || gas->code == 0) return std::nullopt;
    return lelToVolume(*gas, 100.0);
}

std::optional<double> toLel(double value, Unit unit, int gasCode) {
    if (unit == Unit::Lel) return value;
    auto limit = lowerLimitVolume(gasCode);
    if (!limit) return std::nullopt;
    return value / *limit * 100.0;
}

std::optional<double> fromLel(double lel, Unit unit, int gasCode) {
    if (unit == Unit::Lel) return lel;
    auto limit = lowerLimitVolume(gasCode);
    if (!limit) return std::nullopt;
    return lel * *limit / 100.0;
}

std::optional<double> convert(double value, Unit from, Unit to, int gasCode) {
    if (from == to) return value;
    auto lel = toLel(value, from, gasCode);
    return lel ? fromLel(*lel, to, gasCode) : std::nullopt;
}

std::string dateText(Date date) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", int(date.year()), unsigned(date.month()),
                  unsigned(date.day()));
    return text;
}

double absoluteUncertainty(const Cylinder& cylinder) {
    const double u = std::fabs(cylinder.uncertainty.value);
    return cylinder.uncertainty.relative ? u * std::fabs(cylinder.certified) / 100.0 : u;
}

std::vector<MethodPoint> defaultPoints() {
    return {
        {0.0, 0.0, 5.0, {}, Adjustment::Zero},
        {50.0, 45.0, 55.0, {}, Adjustment::SpanMiddle},
        {90.0, 85.0, 95.0, {}, Adjustment::SpanHigh},
    };
}

Method defaultMethod(const std::string& name, int gasCode, double range, Unit rangeUnit) {
    Method m;
    m.name = name;
    m.gasCode = gasCode;
    m.range = range;
    m.rangeUnit = rangeUnit;
    m.points = defaultPoints();
    return m;
}

double rangeLel(const Method& method) {
    return toLel(method.range, method.rangeUnit, method.gasCode).value_or(0.0);
}

double limitLel(const ErrorLimit& limit, double certifiedLel) {
    return limit.relative ? std::fabs(limit.value * certifiedLel / 100.0) : std::fabs(limit.value);
}

std::vector<std::string> methodProblems(const Method& m) {
    std::vector<std::string> problems;
    if (m.name.empty()) problems.push_back("Методика без названия");
    if (m.version < 1) problems.push_back("Версия методики должна быть не меньше 1");
    if (!lowerLimitVolume(m.gasCode)) problems.push_back("Методика не называет газ");
    if (!(m.range > 0) || !std::isfinite(m.range))
        problems.push_back("Диапазон методики должен быть больше нуля");
    if (m.points.empty()) problems.push_back("В методике нет точек");
    for (size_t i = 0; i < m.points.size(); ++i) {
        const MethodPoint& p = m.points[i];
        const std::string name = "Точка " + std::to_string(i + 1) + ": ";
        if (!(p.spreadLowPercent >= 0 && p.spreadLowPercent <= p.nominalPercent &&
              p.nominalPercent <= p.spreadHighPercent && p.spreadHighPercent <= 100))
            problems.push_back(name + "допуск баллона должен окружать номинал в пределах 0-100 %");
        if (!(p.limit.value > 0) || !std::isfinite(p.limit.value))
            problems.push_back(name + "предел погрешности должен быть больше нуля");
        if (p.limit.relative && p.spreadLowPercent <= 0)
            problems.push_back(name + "относительный предел не годится для нулевого газа");
    }
    if (m.t90Point < 0 || m.t90Point >= int(m.points.size()) || m.t90Point == 0)
        problems.push_back("Время t0,9 измеряется на подъёме к точке после первой");
    if (!(m.t90LimitS > 0)) problems.push_back("Предел t0,9 должен быть больше нуля");
    if (!(m.warmupS >= 0)) problems.push_back("Прогрев не может быть отрицательным");
    if (!(m.settle.bandPercent > 0) || !(m.settle.seconds > 0))
        problems.push_back("Правило установления: изменение и время должны быть больше нуля");
    if (m.averageCount < 1 || m.averageCount > 100)
        problems.push_back("Усредняется от 1 до 100 показаний");
    if (!(m.thresholdToleranceLel >= 0))
        problems.push_back("Допуск порогов не может быть отрицательным");
    if (!(m.settleTimeoutS > m.settle.seconds))
        problems.push_back("Время ожидания установления должно быть больше окна установления");
    return problems;
}

bool sameContent(const Method& a, const Method& b) {
    auto pointsEqual = [](const MethodPoint& x, const MethodPoint& y) {
        return x.nominalPercent == y.nominalPercent && x.spreadLowPercent == y.spreadLowPercent &&
               x.spreadHighPercent == y.spreadHighPercent && x.limit.relative == y.limit.relative &&
               x.limit.value == y.limit.value && x.adjustment == y.adjustment;
    };
    if (a.points.size() != b.points.size()) return false;
    for (size_t i = 0; i < a.points.size(); ++i)
        if (!pointsEqual(a.points[i], b.points[i])) return false;
    return a.name == b.name && a.gasCode == b.gasCode && a.range == b.range &&
           a.rangeUnit == b.rangeUnit && a.t90LimitS == b.t90LimitS && a.t90Point == b.t90Point &&
           a.warmupS == b.warmupS && a.settle.bandPercent == b.settle.bandPercent &&
           a.settle.seconds == b.settle.seconds && a.averageCount == b.averageCount &&
           a.checkThresholds == b.checkThresholds &&
           a.thresholdToleranceLel == b.thresholdToleranceLel &&
           a.adjustmentAllowed == b.adjustmentAllowed && a.settleTimeoutS == b.settleTimeoutS;
}

CylinderCheck checkCylinder(const Cylinder& c, const Method& m, int point, Date today) {
    CylinderCheck check;
    const std::string who = "Баллон № " + c.number + ": ";
    auto refuse = [&](CylinderRefusal why, std::string text) {
        check.refusal = why;
        check.message = who + text;
        return check;
    };
    if (point < 0 || point >= int(m.points.size()))
        return refuse(CylinderRefusal::BadPoint,
                      "в методике нет точки " + std::to_string(point + 1));
    if (!c.expires.ok() || c.expires < today)
        return refuse(CylinderRefusal::Expired, "срок годности истёк " + dateText(c.expires));
    const MethodPoint& p = m.points[point];
    // Zero gas or clean air stands for any gas; a cylinder of some gas only for its own.
    const bool zeroGas = c.gasCode == 0;
    if (!zeroGas && c.gasCode != m.gasCode) {
        const GasInfo* own = gasByCode(c.gasCode);
        const GasInfo* wanted = gasByCode(m.gasCode);
        return refuse(CylinderRefusal::OtherGas, std::string("газ «") + (own ? own->name : "?") +
                                                     "», методика для «" +
                                                     (wanted ? wanted->name : "?") + "»");
    }
    const auto inRange = convert(c.certified, c.unit, m.rangeUnit, m.gasCode);
    const double percent = inRange && m.range > 0 ? *inRange / m.range * 100.0 : NAN;
    constexpr double kSlack = 1e-9;
    if (!std::isfinite(percent) || (zeroGas && c.certified != 0.0) ||
        percent < p.spreadLowPercent - kSlack || percent > p.spreadHighPercent + kSlack)
        return refuse(CylinderRefusal::OutsideSpread,
                      number(c.certified, 3) + " " + unitText(c.unit) + " вне допуска точки " +
                          std::to_string(point + 1) + " (" + number(p.spreadLowPercent, 1) + "-" +
                          number(p.spreadHighPercent, 1) + " % диапазона)");
    const double certifiedLel = toLel(c.certified, c.unit, m.gasCode).value_or(0.0);
    const double uLel = toLel(absoluteUncertainty(c), c.unit, m.gasCode).value_or(0.0);
    const double limit = limitLel(p.limit, certifiedLel);
    if (uLel > limit / 3.0 + kSlack) {
        check.uncertaintyWarning = true;
        check.message = who + "неопределённость " + number(uLel, 2) +
                        " %НКПР больше трети предела погрешности точки " +
                        std::to_string(point + 1) + " (" + number(limit, 2) + " %НКПР)";
    }
    return check;
}

}  // namespace zta::verify
