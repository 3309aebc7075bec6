// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A base for fake ports that only script opening, writing and reading: the line's other calls
// do nothing and the device never vanishes.
#include "link/serial_port.h"

namespace zta::testing {

class QuietPort : public SerialPort {
  public:
    void purge() override {}
    void drain() override {}
    void setRts(bool) override {}
    void close() override {}
    bool vanished() const override { return false; }
};

}  // namespace zta::testing
