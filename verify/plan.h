// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The plan of a verification run from a file (`zta-bus verify --plan FILE.json`): which method,
// which cylinder at each point, which analyzers, who and in what conditions. Parsing is plain
// JSON with clear refusals; resolving holds the plan against the journal and the method.

#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

#include "verify/journal.h"
#include "verify/models.h"

namespace zta::verify {

struct Plan {
    QString methodName;
    int methodVersion = 0;
    // Per point: a cylinder's journal number, or (number 0) its data given inline.
    struct PointCylinder {
        qint64 journalNumber = 0;
        Cylinder data;
    };
    std::vector<PointCylinder> cylinders;
    std::vector<int> networkNumbers;
    Conditions conditions;
    QString lab;
};

inline constexpr int kMaxPlanBytes = 1 << 20;
inline constexpr int kMaxBatch = 50;

// Nothing, with *error naming the place ("План: поле \"analyzers\"[2]: ..."), for anything
// that is not a whole, sensible plan.
std::optional<Plan> parsePlan(const QByteArray& bytes, QString* error);

struct ResolvedPlan {
    Method method;
    std::vector<Cylinder> cylinders;
    std::vector<qint64> cylinderNumbers;  // journal numbers, inline ones stored
    std::vector<QString> warnings;
};
// Takes the method and cylinders from the journal, stores inline cylinders, and refuses a
// cylinder that does not fit its point on `today`.
std::optional<ResolvedPlan> resolvePlan(const Plan& plan, Journal& journal, Date today,
                                        QString* error);

}  // namespace zta::verify
