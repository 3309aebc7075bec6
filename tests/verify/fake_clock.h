// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "verify/procedure.h"

namespace zta::verify {

// Time as the test sets it.
class FakeClock : public Clock {
  public:
    double now() const override { return t; }
    double t = 0.0;
};

}  // namespace zta::verify
