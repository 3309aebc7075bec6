// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes as a verification plan. A refusal says why; a plan that is taken is whole: a
// method, a cylinder per point, one to fifty distinct network numbers, an operator.
#include <QByteArray>
#include <algorithm>
#include <cstdint>

#include "verify/plan.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray file(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QString error;
    const auto plan = zta::verify::parsePlan(file, &error);
    if (!plan) {
        if (!error.startsWith("План: ")) __builtin_trap();
        return 0;
    }
    std::vector<int> numbers = plan->networkNumbers;
    std::sort(numbers.begin(), numbers.end());
    if (numbers.empty() || numbers.size() > 50 || numbers.front() < 0 || numbers.back() > 255 ||
        std::adjacent_find(numbers.begin(), numbers.end()) != numbers.end())
        __builtin_trap();
    if (plan->cylinders.empty() || plan->methodVersion < 1 ||
        plan->methodName.trimmed().isEmpty() || plan->conditions.operatorName.trimmed().isEmpty())
        __builtin_trap();
    return 0;
}
