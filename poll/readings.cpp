// SPDX-License-Identifier: GPL-3.0-or-later
#include "poll/readings.h"

namespace zta {

void Readings::clearReported() {
    static_cast<ReplyReadings&>(*this) = ReplyReadings{};
    gasCode = 0;
}

}  // namespace zta
