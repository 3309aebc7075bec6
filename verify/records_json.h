// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Cylinders, methods and results as JSON objects: the journal stores them so, and a plan file
// gives them so. Reading checks every field and says which one is wrong.

#include <QJsonObject>
#include <QString>
#include <optional>

#include "verify/models.h"
#include "verify/procedure.h"

namespace zta::verify {

QString unitKey(Unit unit);  // "vol" or "lel"
std::optional<Unit> unitFromKey(const QString& key);
std::optional<Date> dateFromText(const QString& text);  // "YYYY-MM-DD", a real date

QJsonObject toJson(const Cylinder& cylinder);
// Nothing, with *error naming the field, when a field is missing or of the wrong kind.
std::optional<Cylinder> cylinderFromJson(const QJsonObject& object, QString* error);

QJsonObject toJson(const Method& method);
std::optional<Method> methodFromJson(const QJsonObject& object, QString* error);

QJsonObject toJson(const AnalyzerInfo& analyzer);
std::optional<AnalyzerInfo> analyzerFromJson(const QJsonObject& object, QString* error);

QJsonObject toJson(const PointResult& result);
std::optional<PointResult> resultFromJson(const QJsonObject& object, QString* error);

}  // namespace zta::verify
